"""The package where scientists work: units and range warnings, pandas, xarray,
Dask, ln phi, the package's own metadata and types."""

import pathlib
import subprocess
import sys
import warnings

import numpy as np
import pytest

import quarn

ROOT = pathlib.Path(__file__).resolve().parents[2]

pint = pytest.importorskip("pint")
xr = pytest.importorskip("xarray")
da = pytest.importorskip("dask.array")
Q = pint.UnitRegistry().Quantity
BRINE = (0.1, 0.89, 0.01)

# Each case: the arguments; the plain arguments they mean (or the error and its
# words); whether a RangeWarning comes; and in_range.
UNIT_CASES = [
    ((500, 2000, *BRINE), (500, 2000, *BRINE), False, True),
    ((Q(500, "degC"), Q(200, "MPa"), *BRINE), (500, 2000, *BRINE), False, True),
    ((Q(773.15, "K"), Q(2000, "bar"), *BRINE), (773.15 - 273.15, 2000, *BRINE), False, True),
    ((500, 2000, Q(10, "percent"), Q(89, "percent"), Q(1, "percent")), (500, 2000, *BRINE), False,
     True),
    ((Q(500, "m"), 2000, *BRINE), (TypeError, "T_C must be a temperature"), False, None),
    ((500, Q(2000, "K"), *BRINE), (TypeError, "P_bar must be a pressure"), False, None),
    ((500, 2000, Q(1, "kg"), 0.89, 0.01), (TypeError, "x_CO2 must be a mole fraction"), False, None),
    ((500, 2000, 10, 89, 1), (500, 2000, 10, 89, 1), True, False),  # percent given as fractions
    ((500, 2000, 0.1, 0.8, 0.01), (500, 2000, 0.1, 0.8, 0.01), True, False),  # no sum of 1
    ((500, 2000, -0.1, 1.09, 0.01), (500, 2000, -0.1, 1.09, 0.01), True, False),
    ((300, 2000, *BRINE), (300, 2000, *BRINE), False, False),  # extrapolated knowingly: no warning
    ((500, 499, *BRINE), (500, 499, *BRINE), False, False),
    ((600, 500, 0.1, 0.9 - 1e-7, 0.0), (600, 500, 0.1, 0.9 - 1e-7, 0.0), False, True),
]


@pytest.mark.parametrize("args, means, warns, in_range", UNIT_CASES)
def test_units_ranges_and_warnings(args, means, warns, in_range):
    if isinstance(means[0], type):
        with pytest.raises(means[0], match=means[1]):
            quarn.fugacity(*args)
        return
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        r = quarn.fugacity(*args, errors="nan")
    assert [w.category for w in caught] == ([quarn.RangeWarning] if warns else [])
    assert bool(r.in_range) is in_range
    expected = quarn.fugacity(*means, errors="nan") if not warns else r
    np.testing.assert_allclose([r.phi_CO2, r.phi_H2O, r.phi_NaCl],
                               [expected.phi_CO2, expected.phi_H2O, expected.phi_NaCl], rtol=1e-13)


def numpy_result(T, P, x_CO2):
    return quarn.fugacity(T, P, x_CO2, 0.99 - np.asarray(x_CO2), 0.01)


def test_dataframe_has_every_input_and_result():
    r = numpy_result([[400], [500]], [1000, 2000, 3000], 0.2)
    frame = r.to_dataframe()
    assert len(frame) == 6 and list(frame.columns[:5]) == ["T_C", "P_bar", "x_CO2", "x_H2O", "x_NaCl"]
    assert {"ln_phi_NaCl", "f_H2O", "V", "fault", "in_range"} <= set(frame.columns)
    assert frame["P_bar"].tolist() == [1000, 2000, 3000] * 2
    np.testing.assert_array_equal(frame["phi_CO2"], r.phi_CO2.ravel())


