"""The Python package: shapes, bit identity with an independent evaluation and
with the console program, faults, run files and bad arguments."""

import concurrent.futures
import copy
import math
import multiprocessing
import os
import pathlib
import pickle
import random
import re
import signal
import subprocess
import sys
import threading
import time

from fractions import Fraction

import numpy as np
import pytest

import quarn

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tools"))
import eos_reference  # noqa: E402  (the independent evaluation of the method)

def reference(T_K, P_atm, x):
    eos_reference.fault.clear()
    phi, Z, V = eos_reference.trkmix(T_K, P_atm, *x)
    return phi + [Z, V]


@pytest.mark.parametrize("args, shape", [
    ((500, 2000, 0.1, 0.89, 0.01), ()),
    ((500, 2000, [0.1, 0.3], [0.89, 0.6], [0.01, 0.1]), (2,)),
    (([[400], [500]], [1000, 2000, 3000], 0.3, 0.6, 0.1), (2, 3)),
    ((np.full((2, 1, 2), 450.0), 2000, 0.2, [0.7, 0.75], [0.1, 0.05]), (2, 1, 2)),
    ((500, 2000, [], [], []), (0,)),
    (([[400], [500]], 2000, np.zeros(0), 0.5, 0.5), (2, 0)),
])
def test_broadcasting_gives_the_shape_and_each_points_numbers(args, shape):
    r = quarn.fugacity(*args)
    assert r.phi_CO2.shape == r.f_NaCl.shape == r.V.shape == r.fault.shape == shape
    full = np.broadcast_arrays(*[np.asarray(a, dtype=float) for a in args])
    for index in np.ndindex(shape):
        T, P, *x = (float(a[index]) for a in full)
        expected = reference(T + 273.15, P / 1.01325, x)
        got = [r.phi_CO2[index], r.phi_H2O[index], r.phi_NaCl[index], r.Z[index], r.V[index]]
        assert got == expected
        assert r.f_H2O[index] == (x[1] * expected[1]) * P
        ln_phi = eos_reference.trkmix(T + 273.15, P / 1.01325, *x, ln=True)[0]
        assert [r.ln_phi_CO2[index], r.ln_phi_H2O[index], r.ln_phi_NaCl[index]] == ln_phi


def test_single_precision_temperatures():  # the worked example: the README's, run as a test
    x = (0.2, 0.7, 0.1)
    exact = quarn.fugacity(400.1, 1000, *x)
    single = quarn.fugacity(400.1, 1000, *x, single_precision_inputs=True)
    assert float(exact.phi_CO2) == reference(673.25, 1000 / 1.01325, x)[0]
    assert float(single.phi_CO2) == reference(673.2500061035156, 1000 / 1.01325, x)[0]
    assert float(exact.phi_CO2) != float(single.phi_CO2)


def test_faults_raise_or_become_nan():
    x_CO2 = [0.1, 0.9, 0.9]
    with pytest.raises(quarn.MathError) as caught:
        quarn.fugacity(350, 500, x_CO2, [0.89, 0, 0], [0.01, 0.1, 0.1])
    e = caught.value
    assert (e.number, e.function, e.index) == (6203, "exp", 1)
    assert str(e) == "exp: OVERFLOW error (6203) at point 1"
    assert isinstance(e, ArithmeticError)
    r = quarn.fugacity(350, 500, x_CO2, [0.89, 0, 0], [0.01, 0.1, 0.1], errors="nan")
    assert r.fault.tolist() == [0, 6203, 6203]
    assert np.isfinite(r.phi_CO2[0]) and np.isnan([r.phi_CO2[1:], r.f_H2O[1:], r.Z[1:]]).all()
    assert np.isnan(r.ln_phi_NaCl[1:]).all()
    with pytest.warns(quarn.RangeWarning):  # masked arithmetic: NaN, no fault
        zero = quarn.fugacity(500, 2000, 0, 0, 0)
    assert zero.fault == 0 and np.isnan(zero.phi_CO2)


