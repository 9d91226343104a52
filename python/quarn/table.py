"""``quarn table``: CSV tables of the model over a grid or a list of states.

Streams chunk by chunk, so that a grid of any size goes through in bounded
memory and in time that grows with its number of points; a failing point never
stops the table (its fault column says why and its values are empty). Every
option and the input's header are checked before the output is touched, and
the output is replaced whole or not at all.
"""

from __future__ import annotations

import argparse
import csv
import io
import itertools
import math
import os
import queue
import re
import sys
import threading
import time
from typing import Any, BinaryIO, Callable, Iterator, Sequence, TextIO

import numpy as np

from . import _core
from ._command import Command, CommandError
from ._composition import mole_fractions
from ._equilibrium import flash, stability
from ._fluid import activities
from ._grid import Axis, GridError, count_text
from ._model import evaluate_arrays
from ._output_file import OutputFile

RESULT_COLUMNS = ["phi_CO2", "phi_H2O", "phi_NaCl", "f_CO2", "f_H2O", "f_NaCl", "Z", "V", "rho",
                  "fault", "in_range"]
GRID_COLUMNS = ["T_C", "P_bar", "x_CO2", "x_H2O", "x_NaCl", "wt_NaCl"]
# With --flash: the phases of each state (the brine and the CO2-rich fluid; for
# one phase both the bulk), the status and the certificate, then the share and
# the composition of the saline CO2-bearing phase of three (empty for fewer).
FLASH_COLUMNS = ["phases", "status", "beta", "brine_x_CO2", "brine_x_H2O", "brine_x_NaCl",
                 "brine_wt_NaCl", "co2_rich_x_CO2", "co2_rich_x_H2O", "co2_rich_x_NaCl",
                 "co2_rich_wt_NaCl", "max_delta_ln_f", "mass_balance", "delta_G_RT", "min_tpd",
                 "undecided", "beta_saline", "saline_x_CO2", "saline_x_H2O", "saline_x_NaCl",
                 "saline_wt_NaCl"]
# With --stability: the tangent-plane test's verdict of each state as given (the
# fluid splits where it is "unstable") and its smallest distance.
STABILITY_COLUMNS = ["stability", "tpd_min"]
# With --activities: a_H2O and a_CO2 against the pure fluids at the same T and
# P, and NaCl's activity coefficient against infinite dilution in H2O.
ACTIVITY_COLUMNS = ["a_H2O", "a_CO2", "gamma_NaCl"]
# The extra column groups, in the order they follow the model's columns.
EXTRA_COLUMNS = {"flash": FLASH_COLUMNS, "stability": STABILITY_COLUMNS,
                 "activities": ACTIVITY_COLUMNS}
CHUNK = 1 << 16
# A flash costs about a thousand evaluations of the model: smaller chunks keep
# the progress line moving and Ctrl-C prompt.
FLASH_CHUNK = 1 << 11
MAX_POINTS = 10**9
# Flat grid indices are int64 inside; this keeps every one of them far from its end.
LARGEST_MAX_POINTS = 2**62


# A number as a CSV cell holds it: ASCII decimal digits, a point, an exponent.
# (Python's float() would also take 1_000, other scripts' digits and "nan".)
_DECIMAL = re.compile(r"[+-]?(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE][+-]?[0-9]+)?")
# How far the mole fractions' sum may be from 1 before the table says so.
SUM_TOLERANCE = 1e-6


class Slips:
    """Values that are most likely slips (a percentage given as a fraction, a
    salinity of 120), said once per kind on standard error, naming the column
    and the first row; the table is computed all the same."""

    def __init__(self, say: Callable[[str], None] | None):
        self._say = say
        self._said: set[str] = set()

    # Each kind of slip: what it is called, and which values are one.
    KINDS: dict[str, tuple[str, Callable[[Any], Any]]] = {
        "fraction": ("outside [0, 1] (a percentage?)", lambda v: (v < 0.0) | (v > 1.0)),
        "sum": ("not summing to 1", lambda v: np.abs(v - 1.0) > SUM_TOLERANCE),
        "salinity": ("outside [0, 100) wt%", lambda v: (v < 0.0) | (v >= 100.0)),
    }

    def check(self, column: str, values: Any, where: Any, kind: str) -> None:
        """Says the first of `values` (a column's, or the sum's) that is a slip of
        `kind`, unless that column has been said; `where`: each value's row (a
        line number, or a grid option's text)."""
        if self._say is None or column in self._said:
            return
        what, is_slip = self.KINDS[kind]
        v = np.asarray(values, dtype=np.float64)
        bad = np.flatnonzero(is_slip(v))
        if bad.size:
            self._said.add(column)
            k = int(bad[0])
            value = _core.shortest(np.array([float(v[k])]))[0]
            self._say(f"warning: {column} {what}, first at {where[k]} ({value}); computed all "
                      "the same")


