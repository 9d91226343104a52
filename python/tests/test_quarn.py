"""The Python package: shapes, bit identity with an independent evaluation and
with the console program, faults, run files and bad arguments."""

import decimal
import os
import pathlib
import re
import subprocess
import sys

import numpy as np
import pytest

import quarn

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tools"))
import eos_reference  # noqa: E402  (the independent evaluation of the method)

WORKED_PHI = [[5.006926626049168, 0.3408345219114008, 0.5061176073846358],
              [3.2311519802376445, 0.4079196094934234, 0.2687191691096627]]


def reference(T_K, P_atm, x):
    eos_reference.fault.clear()
    phi, Z, V = eos_reference.trkmix(T_K, P_atm, *x)
    return phi + [Z, V]


@pytest.mark.parametrize("args, shape", [
    ((500, 2000, 0.1, 0.89, 0.01), ()),
    ((500, 2000, [0.1, 0.3], [0.89, 0.6], [0.01, 0.1]), (2,)),
    (([[400], [500]], [1000, 2000, 3000], 0.3, 0.6, 0.1), (2, 3)),
    ((np.full((2, 1, 2), 450.0), 2000, 0.2, 0.7, [0.1, 0.05]), (2, 1, 2)),
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


def test_random_states_are_bit_identical_with_the_independent_evaluation():
    rng = np.random.default_rng(11)
    n = 2000
    T, P = rng.uniform(350, 600, n), rng.uniform(500, 5000, n)
    x_CO2 = rng.uniform(0, 1, n)
    salt = rng.uniform(0, 0.1, n) * (1 - x_CO2)
    for single in (False, True):
        r = quarn.fugacity(T, P, x_CO2, 1 - x_CO2 - salt, salt, single_precision_inputs=single)
        T_used = T.astype(np.float32).astype(float) if single else T
        P_used = P.astype(np.float32).astype(float) if single else P
        for i in range(0, n, 7):
            expected = reference(T_used[i] + 273.15, P_used[i] / 1.01325,
                                 (x_CO2[i], 1 - x_CO2[i] - salt[i], salt[i]))
            assert [r.phi_CO2[i], r.phi_H2O[i], r.phi_NaCl[i], r.Z[i], r.V[i]] == expected


def test_worked_example_and_single_precision_temperatures():
    r = quarn.fugacity(500, 2000, [0.1, 0.3], [0.89, 0.6], [0.01, 0.1])
    np.testing.assert_allclose(np.stack([r.phi_CO2, r.phi_H2O, r.phi_NaCl], 1), WORKED_PHI,
                               rtol=5e-9)
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
    assert (caught.value.number, caught.value.function, caught.value.index) == (6203, "exp", 1)
    assert str(caught.value).startswith("exp: OVERFLOW error (6203)")
    assert isinstance(caught.value, ArithmeticError)
    r = quarn.fugacity(350, 500, x_CO2, [0.89, 0, 0], [0.01, 0.1, 0.1], errors="nan")
    assert r.fault.tolist() == [0, 6203, 6203]
    assert np.isfinite(r.phi_CO2[0]) and np.isnan([r.phi_CO2[1:], r.f_H2O[1:], r.Z[1:]]).all()
    zero = quarn.fugacity(500, 2000, 0, 0, 0)  # masked arithmetic: NaN, no fault
    assert zero.fault == 0 and np.isnan(zero.phi_CO2)


def report_fields(report):
    """The nine numbers of every result line of a report."""
    return [[float(line[16 * c + 2:16 * c + 16]) for c in range(9)]
            for line in report.split("\r\n")[4:-1]]


def e14_8(value):
    """E14.8's mantissa and exponent, rounded half away from zero from the exact value."""
    d = decimal.Decimal(value)
    exponent = d.adjusted() + 1
    digits = d.scaleb(-exponent).quantize(decimal.Decimal("1e-8"), decimal.ROUND_HALF_UP)
    return float(digits.scaleb(exponent))


def test_run_matches_the_console_programs_report(tmp_path):
    rng = np.random.default_rng(5)
    x = rng.uniform(0, 0.5, (200, 3))
    lines = ["437.3 2750.5"] + [" ".join(repr(float(v)) for v in row) for row in x]
    (tmp_path / "qnrun.dat").write_text("\n".join(lines) + "\n")
    program = pathlib.Path(quarn.__file__).parent / "bin" / "quarn"
    done = subprocess.run([program], cwd=tmp_path, capture_output=True)
    assert done.returncode == 0, done.stderr
    shown = report_fields((tmp_path / "qnout.dat").read_bytes().decode())
    numbers = quarn.run(tmp_path / "qnrun.dat")
    keys = ["XCO2", "phiCO2", "fCO2", "XH2O", "phiH2O", "fH2O", "XNaCl", "phiNaCl", "fNaCl"]
    for i, row in enumerate(shown):
        assert row == [e14_8(numbers[k][i]) for k in keys]


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
