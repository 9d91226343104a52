"""quarn table, quarn plot, the composition helpers and the quarn command."""

import csv
import io
import pathlib
import subprocess
import sys

import mpmath
import numpy as np
import pytest

import quarn
from quarn import plot

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tools"))
import error_budget  # noqa: E402
import eos_reference  # noqa: E402


def run_quarn(*args, cwd=None, stdin=None):
    return subprocess.run([sys.executable, "-m", "quarn", *args], cwd=cwd, input=stdin,
                          capture_output=True, text=True)


def test_composition_helpers_invert_each_other_and_salinity_is_the_methods():
    x_CO2, x_H2O, x_NaCl = quarn.mole_fractions([0.0, 0.3, 0.5], [10.0, 0.0, 100.0])
    np.testing.assert_allclose(x_CO2 + x_H2O + x_NaCl, 1.0, rtol=1e-15)
    np.testing.assert_allclose(quarn.weight_percent_NaCl(x_H2O, x_NaCl), [10, 0, 100], atol=1e-12)
    assert x_H2O[2] == 0.0 and x_NaCl[1] == 0.0
    x_H2O, x_NaCl = np.random.default_rng(3).uniform(0.0, 1.0, (2, 10000))
    assert quarn.weight_percent_NaCl(x_H2O, x_NaCl).tolist() == [
        eos_reference.salinity(h, n) for h, n in zip(x_H2O.tolist(), x_NaCl.tolist())]


def test_mole_fractions_are_the_exact_conversion_to_within_two_ulps_and_broadcast():
    rng = np.random.default_rng(29)
    x_CO2, W = rng.uniform(0.0, 1.0, 2000), rng.uniform(0.0, 60.0, 2000)
    got = quarn.mole_fractions(x_CO2[:, None], W[None, :200])
    assert [g.shape for g in got] == [(2000, 200)] * 3
    with mpmath.workdps(40):
        for i in range(0, 2000, 7):
            j = i % 200
            salt = mpmath.mpf(W[j]) / mpmath.mpf("58.448")
            water = (100 - mpmath.mpf(W[j])) / mpmath.mpf("18.016")
            solvent = 1 - mpmath.mpf(x_CO2[i])
            exact = (solvent * water / (salt + water), solvent * salt / (salt + water))
            for value, reference in zip((got[1][i, j], got[2][i, j]), exact):
                assert abs(value - float(reference)) <= 2 * np.spacing(float(reference)) + 1e-300


def test_a_phase_salinity_is_the_methods_w_bit_for_bit():
    # The salinity reported for a phase is the W of the method's order of
    # operations for the phase's mole fractions, not another rounding of it.
    rng = np.random.default_rng(31)
    x_CO2, W = rng.uniform(0.005, 0.6, 60), rng.uniform(0.5, 20.0, 60)
    r = quarn.flash(500.0, 1000.0, *quarn.mole_fractions(x_CO2, W))
    assert 10 < (r.phases == 2).sum() < 50
    for phase in (r.brine, r.co2_rich):
        expected = [eos_reference.salinity(h, n) for h, n in zip(phase.x_H2O.tolist(),
                                                                 phase.x_NaCl.tolist())]
        assert phase.wt_NaCl.tolist() == expected


def test_table_of_a_sample_list_keeps_its_columns(tmp_path):
    source = tmp_path / "samples.csv"
    source.write_text('sample,T_C,P_bar,x_CO2,x_H2O,x_NaCl\n"A, rim",500,2000,0.1,0.89,0.01\n'
                      "B,500,2000,0.3,0.6,0.1\nC,350,500,0.9,0,0.1\n")
    done = run_quarn("table", str(source))
    assert done.returncode == 0, done.stderr
    rows = list(csv.DictReader(io.StringIO(done.stdout)))
    assert [r["sample"] for r in rows] == ["A, rim", "B", "C"]
    for row, x in zip(rows[:2], [(0.1, 0.89, 0.01), (0.3, 0.6, 0.1)]):
        phi, Z, V = eos_reference.trkmix(773.15, 2000 / 1.01325, *x)
        assert [float(row[c]) for c in ("phi_CO2", "phi_H2O", "phi_NaCl", "Z", "V")] == phi + [Z, V]
    assert rows[2]["fault"] == "exp: OVERFLOW error (6203)"
    assert rows[2]["phi_CO2"] == rows[2]["V"] == ""


