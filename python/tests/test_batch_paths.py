"""The batch call as quarn.fugacity runs it: spread over worker threads, each
forming f, the faults and the range flags of its own share; and the SIMD loop
chosen by QUARN_SIMD giving the same bits as the scalar one."""
import json
import os
import subprocess
import sys
import warnings

import numpy as np
import pytest

import quarn
from quarn import _core

# A composition the method overflows on at 350 C and 500 bar (exp), from the
# fault tests: no water, CO2 with salt.
OVERFLOWING = (0.9, 0.0, 0.1)


def test_f_and_faults_are_formed_in_every_workers_share():
    n = 40_000  # two worker shares of 20,000 points on two threads
    rng = np.random.default_rng(1)
    x_n = 0.05 * rng.random(n)
    x_c = 0.5 * rng.random(n)
    x_h = 1 - x_c - x_n
    T, P = np.full(n, 350.0), np.full(n, 500.0)
    bad = [7, 20_001, 39_999]  # in the first share, and the second's start and end
    for i in bad:
        x_c[i], x_h[i], x_n[i] = OVERFLOWING
    r = quarn.fugacity(T, P, x_c, x_h, x_n, errors="nan", threads=2)
    assert np.flatnonzero(r.fault).tolist() == bad
    assert (r.fault[bad] == 6203).all() and np.isnan(r.f_CO2[bad]).all()
    good = np.ones(n, bool)
    good[bad] = False
    # f = (x phi) P, formed here independently with NumPy's own arithmetic.
    for f, x, phi in ((r.f_CO2, x_c, r.phi_CO2), (r.f_H2O, x_h, r.phi_H2O),
                      (r.f_NaCl, x_n, r.phi_NaCl)):
        assert np.array_equal(f[good], ((x * phi) * P)[good])
    # The first failing point is the one raised, whichever worker met it.
    with pytest.raises(quarn.MathError) as caught:
        quarn.fugacity(T, P, x_c, x_h, x_n, threads=2)
    assert (caught.value.index, caught.value.number) == (7, 6203)
    for i in bad[:2]:
        x_c[i], x_h[i], x_n[i] = 0.2, 0.7, 0.1
    with pytest.raises(quarn.MathError) as caught:
        quarn.fugacity(T, P, x_c, x_h, x_n, threads=2)
    assert caught.value.index == 39_999


def test_in_range_and_the_fraction_warning_match_numpy():
    n = 30_000
    rng = np.random.default_rng(5)
    T = rng.choice([349.999, 350.0, 475.0, 600.0, 600.001, np.nan], n)
    P = rng.choice([499.999, 500.0, 3000.0, np.nan], n)
    x_c = rng.choice([-1e-9, 0.0, 0.3, 0.5, 1.0, 1.0000001, np.nan], n)
    x_n = rng.choice([0.0, 0.1, 0.2], n)
    x_h = 1.0 - x_c - x_n + rng.choice([0.0, 0.0, 5e-7, 2e-6, -2e-6], n)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        r = quarn.fugacity(T, P, x_c, x_h, x_n, errors="nan", threads=2)
    each = [(x >= 0) & (x <= 1) for x in (x_c, x_h, x_n)]
    fit = each[0] & each[1] & each[2] & (np.abs(x_c + x_h + x_n - 1.0) <= 1e-6)
    expected = fit & (T >= 350) & (T <= 600) & (P >= 500)
    assert np.array_equal(r.in_range, expected)
    unfit = np.flatnonzero(~fit)
    [warning] = [w for w in caught if issubclass(w.category, quarn.RangeWarning)]
    text = str(warning.message)
    assert text.startswith(f"{unfit.size} composition(s)")
    first = ", ".join(f"{float(a[unfit[0]]):g}" for a in (x_c, x_h, x_n))
    assert f"the first {first} " in text


def _run(code, simd):
    env = dict(os.environ)
    env.pop("QUARN_SIMD", None)
    if simd is not None:
        env["QUARN_SIMD"] = simd
    return subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True,
                          check=True).stdout.strip()


def test_quarn_simd_forces_a_path_the_processor_offers():
    widest = _run("from quarn import _core; print(_core.simd_path())", None)
    assert widest in ("avx512", "avx2", "scalar")
    assert widest == _core.simd_path() or "QUARN_SIMD" in os.environ
    assert _run("from quarn import _core; print(_core.simd_path())", "scalar") == "scalar"
    # A path the processor lacks, or no path at all, leaves the widest in use.
    assert _run("from quarn import _core; print(_core.simd_path())", "no-such-path") == widest
    if widest != "avx512":
        assert _run("from quarn import _core; print(_core.simd_path())", "avx512") == widest


def test_a_loop_that_fails_its_self_test_gives_way_with_one_warning():
    widest = _run("from quarn import _core; print(_core.simd_path())", None)
    if widest == "scalar":
        pytest.skip("this processor has no lane loop")
    code = """
import json, warnings, numpy as np, quarn
from quarn import _core
with warnings.catch_warnings(record=True) as caught:
    warnings.simplefilter("always")
    a = quarn.fugacity(500, 2000, [0.1, 0.3], [0.89, 0.6], [0.01, 0.1])
    b = quarn.fugacity(400, 1000, 0.2, 0.7, 0.1)
said = [str(w.message) for w in caught if issubclass(w.category, RuntimeWarning)]
print(json.dumps([_core.simd_path(), said, a.phi_CO2.tolist()]))
"""
    env = dict(os.environ, QUARN_SIMD_SELF_TEST_FAULT=widest)
    env.pop("QUARN_SIMD", None)
    done = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True,
                          check=True)
    path, said, phi = json.loads(done.stdout)
    assert path == {"avx512": "avx2", "avx2": "scalar"}[widest]
    assert said == [f"quarn: the {widest} loop gave other bits than the scalar loop in its "
                    f"self-test; the {path} loop is in use"]
    assert phi == quarn.fugacity(500, 2000, [0.1, 0.3], [0.89, 0.6], [0.01, 0.1]).phi_CO2.tolist()


def test_every_path_gives_the_scalar_bits(tmp_path):
    code = f"""
import numpy as np, quarn
rng = np.random.default_rng(3)
n = 50_000
x_n = 0.25 * rng.random(n) ** 2
x_c = (1 - x_n) * rng.random(n)
T = rng.uniform(-50, 900, n)
P = rng.uniform(-100, 8000, n)
r = quarn.fugacity(T, P, x_c, 1 - x_c - x_n, x_n, errors="nan")
from quarn import _core
path = _core.simd_path()
np.save(r"{tmp_path}/" + path + ".npy", np.stack([r.phi_CO2, r.phi_H2O, r.phi_NaCl, r.f_CO2,
        r.f_H2O, r.f_NaCl, r.Z, r.V, r.ln_phi_CO2, r.ln_phi_H2O, r.ln_phi_NaCl, r.fault]))
print(path)
"""
    paths = {_run(code, p) for p in (None, "scalar", "avx2", "avx512")}
    assert "scalar" in paths
    scalar = np.load(tmp_path / "scalar.npy")
    assert (scalar[-1] != 0).sum() > 100  # the draws reach faults too
    for path in paths - {"scalar"}:
        other = np.load(tmp_path / f"{path}.npy")
        assert np.array_equal(scalar.view(np.uint64), other.view(np.uint64)), path