def check_states(slips: Slips, where: Any, x_CO2: Any, x_H2O: Any = None, x_NaCl: Any = None,
                 wt_NaCl: Any = None) -> None:
    """Every kind of slip among the states' compositions."""
    slips.check("x_CO2", x_CO2, where, "fraction")
    if wt_NaCl is not None:
        slips.check("wt_NaCl", wt_NaCl, where, "salinity")
    else:
        slips.check("x_H2O", x_H2O, where, "fraction")
        slips.check("x_NaCl", x_NaCl, where, "fraction")
        slips.check("x_CO2 + x_H2O + x_NaCl", np.asarray(x_CO2) + np.asarray(x_H2O)
                    + np.asarray(x_NaCl), where, "sum")


def _chunks(total: int, size: int = CHUNK) -> Iterator[tuple[int, int]]:
    for start in range(0, total, size):
        yield start, min(start + size, total)


class _Progress:
    """A progress line on standard error, only when it is a terminal and the
    table has taken more than a few seconds."""

    DELAY_S = 2.0

    def __init__(self, total: int):
        self.total = total
        self.terminal = sys.stderr is not None and sys.stderr.isatty()
        self.start = time.monotonic()
        self.shown = False

    def update(self, done: int) -> None:
        if not self.terminal or (not self.shown and time.monotonic() - self.start < self.DELAY_S):
            return
        self.shown = True
        elapsed = time.monotonic() - self.start
        left = elapsed * (self.total - done) / done
        sys.stderr.write(f"\r{100 * done // self.total:3d}% {done:,}/{self.total:,} points, "
                         f"about {left:.0f} s left ")
        if done == self.total:
            sys.stderr.write("\n")
        sys.stderr.flush()


class _BackgroundWriter:
    """Writes chunks on a thread of its own while the next one is computed (a
    file write holds no lock the computation needs). A failed write is raised
    in the caller, at its next chunk or at the end; nothing after it is written."""

    def __init__(self, out: BinaryIO):
        self._out = out
        self._chunks: queue.Queue[bytes | None] = queue.Queue(maxsize=2)
        self._error: BaseException | None = None
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _run(self) -> None:
        while (chunk := self._chunks.get()) is not None:
            if self._error is None:
                try:
                    self._out.write(chunk)
                except BaseException as error:  # handed to the caller
                    self._error = error

    def _check(self) -> None:
        if self._error is not None:
            raise self._error

    def write(self, chunk: bytes) -> None:
        self._check()
        self._chunks.put(chunk)

    def __enter__(self) -> "_BackgroundWriter":
        return self

    def __exit__(self, *exc_info: object) -> None:
        if exc_info[0] is None:
            self._chunks.put(None)
            self._thread.join()
            self._check()
            return
        # Failing or interrupted: the chunks not yet written are dropped, and a
        # write stalled on a reader that does not read is not waited for long.
        while True:
            try:
                self._chunks.get_nowait()
            except queue.Empty:
                break
        self._chunks.put(None)
        self._thread.join(timeout=1.0)


def _result_rows(texts: list[tuple[list[str], Any]], *states: Any,
                 extras: Sequence[str] = (), given_wt: Any = None) -> bytes:
    """CSV rows: the text columns (texts, index of each row's text), then the
    results of the states (T_C, P_bar, x_CO2, x_H2O, x_NaCl), then the column
    groups named in `extras` ("flash", "stability", "activities"). Whether a state is in the
    stated range is in its own column, not in a warning. `given_wt`: the
    salinities the states were made from, where they were."""
    r = evaluate_arrays(list(states), warn=False, single_precision_inputs=False, errors="nan",
                        threads=None)
    results = [np.ascontiguousarray(getattr(r, c), dtype=np.float64) for c in RESULT_COLUMNS[:-2]]
    rows = _core.csv_rows(texts, results, r.fault, r._fault_function, r.in_range)
    if not extras:
        return rows
    fields = {"flash": lambda: _flash_fields(states, given_wt),
              "stability": lambda: _stability_fields(states),
              "activities": lambda: _activity_fields(states)}
    tails = [fields[e]() for e in extras]
    return "".join([line + "".join(t) + "\n" for line, *t in
                    zip(rows.decode().splitlines(), *tails)]).encode()


