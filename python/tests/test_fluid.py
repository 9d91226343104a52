"""Densities, isochores, activities and a, b: against the independent evaluation
of the method in tools/, the method's volume given back on an isochore, the
flags, and the package's conventions (broadcasting, units, DataArrays, bad
input)."""

import pathlib
import sys

import numpy as np
import pytest

import quarn

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tools"))
import eos_reference  # noqa: E402


def random_fluids(seed, n, cap=40.0):
    rng = np.random.default_rng(seed)
    T_C = rng.uniform(350.0, 600.0, n)
    P_bar = rng.uniform(500.0, 6000.0, n)
    x = quarn.mole_fractions(rng.uniform(0.0, 1.0, n), rng.uniform(0.0, cap, n))
    return T_C, P_bar, x


def test_a_and_b_are_the_independent_evaluations_bit_for_bit():
    T_C, _, x = random_fluids(11, 300)
    r = quarn.mixture_parameters(T_C, *x)
    for i in range(300):
        m = eos_reference.mixture(T_C[i] + 273.15, x[0][i], x[1][i], x[2][i])
        assert (r.a[i], r.b[i]) == (m["a_mix"], m["b_mix"])


def test_rho_of_the_fugacity_call_is_mass_over_volume():
    T_C, P_bar, x = random_fluids(12, 500)
    r = quarn.fugacity(T_C, P_bar, *x)
    masses = x[0] * 44.0095 + x[1] * 18.01528 + x[2] * 58.44277
    np.testing.assert_array_equal(r.rho, masses / r.V)
    assert quarn.fugacity(400.0, 1000.0, 0.0, 1.0, 0.0).rho == pytest.approx(0.7266, abs=5e-5)


def test_isochore_pressure_is_the_independent_evaluation_and_gives_the_volume_back():
    T_C, P_bar, x = random_fluids(13, 400)
    V0 = quarn.fugacity(T_C, P_bar, *x).V
    T = np.random.default_rng(14).uniform(350.0, 600.0, 400)
    iso = quarn.isochore(T, *x, V=V0)
    for i in range(400):
        P_atm = eos_reference.isochore_pressure(T[i] + 273.15, x[0][i], x[1][i], x[2][i], V0[i])
        assert iso.P_bar[i] == P_atm * 1.01325
    valid = iso.valid
    assert valid.sum() > 250
    back = quarn.fugacity(T[valid], iso.P_bar[valid], *(c[valid] for c in x))
    np.testing.assert_array_equal(back.V, V0[valid])
    # From a density, the same points: rho converts with the standard masses.
    by_rho = quarn.isochore(T, *x, rho=iso.rho)
    np.testing.assert_allclose(by_rho.P_bar, iso.P_bar, rtol=1e-12)


def test_isochore_flags_water_below_its_range():
    # Pure water's isochore through 400 C, 1000 bar reaches 389 bar at 350 C.
    V0 = quarn.fugacity(400.0, 1000.0, 0.0, 1.0, 0.0).V
    iso = quarn.isochore([350.0, 400.0], 0.0, 1.0, 0.0, V=V0, stability=True)
    assert iso.P_bar[0] == pytest.approx(389.2, abs=0.05)
    assert iso.below_500_bar.tolist() == [True, False]
    assert iso.valid.tolist() == [False, True]
    assert iso.stability.tolist() == ["undecided", "stable"]
    # At 350 C: a volume inside the loop of the cubic; a liquid-like one at
    # 23 bar, below the loop's top (some 210 bar near 100 cm3/mol), where a
    # vapour-like root is larger; a liquid-like one at 351 bar, above it.
    loop = quarn.isochore(350.0, 0.0, 1.0, 0.0, V=[40.0, 28.0, 25.0])
    assert loop.mechanically_unstable.tolist() == [True, False, False]
    assert loop.not_largest_root.tolist() == [True, True, False]


def test_isochore_of_the_study_crosses_the_two_phase_field():
    x = quarn.mole_fractions(0.1, 6.0)
    V0 = quarn.fugacity(400.0, 1000.0, *x).V
    iso = quarn.isochore(np.arange(350.0, 601.0, 50.0), *x, V=V0, stability=True)
    np.testing.assert_allclose(iso.P_bar, [559.0, 1000.0, 1424.8, 1832.2, 2222.2, 2596.6], atol=0.05)
    assert iso.stability.tolist() == ["unstable", "stable", "stable", "unstable", "unstable",
                                      "stable"]