@pytest.mark.parametrize("kind, fixed, axis", [("phi-x", 2000, "x"), ("phi-p", 0.3, "p")])
def test_plot_lines_are_the_models_numbers(kind, fixed, axis):
    from matplotlib.figure import Figure

    if axis == "x":  # the last point, x_CO2 = 1, is the model's no-solvent form: a marker
        figure = plot.phi_x(fixed, 10, [300, 500], x_CO2=np.linspace(0, 1, 11))
        markers = [ln for ln in figure.axes[0].get_lines() if ln.get_marker() == "o"]
        assert [len(ln.get_xdata()) for ln in markers] == [1, 1]
    else:  # into Axes of one's own
        figure = Figure()
        assert plot.phi_p(fixed, 10, [300, 500], P_bar=np.linspace(100, 5000, 11),
                          ax=figure.subplots(1, 3)) is figure
    for ax, name in zip(figure.axes, ("phi_CO2", "phi_H2O", "phi_NaCl")):
        assert "φ" in ax.get_ylabel() and ax.get_xlabel()
        # Per temperature: the one-phase line, the split line and the undecided crosses.
        curves = [ln for ln in ax.get_lines() if ln.get_marker() != "o"]
        for k, T in enumerate([300, 500]):
            solid, split, _ = curves[3 * k:3 * k + 3]
            x = solid.get_xdata()
            fractions = quarn.mole_fractions(x, 10) if axis == "x" else quarn.mole_fractions(fixed, 10)
            P = fixed if axis == "x" else x
            expected = getattr(quarn.fugacity(T, P, *fractions, errors="nan"), name)
            drawn = np.where(np.isnan(solid.get_ydata()), split.get_ydata(), solid.get_ydata())
            known = ~np.isnan(drawn)
            np.testing.assert_array_equal(drawn[known], expected[known])
            assert split.get_linestyle() == ":" and split.get_color() == solid.get_color()
        assert ax.get_legend_handles_labels()[1][0] == "300 °C (outside the stated range)"


# The share of points each figure draws as one phase (solid). By a search of
# trial phases over the domain, x_CO2 0.3 in 10 wt% brine splits at 500 C at
# every pressure from 1000 bar, and along x_CO2 at 2000 bar, 10 wt% only some
# 7 % (400, 500 C) and 12 % (600 C) of the range is one stable phase.
@pytest.mark.parametrize("figure_of, most_solid", [
    (lambda: plot.phi_p(0.3, 10, [500], P_bar=np.linspace(1000, 5000, 9)), 0.0),
    (lambda: plot.phi_x(2000, 10, [400], x_CO2=np.linspace(0, 0.99, 100)), 0.10),
    (lambda: plot.phi_x(2000, 10, [600], x_CO2=np.linspace(0, 0.99, 100)), 0.15),
])
def test_plot_marks_where_the_model_splits_the_fluid(figure_of, most_solid):
    ax = figure_of().axes[0]
    solid, split = ax.get_lines()[:2]
    one_phase = np.isfinite(solid.get_ydata()).mean()
    assert one_phase <= most_solid
    assert np.isfinite(split.get_ydata()).mean() >= 1.0 - most_solid
    labels = ax.get_legend_handles_labels()[1]
    assert any(label.startswith("dotted: the model splits this fluid") for label in labels)


def test_plot_command_writes_each_format(tmp_path):
    for suffix, magic in ((".png", b"\x89PNG"), (".svg", b"<?xml"), (".pdf", b"%PDF")):
        out = tmp_path / ("phi" + suffix)
        assert plot.main(["phi-p", "--x-CO2", "0.3", "--wt-NaCl", "10", "--T", "350,450",
                          "-o", str(out)]) == 0
        assert out.read_bytes().startswith(magic)