def _number_texts(column: Any) -> Any:
    """Shortest round-trip texts of a column of numbers, NaN as an empty field."""
    values = np.ascontiguousarray(column, dtype=np.float64).ravel()
    text = np.array(_core.shortest(values), dtype=object)
    text[np.isnan(values)] = ""
    return text


def _flash_fields(states: Sequence[Any], given_wt: Any = None) -> list[str]:
    """The flash columns of each state as CSV text from their leading comma; a
    number that does not apply (beta of one phase, the phases of an undecided
    state, the saline phase of fewer than three) is empty. A one phase fluid
    made from a salinity keeps that salinity as given (3, not the round trip's
    2.9999999999999996) where its phase is the feed itself."""
    r = flash(*states)
    s = r.saline_co2_bearing
    if given_wt is not None:
        given = np.broadcast_to(np.asarray(given_wt, dtype=np.float64), r.phases.shape)
        itself = (r.phases == 1) & (r.brine.x_CO2 == states[2]) & (r.brine.x_NaCl == states[4])
        for phase in (r.brine, r.co2_rich):
            np.copyto(phase.wt_NaCl, given, where=itself)
    texts = [_number_texts(c) for c in (
        r.beta, r.brine.x_CO2, r.brine.x_H2O, r.brine.x_NaCl, r.brine.wt_NaCl,
        r.co2_rich.x_CO2, r.co2_rich.x_H2O, r.co2_rich.x_NaCl, r.co2_rich.wt_NaCl,
        r.max_delta_ln_f, r.mass_balance, r.delta_G_RT, r.min_tpd)]
    saline = [_number_texts(c) for c in (r.beta_saline, s.x_CO2, s.x_H2O, s.x_NaCl, s.wt_NaCl)]
    phases = np.asarray(r.phases).ravel().astype(str).tolist()
    status = np.asarray(r.status).ravel().tolist()
    undecided = np.asarray(r.undecided).ravel().tolist()
    columns = [phases, status, *(t.tolist() for t in texts), undecided,
               *(t.tolist() for t in saline)]
    return ["," + ",".join(row) for row in zip(*columns)]


def _stability_fields(states: Sequence[Any]) -> list[str]:
    """The stability columns of each state as CSV text from their leading comma."""
    r = stability(*states)
    verdict = np.asarray(r.verdict).ravel().tolist()
    tpd = _number_texts(r.tpd_min).tolist()
    return ["," + v + "," + t for v, t in zip(verdict, tpd)]


def _activity_fields(states: Sequence[Any]) -> list[str]:
    """The activity columns of each state as CSV text from their leading comma
    (empty where the model fails)."""
    r = activities(*states, errors="nan")
    texts = [_number_texts(c).tolist() for c in (r.a_H2O, r.a_CO2, r.gamma_NaCl)]
    return ["," + ",".join(row) for row in zip(*texts)]


def _distinct(begin: int, end: int, stride: int, length: int) -> tuple[np.ndarray, np.ndarray]:
    """For the flat indices [begin, end) of a grid, the indices into an axis of
    `length` values that changes every `stride` points: the distinct ones the
    chunk meets, and for each point the position of its own among them."""
    first, last = begin // stride, (end - 1) // stride
    q = np.arange(begin, end, dtype=np.int64) // stride
    if last - first + 1 >= length:
        return np.arange(length, dtype=np.int64), (q % length).astype(np.int32)
    return np.arange(first, last + 1, dtype=np.int64) % length, (q - first).astype(np.int32)


def _extra_columns(extras: Sequence[str]) -> list[str]:
    return [c for e in extras for c in EXTRA_COLUMNS[e]]


def _ends(axis: Axis) -> Any:
    """The values an axis's range check needs: all of a list, a range's ends."""
    return axis.values(np.arange(axis.count) if axis.count <= 1000 else
                       np.array([0, axis.count - 1], dtype=np.int64))