def test_run_gives_the_numbers_of_the_report(tmp_path):
    (tmp_path / "qnrun.dat").write_text("500 2000\n0.1 0.89 0.01\n0.3,0.6,0.1\n")
    numbers = quarn.run(tmp_path / "qnrun.dat")
    x = [(0.1, 0.89, 0.01), (0.3, 0.6, 0.1)]
    expected = [reference(773.15, 2000 / 1.01325, row)[:3] for row in x]
    assert [[numbers[k][i] for k in ("phi_CO2", "phi_H2O", "phi_NaCl")] for i in (0, 1)] == expected
    assert numbers["f_NaCl"].tolist() == [(x[i][2] * expected[i][2]) * 2000 for i in (0, 1)]


@pytest.mark.parametrize("text, T, P, rows", [
    ("500 2000\n0.1 0.89 0.01\n0.3,0.6,0.1\n", 500, 2000, [[0.1, 0.89, 0.01], [0.3, 0.6, 0.1]]),
    ("400.1 1D3\n0.5,,0.2\n3*0.3\n0.1 /\n", 400.1000061035156, 1000,
     [[0.5, 0, 0.2], [0.3, 0.3, 0.3], [0.1, 0.3, 0.3]]),
])
def test_read_run_file(tmp_path, text, T, P, rows):
    (tmp_path / "qnrun.dat").write_text(text)
    T_read, P_read, x = quarn.read_run_file(tmp_path / "qnrun.dat")
    assert (T_read, P_read, x.shape, x.tolist()) == (T, P, (len(rows), 3), rows)


@pytest.mark.parametrize("text, number, line, words", [
    ("", 24, 0, "end-of-file during read, unit 10"),
    ("500 2000\n0.1 0.2 x\n", 59, 2, "list-directed I/O syntax error, unit 10"),
    ("500 2000\n1 1 1\n0.1 0.2 1e400\n", 64, 3, "input conversion error, unit 10"),
    ("500 2000\n0.5 0.5\n", 24, 2, "end-of-file during read, unit 10"),
])
def test_run_file_errors(tmp_path, text, number, line, words):
    path = tmp_path / "qnrun.dat"
    path.write_text(text)
    with pytest.raises(quarn.RunFileError) as caught:
        quarn.read_run_file(path)
    assert (caught.value.number, caught.value.line) == (number, line)
    assert str(caught.value) == f"{words}, file {path} (line {line})"
    with pytest.raises(FileNotFoundError):
        quarn.read_run_file(tmp_path / "missing.dat")


@pytest.mark.parametrize("args, kwargs, error, words", [
    (("abc", 2000, 0.1, 0.8, 0.1), {}, TypeError, "T_C must be a real number"),
    ((500, None, 0.1, 0.8, 0.1), {}, TypeError, "P_bar must be a real number"),
    ((500, 2000, [0.1, 0.2], [0.8, 0.7, 0.6], 0.1), {}, ValueError, "do not broadcast"),
    ((500, 2000, 1j, 0.8, 0.1), {}, TypeError, "x_CO2 must be a real number"),
    ((500, 2000, 0.1, 0.8, 0.1), {"errors": "ignore"}, ValueError, "errors must be"),
    ((500, 2000, np.ma.masked_array([0.1], [True]), 0.8, 0.1), {}, TypeError,
     "x_CO2 is a masked array"),
])
def test_bad_arguments(args, kwargs, error, words):
    with pytest.raises(error, match=words):
        quarn.fugacity(*args, **kwargs)


def test_readme_python_example(capsys):
    readme = (ROOT / "README.md").read_text()
    section = readme[readme.index("## From Python"):]
    code, shown = re.findall(r"```python\n(.*?)```\n\nIt prints:\n\n```\n(.*?)```", section, re.S)[0]
    exec(code, {})
    assert capsys.readouterr().out == shown