def test_activities_are_the_independent_evaluations():
    T_C, P_bar, x = random_fluids(15, 200)
    a = quarn.activities(T_C, P_bar, *x)
    for i in range(200):
        expected = eos_reference.activities(T_C[i] + 273.15, P_bar[i] / 1.01325,
                                            x[0][i], x[1][i], x[2][i])
        assert (a.a_H2O[i], a.a_CO2[i], a.gamma_NaCl[i]) == expected
    np.testing.assert_array_equal(a.a_NaCl, x[2] * a.gamma_NaCl)


@pytest.mark.parametrize("T_C, P_bar, x_CO2, W, a_H2O, a_CO2", [
    (500.0, 2000.0, 0.1, 0.0, 0.9251, 0.2434),
    (500.0, 2000.0, 0.01, 10.0, 0.9508, 0.0728),
])
def test_activities_of_the_study(T_C, P_bar, x_CO2, W, a_H2O, a_CO2):
    a = quarn.activities(T_C, P_bar, *quarn.mole_fractions(x_CO2, W), stability=True)
    assert (float(a.a_H2O), float(a.a_CO2)) == pytest.approx((a_H2O, a_CO2), abs=5e-5)
    assert a.stability == "stable"


def test_units_dataarrays_and_bad_input():
    pint = pytest.importorskip("pint")
    u = pint.UnitRegistry()
    by_units = quarn.isochore(u.Quantity(400.0, "degC"), 0.0, 1.0, 0.0,
                              V=u.Quantity(24.7926e-6, "m**3/mol"))
    assert float(by_units.P_bar) == pytest.approx(1000.0, abs=0.1)
    with pytest.raises(TypeError, match="a molar volume"):
        quarn.isochore(400.0, 0.0, 1.0, 0.0, V=u.Quantity(1.0, "bar"))
    with pytest.raises(TypeError, match="one of them"):
        quarn.isochore(400.0, 0.0, 1.0, 0.0)
    with pytest.raises(TypeError, match="one of them"):
        quarn.isochore(400.0, 0.0, 1.0, 0.0, V=25.0, rho=0.7)
    with pytest.raises(ValueError, match="errors"):
        quarn.activities(500.0, 2000.0, 0.1, 0.9, 0.0, errors="ignore")
    xr = pytest.importorskip("xarray")
    T = xr.DataArray([400.0, 500.0], dims="T", coords={"T": [400.0, 500.0]})
    labelled = quarn.activities(T, 2000.0, 0.1, 0.9, 0.0)
    assert labelled.a_H2O.dims == ("T",) and list(labelled.a_H2O["T"].values) == [400.0, 500.0]


def test_a_failing_function_raises_or_leaves_nan():
    # A salt-only solvent at 350 C overflows the solvent's exponential.
    with pytest.raises(quarn.MathError) as raised:
        quarn.activities([500.0, 350.0], 500.0, 0.9, 0.0, 0.1)
    assert raised.value.index == 1
    a = quarn.activities([500.0, 350.0], 500.0, 0.9, 0.0, 0.1, errors="nan")
    assert np.isfinite(a.a_CO2[0]) and np.isnan(a.a_CO2[1])


def test_homogenization_along_the_pressure_of_the_studys_fluid():
    x = quarn.mole_fractions(0.1, 6.0)
    r = quarn.homogenization([400.0, 500.0], *x, P_bar=(450.0, 6000.0))
    assert r.count.tolist() == [2, r.count[1]]
    np.testing.assert_allclose(r.P_bar[0, :2], [511.5, 4170.1], atol=0.3)
    assert r.one_phase_above[0, :2].tolist() == [True, False]
    assert np.isnan(r.P_bar[0, 2:]).all() and not r.one_phase_above[0, 2:].any()
    assert r.first.tolist()[0] == "unstable" and r.last.tolist()[0] == "unstable"
    # The verdicts half a bar either side, by the stability test alone.
    P = r.P_bar[0, :2]
    above = quarn.stability(400.0, P + 0.5, *x).verdict.tolist()
    below = quarn.stability(400.0, P - 0.5, *x).verdict.tolist()
    assert (above, below) == (["stable", "unstable"], ["unstable", "stable"])
    # rho of the one-phase end of the final bracket, within 0.01 bar of P.
    np.testing.assert_allclose(r.rho[0, :2], quarn.fugacity(400.0, P, *x).rho, rtol=2e-5)


