"""quarn table: spreadsheets as they come, exact grids, outputs replaced whole or
not at all, signals and closed streams."""

import csv
import hashlib
import io
import itertools
import os
import random
import signal
import subprocess
import sys
import time
from fractions import Fraction

import numpy as np
import pytest

import quarn
from quarn import table

HEADER = "T_C,P_bar,x_CO2,wt_NaCl"
RESULTS = ["phi_CO2", "phi_H2O", "phi_NaCl", "f_CO2", "f_H2O", "f_NaCl", "Z", "V", "rho", "fault",
           "in_range"]
OLD = b"the previous table\n"


def quarn_command(*args, **popen):
    return subprocess.Popen([sys.executable, "-m", "quarn", *args], stderr=subprocess.PIPE,
                            **popen)


def run_table(capsys, tmp_path, *args):
    """Runs quarn table in this process over an output that exists already;
    returns the status, what it said, and the output's rows (None where it was
    left as it was)."""
    out = tmp_path / "out.csv"
    out.write_bytes(OLD)
    status = table.main([*args, "-o", str(out)])
    said = capsys.readouterr().err
    assert [p.name for p in tmp_path.iterdir() if p.name.endswith(".part")] == []
    content = out.read_bytes()
    if content == OLD:
        return status, said, None
    return status, said, list(csv.reader(io.StringIO(content.decode("utf-8", "surrogateescape"),
                                                     newline="")))