def nearest(text, a, bits, emin, emax):
    """The value a of a token rounded to the binary format of `bits` significant
    bits (ties to even), exactly, with the token's sign; None where that is beyond
    the largest finite value."""
    sign = -1.0 if text.startswith("-") else 1.0
    if a == 0:
        return math.copysign(0.0, sign)
    e = a.numerator.bit_length() - a.denominator.bit_length()
    e -= Fraction(2) ** e > a  # now 2^e <= a < 2^(e+1)
    unit = Fraction(2) ** (max(e, emin) - bits + 1)
    value = round(a / unit) * unit
    if value > (2 ** bits - 1) * Fraction(2) ** (emax - bits + 1):
        return None
    return math.copysign(float(value), sign)


def random_decimal(rng, bits, emin, emax):
    """Random digits at any magnitude, or exactly half-way between two neighbours
    of the format, or a last digit either side of that half, spelled as the
    reader accepts it: the point anywhere, any exponent letter or none; or, for
    a share of them, short and plain (at most about 19 digits and no exponent),
    as the reader's shorter routes take them."""
    short = rng.random() < 0.3
    if rng.random() < 1 / 3:
        digits = "".join(rng.choice("0123456789") for _ in range(rng.randint(1, 19 if short else 25)))
        exp10 = rng.randint(-25, 0) if short else \
            rng.randint(int((emin - bits) * 0.30103) - 10, int(emax * 0.30103) + 10) - len(digits)
    else:
        m = rng.randrange(2 ** (bits - 1), 2 ** bits)
        k = rng.randint(-3, 3) if short else rng.randint(emin - bits, emax - bits)
        digits, exp10 = (str((2 * m + 1) << k), 0) if k >= 0 else (str((2 * m + 1) * 5 ** -k), k)
        nudge = rng.choice([0, -1, 1])
        digits, exp10 = str(int(digits) * 10 + 5 * nudge), exp10 - 1
    sign = rng.choice(["-", "", "+"])
    value = Fraction(int(digits)) * Fraction(10) ** exp10
    if short:
        whole, fraction = digits[:max(len(digits) + exp10, 0)], digits[max(len(digits) + exp10, 0):]
        return sign + whole + "." + "0" * (-exp10 - len(fraction)) + fraction, value
    point = min(rng.randrange(len(digits) + 2) - 1, len(digits))
    mantissa = "." + "0" * -point + digits if point < 0 else digits[:point] + "." + digits[point:]
    written = exp10 + len(digits) - point
    letter = rng.choice(["E", "e", "D", "d", "Q", "q", ""])
    exponent = ("+" if written >= 0 and (not letter or rng.random() < 0.5) else "") + str(written)
    return sign + mantissa + letter + exponent, value


def test_reader_rounds_decimals_exactly(tmp_path):
    rng = random.Random(1)
    path = tmp_path / "qnrun.dat"
    doubles = [random_decimal(rng, 53, -1022, 1023) for _ in range(30000)]
    doubles = [(t, nearest(t, q, 53, -1022, 1023)) for t, q in doubles]
    in_range = [(t, v) for t, v in doubles if v is not None]
    path.write_text("1 1\n" + "".join(f"{t} 0 0\n" for t, _ in in_range))
    read = quarn.read_run_file(path)[2][:, 0]
    assert [(v, math.copysign(1, v)) for v in read] == [(v, math.copysign(1, v)) for _, v in in_range]
    for text, value in [d for d in doubles if d[1] is None][:50]:
        path.write_text(f"1 1\n{text} 0 0\n")
        with pytest.raises(quarn.RunFileError, match="input conversion error"):
            quarn.read_run_file(path)
    for _ in range(2000):  # 32-bit targets, converted straight from the text
        text, q = random_decimal(rng, 24, -126, 127)
        path.write_text(f"{text} 1\n")
        expected = nearest(text, q, 24, -126, 127)
        if expected is None:
            with pytest.raises(quarn.RunFileError):
                quarn.read_run_file(path)
        else:
            assert quarn.read_run_file(path)[0] == expected, text


def failing_point(_):
    return quarn.fugacity(350, 500, 0.9, 0, 0.1)