def grid_table(axes: Sequence[Axis], out: Any, extras: Sequence[str] = (),
               slips: Slips | None = None) -> int:
    """Writes the grid T x P x x_CO2 x wt_NaCl (the last varying fastest) as CSV;
    returns the number of rows. Each chunk works out only the axis values and
    the (x_CO2, wt_NaCl) pairs it meets, so memory does not grow with the grid."""
    T, P, x, w = axes
    if slips is not None:
        x_ends, w_ends = _ends(x), _ends(w)
        slips.check("x_CO2", x_ends, ["--x-CO2"] * len(x_ends), "fraction")
        slips.check("wt_NaCl", w_ends, ["--wt-NaCl"] * len(w_ends), "salinity")
    total = len(T) * len(P) * len(x) * len(w)
    columns_out = GRID_COLUMNS + RESULT_COLUMNS + _extra_columns(extras)
    out.write((",".join(columns_out) + "\n").encode())
    progress = _Progress(total)
    strides = (len(P) * len(x) * len(w), len(x) * len(w), len(w), 1)
    for begin, end in _chunks(total, FLASH_CHUNK if extras else CHUNK):
        columns = []
        for axis, stride in zip(axes, strides):
            indices, codes = _distinct(begin, end, stride, len(axis))
            columns.append((axis.values(indices), codes))
        pairs, pair_codes = _distinct(begin, end, 1, len(x) * len(w))
        w_of_pairs = w.values(pairs % len(w))
        _, x_H2O, x_NaCl = mole_fractions(x.values(pairs // len(w)), w_of_pairs)
        texts = [(_core.shortest(v), c) for v, c in columns]
        texts[3:3] = [(_core.shortest(np.ascontiguousarray(f)), pair_codes) for f in (x_H2O, x_NaCl)]
        (T_values, T_codes), (P_values, P_codes), (x_values, x_codes), _ = columns
        out.write(_result_rows(texts, T_values[T_codes], P_values[P_codes], x_values[x_codes],
                               x_H2O[pair_codes], x_NaCl[pair_codes], extras=extras,
                               given_wt=w_of_pairs[pair_codes]))
        progress.update(end)
    return total


def _not_csv_text(head: bytes) -> str:
    """What a file that is no CSV text looks like it is, from its first bytes."""
    if head.startswith(b"PK\x03\x04"):
        return "a zip archive, such as an .xlsx workbook"
    if head.startswith(b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1"):
        return "an .xls workbook"
    if head.startswith((b"\xff\xfe", b"\xfe\xff")):
        return "UTF-16 text"
    if b"\x00" in head:
        return "binary or UTF-16 text (it holds NUL bytes)"
    return ""


def _quoted(field: str) -> str:
    """A CSV field, quoted where it holds a separator, a quote or a line break."""
    if any(c in field for c in ',"\r\n'):
        return '"' + field.replace('"', '""') + '"'
    return field


def _encoded(text: str) -> bytes:
    # Bytes that were no UTF-8 in the input go back out as they came.
    return text.encode("utf-8", "surrogateescape")


class CsvStates:
    """The states of a CSV file (T_C, P_bar and x_CO2, x_H2O, x_NaCl or
    x_CO2, wt_NaCl; other columns are carried through), as spreadsheets save
    them: a byte-order mark, CR LF, blank and all-empty rows are taken as they
    come. Made from the open file, it has read and checked the header."""

    def __init__(self, binary: BinaryIO, name: str, extras: Sequence[str] = (),
                 slips: Slips | None = None):
        self.name = name
        self.slips = slips or Slips(None)
        self.extras = tuple(extras)
        self.results = RESULT_COLUMNS + _extra_columns(extras)
        head = binary.peek(4096)[:4096] if hasattr(binary, "peek") else b""
        kind = _not_csv_text(head)
        if kind:
            raise CommandError(f"{name} is {kind}, not CSV text: save it as CSV (UTF-8)")
        source: TextIO = io.TextIOWrapper(binary, encoding="utf-8-sig", errors="surrogateescape",
                                          newline="")
        # Strict: a quote opened and never closed is an error, not a field that
        # swallows the rest of the file.
        self._reader = csv.reader(source, strict=True)
        self._records = self._nonblank_records()
        first = next(self._records, None)
        if first is None:
            raise CommandError(f"{name}: the file is empty")
        self.header = first[1]
        names = [h.strip() for h in self.header]
        self._width = len(names)
        seen: dict[str, int] = {}
        for k, n in enumerate(names):
            if n and n in seen:
                raise CommandError(f"{name}: the column name {n!r} stands twice (columns "
                                   f"{seen[n] + 1} and {k + 1})")
            seen[n] = k
        taken = [c for c in self.results if c in seen]
        if taken:
            raise CommandError(f"{name}: the file has result columns already ({', '.join(taken)});"
                               " remove them or rename them")
        self._by_salinity = "wt_NaCl" in seen and not {"x_H2O", "x_NaCl"} <= seen.keys()
        self._needed = ["T_C", "P_bar", "x_CO2"] + (
            ["wt_NaCl"] if self._by_salinity else ["x_H2O", "x_NaCl"])
        missing = [c for c in self._needed if c not in seen]
        if missing:
            raise CommandError(f"{name}: no column {', '.join(missing)} (the header has "
                               f"{', '.join(names)}; T_C, P_bar, x_CO2 and either x_H2O, x_NaCl "
                               "or wt_NaCl are needed)")
        self._positions = [seen[c] for c in self._needed]

    def _nonblank_records(self) -> Iterator[tuple[int, list[str]]]:
        """(line the record starts on, its fields), passing over blank lines and
        rows of nothing but empty fields."""
        line = 1
        try:
            for fields in self._reader:
                start, line = line, self._reader.line_num + 1
                if any(f.strip() for f in fields):
                    yield start, fields
        except csv.Error as error:
            if "unexpected end of data" in str(error):
                raise CommandError(f"{self.name}, line {line}: a quote opened in this row is "
                                   "never closed (the rest of the file would be one field)") from None
            raise CommandError(f"{self.name}, line {self._reader.line_num}: {error}") from None

    def _values(self, line: int, fields: list[str]) -> tuple[list[str], list[float] | str]:
        """The fields fitted to the header, and the numbers the model needs, or
        why they cannot be had."""
        if len(fields) > self._width and any(f.strip() for f in fields[self._width:]):
            return fields[:self._width], (f"line {line}: {len(fields)} fields where the header "
                                          f"has {self._width}")
        fields = fields[:self._width] + [""] * (self._width - len(fields))
        values = []
        for column, k in zip(self._needed, self._positions):
            text = fields[k].strip()
            if not text:
                return fields, f"line {line}: {column} is empty"
            if not _DECIMAL.fullmatch(text):
                try:
                    finite = math.isfinite(float(text))
                except ValueError:
                    finite = True
                return fields, (f"line {line}: {column} {text!r} is not "
                                + ("a number (decimal digits 0-9 only)" if finite
                                   else "a finite number"))
            values.append(float(text))
        return fields, values

    def write(self, out: Any) -> int:
        """Writes the header and every state with its results; returns the rows."""
        header = ",".join(_quoted(h) for h in self.header + self.results)
        out.write(_encoded(header + "\n"))
        rows = 0
        while True:
            records = list(itertools.islice(self._records,
                                            FLASH_CHUNK if self.extras else CHUNK))
            if not records:
                return rows
            block = [self._values(line, fields) for line, fields in records]
            good = [v for _, v in block if not isinstance(v, str)]
            computed: Iterator[str] = iter(())
            if good:
                where = [f"line {line}" for (line, _), (_, v) in zip(records, block)
                         if not isinstance(v, str)]
                T_C, P_bar, x_CO2, *rest = np.array(good, dtype=np.float64).T
                if self._by_salinity:
                    check_states(self.slips, where, x_CO2, wt_NaCl=rest[0])
                    x_H2O, x_NaCl = mole_fractions(x_CO2, rest[0])[1:]
                else:
                    check_states(self.slips, where, x_CO2, *rest)
                    x_H2O, x_NaCl = rest
                computed = iter(_result_rows([], T_C, P_bar, x_CO2, x_H2O, x_NaCl,
                                             extras=self.extras,
                                             given_wt=rest[0] if self._by_salinity else None)
                                .decode().splitlines(keepends=True))
            lines = []
            for fields, values in block:
                # A state that cannot be computed: its reason in the fault column.
                results = (("," * (len(RESULT_COLUMNS) - 2) + _quoted(values) + ","
                            + "," * (len(self.results) - len(RESULT_COLUMNS)) + "\n")
                           if isinstance(values, str) else next(computed))
                lines.append(",".join(_quoted(f) for f in fields) + "," + results)
            out.write(_encoded("".join(lines)))
            rows += len(block)


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="quarn table",
        description="CSV of phi, f, Z and V over a grid (--T --P --x-CO2 --wt-NaCl) or for "
                    "the states of a CSV file (columns T_C, P_bar, x_CO2 and x_H2O, x_NaCl "
                    "or wt_NaCl; other columns are carried through). The output is replaced "
                    "only once the table is complete.")
    parser.add_argument("input", nargs="?", help="CSV file of states ('-' for standard input)")
    parser.add_argument("-o", "--output", default="-",
                        help="CSV file to write ('-', the default: standard output)")
    for option, unit in (("T", "C"), ("P", "bar"), ("x-CO2", "mole fraction"),
                         ("wt-NaCl", "wt%% NaCl of the solvent")):
        parser.add_argument(f"--{option}", help=f"grid values ({unit}): a, a,b,c or start:stop:step "
                                                "(inclusive, exact decimals)")
    parser.add_argument("--flash", action="store_true",
                        help="add the phases of each state: the flash (brine and CO2-rich "
                             "fluid, status, beta, their compositions, the certificate; the "
                             "saline CO2-bearing phase of three)")
    parser.add_argument("--stability", action="store_true",
                        help="add whether the model keeps each state one phase: the stability "
                             "test's verdict (stable, unstable: the fluid splits, undecided) "
                             "and its smallest tangent-plane distance")
    parser.add_argument("--activities", action="store_true",
                        help="add a_H2O and a_CO2 (against the pure fluids at the same T and P) "
                             "and gamma_NaCl (against infinite dilution in H2O)")
    parser.add_argument("--max-points", type=int, default=MAX_POINTS,
                        help=f"the largest grid to start (default {MAX_POINTS:.0e})")
    return parser


def _grid_axes(args: argparse.Namespace) -> list[Axis]:
    names = ["T", "P", "x-CO2", "wt-NaCl"]
    try:
        axes = [Axis(text, name) for text, name in
                zip((args.T, args.P, args.x_CO2, args.wt_NaCl), names)]
    except GridError as error:
        raise CommandError(str(error)) from None
    total = math.prod(a.count for a in axes)
    if total > args.max_points:
        raise CommandError(f"the grid has {count_text(total)} points, more than the "
                           f"{args.max_points:,} allowed (--max-points raises the limit)")
    return axes


def _open_input(path: str) -> BinaryIO:
    if path == "-":
        if sys.stdin is None:
            raise CommandError("standard input is closed")
        return sys.stdin.buffer
    return open(path, "rb")


def _same_file(input_path: str, output_path: str) -> bool:
    try:
        return os.path.samefile(input_path, output_path)
    except OSError:  # the output does not exist yet
        return False


def _run(command: Command, argv: Sequence[str]) -> int:
    parser = _parser()
    args = parser.parse_args(argv)
    command.stdout_is_data = args.output == "-"
    grid = [args.T, args.P, args.x_CO2, args.wt_NaCl]
    if (args.input is None) == (None in grid):
        parser.error("give a CSV file of states, or all four of --T, --P, --x-CO2 and --wt-NaCl")
    if not 1 <= args.max_points <= LARGEST_MAX_POINTS:
        parser.error(f"--max-points: {args.max_points} is not from 1 to {LARGEST_MAX_POINTS}")
    if args.input is not None and args.input != "-" and args.output != "-" and \
            _same_file(args.input, args.output):
        raise CommandError(f"{args.output} is the input file: write the table to another file")
    axes = _grid_axes(args) if args.input is None else None
    extras = [e for e, wanted in (("flash", args.flash), ("stability", args.stability),
                                  ("activities", args.activities)) if wanted]
    slips = Slips(command.say)
    binary = None
    try:
        if axes is None:
            binary = _open_input(args.input)
            states = CsvStates(binary, "<stdin>" if args.input == "-" else args.input,
                               extras=extras, slips=slips)
        with OutputFile(args.output) as output:
            with _BackgroundWriter(output.file) as writer:
                if axes is None:
                    states.write(writer)
                else:
                    grid_table(axes, writer, extras=extras, slips=slips)
            output.commit()
    finally:
        if binary is not None and args.input != "-":
            binary.close()
    return 0


def main(argv: Sequence[str]) -> int:
    return Command("quarn table").run(lambda command: _run(command, argv))


__all__ = ["CsvStates", "grid_table", "main"]