def test_homogenization_temperature_of_the_studys_isochore():
    x = quarn.mole_fractions(0.1, 6.0)
    rho = quarn.fugacity(400.0, 1000.0, *x).rho
    r = quarn.homogenization_temperature(*x, rho=rho)
    assert int(r.count) == 3
    assert r.one_phase_above[:3].tolist() == [True, False, True]
    assert 350.0 < float(r.T_h_C) < 400.0 and float(r.T_h_C) == r.T_C[0]
    iso = quarn.isochore(r.T_h_C, *x, rho=rho)
    assert float(r.P_h_bar) == pytest.approx(float(iso.P_bar), abs=0.5)
    # Pure water's isochore through 400 C, 1000 bar falls below 500 bar near
    # 360 C: those points have no verdict, and it never unmixes.
    water = quarn.homogenization_temperature(0.0, 1.0, 0.0, V=quarn.fugacity(400.0, 1000.0, 0, 1, 0).V)
    assert int(water.count) == 0 and int(water.undecided_steps) >= 1 and np.isnan(water.T_h_C)
    with pytest.raises(ValueError, match="low < high"):
        quarn.homogenization(400.0, *x, P_bar=(2000.0, 1000.0))
    with pytest.raises(TypeError, match="one of them"):
        quarn.homogenization_temperature(*x)


def test_readme_fluid_inclusion_example():
    import doctest

    readme = (ROOT / "README.md").read_text()
    section = readme[readme.index("## For fluid inclusions"):readme.index("## The run file")]
    test = doctest.DocTestParser().get_doctest(section, {"quarn": quarn}, "README", "README.md", 0)
    runner = doctest.DocTestRunner(optionflags=doctest.NORMALIZE_WHITESPACE)
    runner.run(test)
    assert runner.tries == 9 and runner.failures == 0


# The study's fluid at 400 C: two phases at 505 bar and above 4170 bar, one
# between; at 600 C one phase at 2000 bar, two at 4000 (from the stability test
# alone).
PT_CELLS = [((400.0, 505.0), "unstable"), ((400.0, 2000.0), "stable"), ((400.0, 5000.0), "unstable"),
            ((600.0, 2000.0), "stable"), ((600.0, 4000.0), "unstable")]


def test_pt_figure_cells_and_isochores():
    pytest.importorskip("matplotlib")
    from matplotlib.colors import to_hex

    x = quarn.mole_fractions(0.1, 6.0)
    for (T_C, P_bar), verdict in PT_CELLS:
        assert quarn.stability(T_C, P_bar, *x).verdict == verdict
    T, P = np.array([400.0, 600.0]), np.array([505.0, 2000.0, 4000.0, 5000.0])
    panel = quarn.plot.pt(0.1, 6.0, rho=[0.71], T_C=T, P_bar=P).axes[0]
    mesh = panel.collections[0]
    colours = mesh.cmap(mesh.norm(mesh.get_array())).reshape(len(P), len(T), 4)
    colour = {"stable": "#d8e8f5", "unstable": "#f7dcc4"}
    for (T_C, P_bar), verdict in PT_CELLS:
        i, j = int(np.flatnonzero(P == P_bar)[0]), int(np.flatnonzero(T == T_C)[0])
        assert to_hex(colours[i, j]) == colour[verdict], (T_C, P_bar)
    # The isochore drawn is the model's: its line's points are quarn.isochore's.
    dashed, solid = panel.get_lines()[:2]
    T_line, P_line = dashed.get_data()
    iso = quarn.isochore(T_line, *x, rho=0.71)
    np.testing.assert_array_equal(P_line, np.where(iso.valid, iso.P_bar, np.nan))
    one_phase = solid.get_data()[1]
    stable = quarn.stability(T_line, iso.P_bar, *x).verdict == "stable"
    assert np.isfinite(one_phase).tolist() == (stable & iso.valid).tolist()
    assert any(t.get_text() == "0.710 g/cm3" for t in panel.texts)


def test_plot_command_draws_pt_and_isochores_and_refuses_bad_options(tmp_path):
    pytest.importorskip("matplotlib")
    import subprocess

    def quarn_plot(*args):
        return subprocess.run([sys.executable, "-m", "quarn", "plot", *args], capture_output=True,
                              text=True, cwd=tmp_path)

    ok = quarn_plot("isochores", "--x-CO2", "0.1", "--wt-NaCl", "6", "--start", "400:1000",
                    "500:3000", "-o", "iso.svg")
    assert ok.returncode == 0 and (tmp_path / "iso.svg").read_text().count("g/cm3") == 2
    both = quarn_plot("isochores", "--x-CO2", "0.1", "--wt-NaCl", "6", "--rho", "0.7",
                      "--start", "400:1000", "-o", "x.png")
    assert both.returncode != 0 and "give one of them" in both.stderr
    bad = quarn_plot("pt", "--x-CO2", "0.1", "--wt-NaCl", "6", "--start", "400-1000", "-o", "x.png")
    assert bad.returncode != 0 and "is not T:P" in bad.stderr
    assert not (tmp_path / "x.png").exists()