# Each case: the input's bytes; then either the output's rows as (carried
# fields, fault), "" for a row with numbers, or the words of the one-line error.
CSV_CASES = [
    ("byte-order mark, CR LF", b"\xef\xbb\xbf" + f"{HEADER}\r\n500,2000,0.1,10\r\n".encode(),
     [(["500", "2000", "0.1", "10"], "")]),
    ("blank and all-empty rows", f"{HEADER}\n\n500,2000,0.1,10\n,,,\n  , ,,\n500,2000,0.2,10\n".encode(),
     [(["500", "2000", "0.1", "10"], ""), (["500", "2000", "0.2", "10"], "")]),
    ("an empty cell", f"{HEADER}\n500,2000,0.1,10\n500,,0.1,10\n".encode(),
     [(["500", "2000", "0.1", "10"], ""), (["500", "", "0.1", "10"], "line 3: P_bar is empty")]),
    ("text in a number column", f"{HEADER}\n500,abc,0.1,10\n".encode(),
     [(["500", "abc", "0.1", "10"], "line 2: P_bar 'abc' is not a number (decimal digits 0-9 "
                                     "only)")]),
    ("numbers Python would take, a CSV cell would not",
     f"{HEADER}\n500,2000,1_000,10\n500,2000,0.1,\u0661\u0660\n".encode(),
     [(["500", "2000", "1_000", "10"], "line 2: x_CO2 '1_000' is not a number (decimal digits "
                                       "0-9 only)"),
      (["500", "2000", "0.1", "\u0661\u0660"], "line 3: wt_NaCl '\u0661\u0660' is not a number "
                                              "(decimal digits 0-9 only)")]),
    ("an unclosed quote", f'{HEADER},note\n500,2000,0.1,10,a\n500,2000,0.2,10,"inclusion 2\n'
     f'500,2000,0.3,10,c\n'.encode(),
     "line 3: a quote opened in this row is never closed"),
    ("not finite", f"{HEADER}\nnan,2000,0.1,10\n500,2000,inf,10\n".encode(),
     [(["nan", "2000", "0.1", "10"], "line 2: T_C 'nan' is not a finite number"),
      (["500", "2000", "inf", "10"], "line 3: x_CO2 'inf' is not a finite number")]),
    ("a trailing comma on every line", f"{HEADER},\n500,2000,0.1,10,\n".encode(),
     [(["500", "2000", "0.1", "10", ""], "")]),
    ("a trailing comma on the rows only", f"{HEADER}\n500,2000,0.1,10,\n".encode(),
     [(["500", "2000", "0.1", "10"], "")]),
    ("a short row", f"{HEADER}\n500,2000,0.1\n".encode(),
     [(["500", "2000", "0.1", ""], "line 2: wt_NaCl is empty")]),
    ("a long row", f"{HEADER}\n500,2000,0.1,10,7\n".encode(),
     [(["500", "2000", "0.1", "10"], "line 2: 5 fields where the header has 4")]),
    ("quoted fields carried exactly",
     f'sample,{HEADER}\n"A, ""rim""\nsecond line",500,2000,0.1,10\nB,500,x,0.1,10\n'.encode(),
     [(['A, "rim"\nsecond line', "500", "2000", "0.1", "10"], ""),
      (["B", "500", "x", "0.1", "10"], "line 4: P_bar 'x' is not a number (decimal digits 0-9 "
                                       "only)")]),
    ("bytes that are no UTF-8 carried back", f"note,{HEADER}\n".encode() + b"50\xb0C,500,2000,0.1,10\n",
     [(["50\udcb0C", "500", "2000", "0.1", "10"], "")]),
    ("a quoted header", f'"T_C",P_bar,x_CO2,"wt_NaCl","a, b"\n500,2000,0.1,10,c\n'.encode(),
     [(["500", "2000", "0.1", "10", "c"], "")]),
    ("duplicate names", b"T_C,P_bar,x_CO2,wt_NaCl,T_C\n1,2,3,4,5\n",
     "the column name 'T_C' stands twice (columns 1 and 5)"),
    ("a table of results already", f"{HEADER},phi_CO2,fault\n".encode(),
     "the file has result columns already (phi_CO2, fault)"),
    ("missing columns", b"T_C,P_bar,x_CO2\n500,2000,0.1\n", "no column x_H2O, x_NaCl"),
    ("empty", b"\n\n", "the file is empty"),
    ("UTF-16", "T_C,P_bar\n".encode("utf-16"), "is UTF-16 text, not CSV text"),
    ("an .xlsx workbook", b"PK\x03\x04\x14\x00\x06\x00", "is a zip archive, such as an .xlsx"),
    ("an .xls workbook", b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1\x00", "is an .xls workbook"),
]


@pytest.mark.parametrize("content, expected", [c[1:] for c in CSV_CASES],
                         ids=[c[0] for c in CSV_CASES])
def test_spreadsheet_csv(capsys, tmp_path, content, expected):
    source = tmp_path / "in.csv"
    source.write_bytes(content)
    status, said, rows = run_table(capsys, tmp_path, str(source))
    if isinstance(expected, str):
        assert (status, rows) == (2, None)
        assert said.count("\n") == 1 and said.startswith("quarn table: ") and expected in said
        return
    assert (status, said) == (0, "")
    header, *rows = rows
    assert header[-len(RESULTS):] == RESULTS
    width = len(header) - len(RESULTS)
    assert [(r[:width], r[-2]) for r in rows] == expected
    for row in rows:  # numbers exactly where the row could be read, nothing where not
        assert all(row[width:-2]) and row[-1] == "true" if not row[-2] else not any(row[width:-2] + row[-1:])


def test_grid_rows_match_the_points_and_the_model(capsys, tmp_path, monkeypatch):
    # Chunks far smaller than the grid, so that every chunk boundary falls
    # inside the axes' and the (x_CO2, wt_NaCl) pairs' cycles.
    monkeypatch.setattr(table, "CHUNK", 7)
    axes = {"--T": "400:500:50", "--P": "1000,3000", "--x-CO2": "0.1:0.4:0.1",
            "--wt-NaCl": "0:20:5"}
    status, said, rows = run_table(capsys, tmp_path, *itertools.chain(*axes.items()))
    assert (status, said) == (0, "")
    header, *rows = rows
    decimals = [[Fraction(400 + 50 * k) for k in range(3)], [Fraction(1000), Fraction(3000)],
                [Fraction(k, 10) for k in range(1, 5)], [Fraction(5 * k) for k in range(5)]]
    points = list(itertools.product(*decimals))
    assert len(rows) == len(points) == 120
    T, P, x, w = (np.array([float(p[k]) for p in points]) for k in range(4))
    fractions = quarn.mole_fractions(x, w)
    r = quarn.fugacity(T, P, *fractions)
    columns = {name: np.array([float(row[k]) for row in rows]) for k, name in enumerate(header[:-2])}
    for name, expected in [("T_C", T), ("P_bar", P), ("x_CO2", x), ("wt_NaCl", w),
                           ("x_H2O", fractions[1]), ("x_NaCl", fractions[2]),
                           ("phi_NaCl", r.phi_NaCl), ("f_H2O", r.f_H2O), ("V", r.V)]:
        np.testing.assert_array_equal(columns[name], expected, err_msg=name)


# Each case: grid options, and the x_CO2 column's exact decimals or the error's words.
ONE_POINT = {"--T": "500", "--P": "2000", "--x-CO2": "0.1", "--wt-NaCl": "10"}
GRID_CASES = [
    ({"--x-CO2": "0:1:0.05"}, [Fraction(k, 20) for k in range(21)]),
    ({"--x-CO2": "0.3:0.1:-0.1"}, [Fraction(3, 10), Fraction(2, 10), Fraction(1, 10)]),
    ({"--x-CO2": "0:1:0.125"}, [Fraction(k, 8) for k in range(9)]),
    ({"--x-CO2": "0.7:0.7:1"}, [Fraction(7, 10)]),
    ({"--x-CO2": "1e-1,2E-1"}, [Fraction(1, 10), Fraction(2, 10)]),
    ({"--x-CO2": "0.1:0.30000001:0.1"}, [Fraction(1, 10), Fraction(2, 10), Fraction(3, 10)]),
    ({"--x-CO2": "0:1:0"}, "--x-CO2: the step of '0:1:0' is zero"),
    ({"--T": "600:350:50"}, "--T: the step of '600:350:50' goes away from its stop"),
    ({"--T": "0:inf:1"}, "'inf' in '0:inf:1' is not a finite number"),
    ({"--T": "0:1:inf"}, "'inf' in '0:1:inf' is not a finite number"),
    ({"--P": "0:1:nan"}, "'nan' in '0:1:nan' is not a finite number"),
    ({"--P": "500,nan"}, "'nan' in '500,nan' is not a finite number"),
    ({"--T": "1e400"}, "'1e400' in '1e400' is not a finite number"),
    ({"--T": "abc"}, "--T: 'abc' is not a value, a list a,b,c or a range start:stop:step"),
    ({"--T": "1:2:3:4"}, "--T: '1:2:3:4' is not a value"),
    ({"--T": "0:1e12:1"}, "the grid has 1,000,000,000,001 points, more than the 1,000,000,000"),
    ({"--T": "0:4294967295:1", "--P": "0:4294967295:1"}, "18,446,744,073,709,551,616 points"),
    ({"--T": "0:10:1", "--max-points": "10"}, "the grid has 11 points, more than the 10 allowed"),
    ({"--T": "0:1e300:1e-300"}, "the grid has about 10^600 points, more than the 1,000,000,000"),
]


@pytest.mark.parametrize("options, expected", GRID_CASES)
def test_grid_options(capsys, tmp_path, options, expected):
    args = {**ONE_POINT, **options}
    status, said, rows = run_table(capsys, tmp_path, *itertools.chain(*args.items()))
    if isinstance(expected, str):
        assert (status, rows) == (2, None)
        assert said.count("\n") == 1 and expected in said
    else:
        assert (status, said) == (0, "")
        assert [float(row[2]) for row in rows[1:]] == [float(q) for q in expected]


# Slips a table computes all the same, each kind said once with its column and
# first row: {input (a CSV's rows or grid options), the warnings' words}.
SLIP_CASES = [
    (f"T_C,P_bar,x_CO2,x_H2O,x_NaCl\n500,2000,0.1,0.89,0.01\n500,2000,10,89,1\n"
     f"500,2000,20,70,10\n500,2000,0.1,0.8,0.01\n",
     ["x_CO2 outside [0, 1] (a percentage?), first at line 3 (10)",
      "x_H2O outside [0, 1] (a percentage?), first at line 3 (89)",
      "x_NaCl outside [0, 1] (a percentage?), first at line 4 (10)",
      "x_CO2 + x_H2O + x_NaCl not summing to 1, first at line 3 (100)"]),
    (f"{HEADER}\n500,2000,0.1,3\n500,2000,0.1,120\n500,2000,0.1,-1\n",
     ["wt_NaCl outside [0, 100) wt%, first at line 3 (120)"]),
    ({"--x-CO2": "20", "--wt-NaCl": "0,100"},
     ["x_CO2 outside [0, 1] (a percentage?), first at --x-CO2 (20)",
      "wt_NaCl outside [0, 100) wt%, first at --wt-NaCl (100)"]),
    (f"{HEADER}\n500,2000,0.1,3\n", []),
]


@pytest.mark.parametrize("given, words", SLIP_CASES)
def test_slips_are_said_once_per_kind_and_computed(capsys, tmp_path, given, words):
    if isinstance(given, str):
        (tmp_path / "in.csv").write_text(given)
        status, said, rows = run_table(capsys, tmp_path, str(tmp_path / "in.csv"))
    else:
        args = {**ONE_POINT, **given}
        status, said, rows = run_table(capsys, tmp_path, *itertools.chain(*args.items()))
    assert status == 0 and all(r[-2] == "" for r in rows[1:])  # every row computed
    assert said.splitlines() == [f"quarn table: warning: {w}; computed all the same" for w in words]


def test_a_one_phase_rows_salinity_is_the_decimal_given(capsys, tmp_path):
    status, said, rows = run_table(capsys, tmp_path, "--T", "500", "--P", "2000", "--x-CO2", "0.01",
                                   "--wt-NaCl", "3,0.7", "--flash")
    header, *rows = rows
    assert [r[header.index("status")] for r in rows] == ["one phase"] * 2
    assert [r[header.index("brine_wt_NaCl")] for r in rows] == ["3", "0.7"]
    assert [r[header.index("co2_rich_wt_NaCl")] for r in rows] == ["3", "0.7"]


def test_the_output_is_the_file_a_link_names_and_never_the_input(capsys, tmp_path):
    source, target, link = (tmp_path / n for n in ("samples.csv", "kept.csv", "link.csv"))
    source.write_text(f"{HEADER}\n500,2000,0.1,10\n")
    target.write_bytes(OLD)
    target.chmod(0o640)
    for points_to, status in ((source, 2), (target, 0)):
        link.unlink(missing_ok=True)
        link.symlink_to(points_to)
        assert table.main([str(source), "-o", str(link)]) == status
    assert "is the input file" in capsys.readouterr().err and source.read_bytes().count(b"\n") == 2
    assert link.is_symlink() and target.stat().st_mode & 0o777 == 0o640
    assert target.read_text().count("\n") == 2


BIG_GRID = ["table", "--T", "350:600:1", "--P", "500:5000:100", "--x-CO2", "0:0.99:0.01",
            "--wt-NaCl", "10"]  # 1.15 million rows, about a second of work


@pytest.mark.parametrize("signal_number, status, words", [
    (signal.SIGINT, 130, "quarn table: interrupted\n"),
    (signal.SIGTERM, 143, "quarn table: stopped by SIGTERM\n"),
    (signal.SIGHUP, 129, "quarn table: stopped by SIGHUP\n"),
])
def test_a_signal_leaves_the_output_as_it_was(tmp_path, signal_number, status, words):
    out = tmp_path / "out.csv"
    out.write_bytes(OLD)
    process = quarn_command(*BIG_GRID, "-o", str(out))
    while not list(tmp_path.glob(".out.csv.*.part")):  # the table is being written
        assert process.poll() is None, process.stderr.read()
        time.sleep(0.005)
    process.send_signal(signal_number)
    assert process.wait(timeout=30) == status
    assert process.stderr.read().decode() == words
    assert out.read_bytes() == OLD and sorted(p.name for p in tmp_path.iterdir()) == ["out.csv"]


def test_kill_at_random_moments_never_leaves_a_partial_output(tmp_path):
    complete = tmp_path / "complete.csv"
    assert quarn_command(*BIG_GRID, "-o", str(complete)).wait() == 0
    digest = hashlib.md5(complete.read_bytes()).hexdigest()
    complete.unlink()
    rng = random.Random(17)
    out = tmp_path / "out.csv"
    seen = set()
    for _ in range(5):
        out.write_bytes(OLD)
        process = quarn_command(*BIG_GRID, "-o", str(out))
        time.sleep(rng.uniform(0.2, 2.5))
        process.kill()
        process.wait()
        content = out.read_bytes()
        seen.add("old" if content == OLD else hashlib.md5(content).hexdigest())
        for part in tmp_path.glob(".out.csv.*.part"):
            part.unlink()
    assert seen <= {"old", digest}


def test_piped_into_head_ends_quietly():
    process = quarn_command(*BIG_GRID, stdout=subprocess.PIPE)
    assert process.stdout.readline().startswith(b"T_C,P_bar")
    process.stdout.close()
    assert process.wait(timeout=30) == 141
    assert process.stderr.read() == b""


# Each case: the arguments, the descriptor closed in the command, the status,
# and what standard error and standard output then hold.
STREAM_CASES = [
    (["table", "--T", "500", "--P", "2000", "--x-CO2", "0.1", "--wt-NaCl", "10"], 1, 2,
     b"quarn table: standard output is closed\n", None),
    (["table", "-"], 0, 2, b"quarn table: standard input is closed\n", b""),
    (["table", "missing.csv"], 2, 2, None, b""),  # the CSV's stream takes no message
    (["table", "missing.csv", "-o", "t.csv"], 2, 2, None,
     b"quarn table: missing.csv: No such file or directory\n"),
]


@pytest.mark.parametrize("args, closed, status, stderr, stdout", STREAM_CASES)
def test_closed_streams(tmp_path, args, closed, status, stderr, stdout):
    process = subprocess.Popen([sys.executable, "-m", "quarn", *args], cwd=tmp_path,
                               stdout=None if closed == 1 else subprocess.PIPE,
                               stderr=None if closed == 2 else subprocess.PIPE,
                               preexec_fn=lambda: os.close(closed))
    said, err = process.communicate(timeout=60)
    assert process.returncode == status
    if stderr is not None:
        assert err == stderr
    if stdout is not None:
        assert said == stdout
    assert not (tmp_path / "t.csv").exists()


def test_rho_and_the_activities_columns(capsys, tmp_path):
    status, _, rows = run_table(capsys, tmp_path, "--T", "500", "--P", "2000", "--x-CO2", "0.1,0.01",
                                "--wt-NaCl", "0,10", "--activities")
    assert status == 0
    header, *rows = rows
    assert header[-3:] == ["a_H2O", "a_CO2", "gamma_NaCl"] and "rho" in header
    by_name = [dict(zip(header, r)) for r in rows]
    expected = {("0.1", "0"): (0.9251, 0.2434), ("0.01", "10"): (0.9508, 0.0728)}
    for r in by_name:
        if (r["x_CO2"], r["wt_NaCl"]) in expected:
            a_H2O, a_CO2 = expected[(r["x_CO2"], r["wt_NaCl"])]
            assert abs(float(r["a_H2O"]) - a_H2O) < 5e-5 and abs(float(r["a_CO2"]) - a_CO2) < 5e-5
        masses = (float(r["x_CO2"]) * 44.0095 + float(r["x_H2O"]) * 18.01528
                  + float(r["x_NaCl"]) * 58.44277)
        assert float(r["rho"]) == pytest.approx(masses / float(r["V"]), rel=1e-15)