@pytest.mark.parametrize("kind, output, words", [
    (["phi-p", "--x-CO2", "0.9", "--wt-NaCl", "90", "--T", "350"], "phi.png",
     "nothing to draw: exp: OVERFLOW error (6203) at every point"),
    (["phi-x", "--P", "2000", "--wt-NaCl", "10", "--T", "0:1:0.001"], "phi.png",
     "--T: 1,001 temperatures are more curves than a figure can show (1 to 100)"),
    (["phi-x", "--P", "2000", "--wt-NaCl", "10", "--T", "0:1e300:1e-300"], "phi.png",
     "--T: about 10^600 temperatures are more curves"),
    (["phi-p", "--x-CO2", "20", "--wt-NaCl", "10", "--T", "500"], "phi.png",
     "--x-CO2: 20 is not a mole fraction from 0 to 1"),
    (["ternary", "--T", "500", "--P", "nan"], "t.png", "--P: nan is not a pressure above 0"),
    (["ternary", "--T", "500", "--P", "-5"], "t.png", "--P: -5 is not a pressure above 0"),
    (["ternary", "--T", "-300", "--P", "1000"], "t.png",
     "--T: -300 is not a temperature above absolute zero"),
    (["section", "--P", "2000", "--wt-NaCl", "10", "--T", "1e308,1e308"], "s.png",
     "--T: 1e+308 is not a temperature above absolute zero"),
    (["section", "--P", "2000", "--wt-NaCl", "10", "--T", "500,400"], "s.png",
     "--T: '500,400': the values must increase"),
    (["section", "--P", "inf", "--wt-NaCl", "10"], "s.png", "--P: inf is not a pressure"),
    (["phi-x", "--P", "2000", "--wt-NaCl", "10", "--T", "400:300:10"], "phi.png",
     "--T: the step of '400:300:10' goes away from its stop"),
    (["phi-x", "--P", "2000", "--wt-NaCl", "10", "--T", "400"], "full.pdf",
     "full.pdf: the PDF could not be written whole"),
    (["phi-x", "--P", "2000", "--wt-NaCl", "10", "--T", "400"], "missing/phi.svg",
     "missing/phi.svg: No such file or directory"),
])
def test_figure_failures_are_one_line(tmp_path, capsys, kind, output, words):
    (tmp_path / "full.pdf").symlink_to("/dev/full")
    assert plot.main([*kind, "-o", str(tmp_path / output)]) == 2
    said = capsys.readouterr().err
    assert said.startswith("quarn plot: ") and said.count("\n") == 1 and words in said


def test_plot_without_matplotlib_says_so(monkeypatch, capsys):
    monkeypatch.setitem(sys.modules, "matplotlib.figure", None)
    assert plot.main(["phi-x", "--P", "2000", "--wt-NaCl", "10", "--T", "500", "-o", "x.png"]) == 2
    assert capsys.readouterr().err == "quarn plot: plotting needs matplotlib: pip install matplotlib (or, in the source, pip install '.[plot]')\n"


def test_quarn_command_runs_the_console_program(tmp_path):
    (tmp_path / "qnrun.dat").write_text("500 2000\n0.1 0.89 0.01\n")
    done = run_quarn(cwd=tmp_path)
    assert done.returncode == 0 and done.stderr == ""
    assert "  Program Quarn\n" in done.stdout
    assert (tmp_path / "qnout.dat").read_bytes().count(b"\r\n") == 5
    (tmp_path / "empty").mkdir()
    missing = run_quarn(cwd=tmp_path / "empty")
    assert missing.returncode == 29 and "severe (29): file not found" in missing.stderr
    usage = run_quarn("--help")
    assert usage.returncode == 0 and all(w in usage.stdout for w in ("table", "plot", "qnrun.dat"))


BOUNDS = ["kExpErrorBound", "kLogErrorBound", "kPowExpErrorBound", "kLogAbsoluteErrorBound",
          "kCubeRootErrorBound", "kSquareRootPowerErrorBound"]


def test_error_budget_holds_for_the_constants_in_the_source():
    assert error_budget.check(verbose=False) == []
    assert set(BOUNDS) <= set(error_budget.constants())


@pytest.mark.parametrize("name", [b for b in BOUNDS if b != "kCubeRootErrorBound"])
def test_error_budget_refuses_a_bound_made_1024_times_tighter(monkeypatch, name):
    # The cube root's bound has more room than 2^10 over its derived error; a
    # tighter one is caught by the lanes' and scalar paths' hard cases instead.
    source = error_budget.constants()
    monkeypatch.setattr(error_budget, "constants", lambda: {**source, name: source[name] / 1024})
    assert any(p.startswith(name) for p in error_budget.check(verbose=False))


def test_hard_case_files_are_the_certified_ones(tmp_path, capsys):
    error_budget.hard_cases(tmp_path)
    for written in tmp_path.iterdir():
        kept = ROOT / "tests/data/hard_cases" / written.name
        assert kept.read_text() == written.read_text(), written.name
    assert len(list(tmp_path.iterdir())) == 5


# A double is half an ulp from the boundaries, a midpoint on one, and a value a
# quarter ulp past a midpoint a quarter ulp from it.
@pytest.mark.parametrize("value, distance", [
    (mpmath.mpf(1.5), mpmath.mpf(2) ** -53 / 1.5),
    (1 + mpmath.mpf(2) ** -53, 0),
    (1 + mpmath.mpf(3) * 2 ** -54, mpmath.mpf(2) ** -54 / (1 + mpmath.mpf(3) * 2 ** -54))])
def test_boundary_distance(value, distance):
    assert abs(error_budget.boundary_distance(value) - distance) < mpmath.mpf(2) ** -150