def test_errors_cross_process_boundaries_whole():
    for error in (quarn.MathError(6203, "exp", 7),
                  quarn.RunFileError(59, "list-directed I/O syntax error, unit 10, file x", 3)):
        for twin in (pickle.loads(pickle.dumps(error)), copy.copy(error), copy.deepcopy(error)):
            assert type(twin) is type(error) and str(twin) == str(error)
            assert twin.__dict__ == error.__dict__
    fork = multiprocessing.get_context("fork")
    with concurrent.futures.ProcessPoolExecutor(1, mp_context=fork) as pool:
        with pytest.raises(quarn.MathError) as caught:
            pool.submit(failing_point, 0).result(timeout=60)
    assert (caught.value.number, caught.value.function, caught.value.index) == (6203, "exp", 0)


def test_run_files_by_any_path_and_of_any_length(tmp_path):
    path = tmp_path / "qnrun.dat"
    path.write_text("500 2000\n")
    numbers = quarn.run(os.fsencode(path))
    assert numbers["phi_CO2"].shape == numbers["x_NaCl"].shape == (0,)
    path.write_text("500 2000\n0.1 x\n")
    with pytest.raises(quarn.RunFileError, match=f"syntax error, unit 10, file {path} "):
        quarn.read_run_file(os.fsencode(path))
    with pytest.raises(quarn.RunFileError) as caught:  # a line that never ends
        quarn.read_run_file("/dev/zero")
    assert caught.value.number == 22 and "input record too long" in str(caught.value)


def test_ctrl_c_ends_a_long_call_within_a_few_looks():
    # Measured in the child's CPU time, in points' worth of work, so that the
    # machine's load does not enter: the call looks for Ctrl-C every 2^18
    # points of each worker, and after the interrupt it must stop within a
    # few such looks, far short of the 4e7 points it was asked for.
    child = subprocess.Popen([sys.executable, "-c", """
import os, signal, threading, time, numpy as np, quarn
x = np.linspace(0.0, 0.5, 4 * 10**7)
small = x[:10**6]
start = time.process_time()
quarn.fugacity(500, 2000, small, 0.99 - small, 0.01)
per_point = (time.process_time() - start) / small.size
sent = []
def interrupt(begun):
    # Once a twentieth of the call's work is done, whatever the machine's speed.
    while time.process_time() - begun < 0.05 * x.size * per_point:
        time.sleep(0.005)
    sent.append(time.process_time())
    os.kill(os.getpid(), signal.SIGINT)
threading.Thread(target=interrupt, args=(time.process_time(),), daemon=True).start()
try:
    quarn.fugacity(500, 2000, x, 0.99 - x, 0.01)
    print("finished", flush=True)
except KeyboardInterrupt:
    print("interrupted", (time.process_time() - sent[0]) / per_point, flush=True)
"""], stdout=subprocess.PIPE, text=True)
    said, _ = child.communicate(timeout=600)
    word, points_after = said.split()
    assert word == "interrupted" and float(points_after) < 4e6, said


@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                    reason="GCC 12's AddressSanitizer allocator keeps no lock across fork: a "
                           "child forked while another thread allocates may wait forever on "
                           "it (1 child in 200 here, in numpy's own calloc)")
def test_fork_while_a_table_is_formatted_in_another_thread():
    values = [np.linspace(0.1, 1.0, 20000)] * 8
    rows = lambda: quarn._core.csv_rows([], values, np.zeros(20000, np.int32),
                                        np.zeros(20000, np.uint8), np.ones(20000, bool))
    stop = threading.Event()
    worker = threading.Thread(target=lambda: [rows() for _ in iter(stop.is_set, True)])
    worker.start()
    try:
        for _ in range(40):
            if (pid := os.fork()) == 0:
                rows()
                os._exit(0)
            # A hang guard, not a speed limit: a child under the sanitizers on
            # a loaded machine may take seconds.
            deadline = time.monotonic() + 300
            while os.waitpid(pid, os.WNOHANG) == (0, 0):
                if time.monotonic() > deadline:
                    os.kill(pid, signal.SIGKILL)
                    pytest.fail("a child forked while the other thread formatted rows hangs")
                time.sleep(0.001)
    finally:
        stop.set()
        worker.join()