def test_dataarrays_broadcast_by_name_and_keep_coordinates():
    T = xr.DataArray([400.0, 500.0], dims="T", coords={"T": [400, 500]})
    P = xr.DataArray([1000.0, 2000.0, 3000.0], dims="P", coords={"P": [1, 2, 3]})
    x = xr.DataArray([0.1, 0.2], dims="T", coords={"T": [400, 500]})  # (2,) against P's (3,)
    r = quarn.fugacity(T, P, x, 0.99 - x, 0.01)
    assert r.phi_CO2.dims == ("T", "P") and r.phi_CO2.coords["P"].values.tolist() == [1, 2, 3]
    expected = numpy_result(T.values[:, None], P.values[None, :], x.values[:, None])
    for name in ("phi_CO2", "f_NaCl", "in_range", "P_bar"):
        np.testing.assert_array_equal(getattr(r, name).values, getattr(expected, name), name)
    with pytest.raises(ValueError):  # coordinates that disagree are not joined silently
        quarn.fugacity(T, 2000, x.assign_coords(T=[400, 501]), 0.5, 0.4)
    with pytest.raises(TypeError, match="no dimension names"):
        quarn.fugacity(T, [1000.0, 2000.0], 0.1, 0.89, 0.01)


def test_dask_arrays_stay_lazy_and_compute_the_same_bits():
    x = da.linspace(0.0, 0.9, 10_001, chunks=1000)
    r = quarn.fugacity(500, 2000, x, 0.99 - x, 0.01)
    assert isinstance(r.phi_CO2, da.Array) and isinstance(r.fault, da.Array)
    expected = numpy_result(500, 2000, x.compute())
    for name in ("phi_CO2", "f_H2O", "ln_phi_NaCl", "V", "fault", "in_range"):
        np.testing.assert_array_equal(getattr(r, name).compute(), getattr(expected, name), name)
    T = da.from_array(np.array([500.0] * 1500 + [350.0] * 500), chunks=700)
    failing = quarn.fugacity(T, 500, 0.9, 0.0, 0.1)
    with pytest.raises(quarn.MathError) as caught:  # the point's index in the whole array
        failing.phi_CO2.compute()
    assert caught.value.index == 1500


def test_dask_on_a_two_worker_cluster():
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster):
        x = da.random.default_rng(5).uniform(0.0, 0.9, 20_000, chunks=2_500)
        r = quarn.fugacity(da.full(20_000, 450.0, chunks=2_500), 3000, x, 0.99 - x, 0.01)
        got, x_values = da.compute(r.phi_H2O, x)
    np.testing.assert_array_equal(got, numpy_result(450.0, 3000, x_values).phi_H2O)


# x_CO2 0.3 in 10 wt% brine splits at 400-600 C from 1000 bar up, and CO2 at
# x 0.01 stays dissolved in a 20 wt% brine at 400 C, 2000 bar (a search of
# trial phases over the whole domain).
VERDICT_CASES = [((400.0, 2000.0, 0.01, 20.0), "stable"), ((400.0, 1000.0, 0.3, 10.0), "unstable"),
                 ((500.0, 3000.0, 0.3, 10.0), "unstable"), ((600.0, 5000.0, 0.3, 10.0), "unstable")]


def test_stability_verdict_rides_along_every_kind_of_array():
    T, P, x, w = (np.array(c) for c in zip(*(case for case, _ in VERDICT_CASES)))
    z = quarn.mole_fractions(x, w)
    plain = quarn.fugacity(T, P, *z)
    assert plain.stability is None and "stability" not in plain.to_dataframe().columns
    r = quarn.fugacity(T, P, *z, stability=True)
    assert r.stability.tolist() == [v for _, v in VERDICT_CASES]
    np.testing.assert_array_equal(r.phi_CO2, plain.phi_CO2)
    assert r.to_dataframe()["stability"].tolist() == r.stability.tolist()
    labelled = quarn.fugacity(*(xr.DataArray(v, dims="state") for v in (T, P, *z)), stability=True)
    assert labelled.stability.dims == ("state",)
    assert labelled.stability.values.tolist() == r.stability.tolist()
    lazy = quarn.fugacity(da.from_array(T, chunks=3), P, *z, stability=True)
    assert isinstance(lazy.stability, da.Array)
    assert lazy.stability.compute().tolist() == r.stability.tolist()
    assert quarn.fugacity(da.from_array(T, chunks=3), P, *z).stability is None


def test_package_version_plot_and_types(tmp_path):
    assert quarn.__version__ == (ROOT / "VERSION").read_text().strip()
    assert callable(quarn.plot.phi_x)
    typed = subprocess.run([sys.executable, "-m", "mypy", "--strict", "-p", "quarn"],
                           capture_output=True, text=True, cwd=tmp_path)
    assert typed.returncode == 0, typed.stdout
