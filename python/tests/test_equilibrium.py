"""quarn.flash, quarn.stability and quarn.one_phase_limit: broadcasting, the
certificate re-checked with quarn.fugacity, the sections' limits, bad input,
the table's --flash columns and the figures."""

import csv
import io
import pickle

import numpy as np
import pytest

import quarn
from quarn import table


def ln_f(T_C, P_bar, x):
    """ln f_i / P of a phase with the report-exact method, from quarn.fugacity."""
    r = quarn.fugacity(T_C, P_bar, *x)
    return np.array([np.log(xi) + lp for xi, lp in zip(x, (r.ln_phi_CO2, r.ln_phi_H2O, r.ln_phi_NaCl))])


def phase(p):
    return np.array([p.x_CO2, p.x_H2O, p.x_NaCl])


@pytest.mark.parametrize("T_C, P_bar, x_CO2, wt_NaCl", [
    (400.0, 2000.0, 0.2, 20.0),
    (450.0, 2500.0, 0.3, 10.0),
    (520.0, 1500.0, 0.45, 25.0),
    (380.0, 1500.0, 0.2, 8.0),
    (560.0, 1200.0, 0.56, 15.0),
])
def test_two_phase_answers_carry_a_certificate_that_holds(T_C, P_bar, x_CO2, wt_NaCl):
    z = np.array(quarn.mole_fractions(x_CO2, wt_NaCl))
    r = quarn.flash(T_C, P_bar, *z)
    assert r.phases == 2 and r.status in ("brine + CO2-rich", "salt split")
    brine, rich = phase(r.brine), phase(r.co2_rich)
    assert np.all(np.abs(ln_f(T_C, P_bar, brine) - ln_f(T_C, P_bar, rich)) < 1e-5)
    assert np.all(np.abs(r.beta * rich + (1 - r.beta) * brine - z) < 1e-9)
    assert 0 < r.beta < 1 and r.delta_G_RT < 0 and r.min_tpd > -1e-9
    assert r.brine.wt_NaCl > r.co2_rich.wt_NaCl
    # phi of each phase is the model's own for that phase.
    f = quarn.fugacity(T_C, P_bar, *brine)
    assert (r.brine.phi_CO2, r.brine.phi_H2O, r.brine.phi_NaCl, r.brine.Z) == \
        (f.phi_CO2, f.phi_H2O, f.phi_NaCl, f.Z)


def test_broadcasting_gives_each_point_its_own_answer():
    T = np.array([[400.0], [500.0]])
    x = np.array([0.01, 0.2, 0.4])
    fractions = quarn.mole_fractions(x, 20.0)
    r = quarn.flash(T, 2000.0, *fractions, threads=2)
    assert r.phases.shape == r.beta.shape == r.brine.x_CO2.shape == r.status.shape == (2, 3)
    for i in range(2):
        for j in range(3):
            one = quarn.flash(float(T[i, 0]), 2000.0, *(float(f[j]) for f in fractions))
            assert one.status == r.status[i, j]
            assert one.brine.x_CO2 == r.brine.x_CO2[i, j] or np.isnan(one.brine.x_CO2)
    assert r.status[0, 0] == "one phase" and np.isnan(r.beta[0, 0])
    assert r.brine.x_CO2[0, 0] == r.co2_rich.x_CO2[0, 0] == 0.01  # both phases are the bulk
    assert r.in_range.all()


def test_answers_do_not_depend_on_which_axis_varies_fastest():
    # A section of 5 temperatures by 7 feeds laid out both ways, and its
    # points shuffled: every answer lands on its own point, the same bits.
    T = np.linspace(380.0, 580.0, 5)
    fractions = np.array(quarn.mole_fractions(np.geomspace(0.005, 0.7, 7), 10.0))
    by_row = quarn.flash(T[:, None], 2000.0, *fractions[:, None, :], threads=2)
    by_column = quarn.flash(T[None, :], 2000.0, *fractions[:, :, None], threads=2)
    order = np.random.default_rng(33).permutation(35)
    T_flat = np.repeat(T, 7)[order]
    x_flat = np.tile(fractions, 5)[:, order]
    shuffled = quarn.flash(T_flat, 2000.0, *x_flat, threads=1)
    limits = quarn.one_phase_limit(T_flat, 2000.0, 10.0)
    stable = quarn.stability(T_flat, 2000.0, *x_flat)
    for name in ("beta", "min_tpd", "tpd_min"):
        a, b = getattr(by_row, name), getattr(by_column, name)
        np.testing.assert_array_equal(a.T, b)
        np.testing.assert_array_equal(a.reshape(-1)[order], getattr(shuffled, name))
    np.testing.assert_array_equal(by_row.brine.x_CO2.reshape(-1)[order], shuffled.brine.x_CO2)
    assert (by_row.status.T == by_column.status).all()
    assert (by_row.phases.reshape(-1)[order] == shuffled.phases).all()
    assert set(by_row.status.reshape(-1)) >= {"one phase", "brine + CO2-rich"}
    for k in (0, 17, 34):
        one = quarn.one_phase_limit(float(T_flat[k]), 2000.0, 10.0)
        assert one.x_CO2 == limits.x_CO2[k]
        assert quarn.stability(float(T_flat[k]), 2000.0, *x_flat[:, k]).tpd_min == stable.tpd_min[k]


def test_stability_and_the_one_phase_limit_agree():
    limit = quarn.one_phase_limit([400.0, 500.0], 2000.0, [20.0, 6.0])
    assert list(limit.status) == ["found", "found"]
    assert np.all(limit.tolerance <= 1e-6)
    below = quarn.stability([400.0, 500.0], 2000.0,
                            *quarn.mole_fractions(limit.x_CO2 - 1e-3, np.array([20.0, 6.0])))
    above = quarn.stability([400.0, 500.0], 2000.0,
                            *quarn.mole_fractions(limit.x_CO2 + 1e-3, np.array([20.0, 6.0])))
    assert list(below.verdict) == ["stable", "stable"]
    assert list(above.verdict) == ["unstable", "unstable"]
    assert np.all(above.tpd_min < 0) and np.all(below.tpd_min > -1e-9)
    # The incipient phase of the 20 wt% section is CO2-rich and fresher.
    assert limit.incipient_x_CO2[0] > limit.x_CO2[0] and limit.incipient_wt_NaCl[0] < 20.0


def test_undecided_states_say_why_and_nothing_raises():
    r = quarn.flash(400.0, 2000.0, [-0.1, 0.2, 0.2], [0.9, 0.0, 0.5], [0.2, 0.8, 0.3])
    assert list(r.status) == ["undecided", "undecided", "undecided"]
    assert list(r.undecided) == ["not a composition", "feed beyond the salinity cap",
                                 "feed beyond the salinity cap"]
    assert np.all(np.isnan(r.beta)) and np.all(r.phases == 0)
    percent = quarn.flash(400.0, 2000.0, 20.0, 72.0, 8.0)
    assert percent.normalised and percent.status != "undecided"
    assert not quarn.flash(300.0, 2000.0, 0.2, 0.7, 0.1).in_range


@pytest.mark.parametrize("call, words", [
    (lambda: quarn.flash(400, 2000, 0.2, 0.7, 0.1, salinity_cap=0), "salinity_cap"),
    (lambda: quarn.flash(400, 2000, 0.2, 0.7, 0.1, salinity_cap=40, phase_salinity_limit=30),
     "phase_salinity_limit"),
    (lambda: quarn.flash(400, 2000, [0.2, 0.3], [0.7, 0.6, 0.5], 0.1), "do not broadcast"),
    (lambda: quarn.flash("400", 2000, 0.2, 0.7, 0.1), "real number"),
    (lambda: quarn.one_phase_limit(400, 2000, 20, salinity_cap=100), "salinity_cap"),
])
def test_bad_arguments_are_errors_that_say_what(call, words):
    with pytest.raises((ValueError, TypeError), match=words):
        call()


def test_quantities_with_units_are_converted():
    pint = pytest.importorskip("pint")
    u = pint.UnitRegistry()
    z = quarn.mole_fractions(0.2, 20.0)
    with_units = quarn.flash(u.Quantity(673.15, "kelvin"), 200 * u.MPa, *z)
    plain = quarn.flash(400.0, 2000.0, *z)
    assert with_units.beta == pytest.approx(plain.beta, rel=1e-12)
    limit = quarn.one_phase_limit(400.0, 2000.0, 20 * u.percent)
    assert limit.x_CO2 == quarn.one_phase_limit(400.0, 2000.0, 20.0).x_CO2
    with pytest.raises(TypeError, match="a temperature"):
        quarn.flash(2000 * u.bar, 2000.0, *z)


def test_to_dataframe_prefixes_the_phases():
    pytest.importorskip("pandas")
    frame = quarn.flash([400.0, 500.0], 2000.0, *quarn.mole_fractions(0.2, 20.0)).to_dataframe()
    assert len(frame) == 2
    assert {"brine_x_CO2", "co2_rich_wt_NaCl", "beta", "status", "min_tpd"} <= set(frame.columns)


def test_results_pickle_whole():
    r = quarn.flash(400.0, 2000.0, *quarn.mole_fractions(0.2, 20.0))
    again = pickle.loads(pickle.dumps(r))
    assert again.beta == r.beta and again.brine.wt_NaCl == r.brine.wt_NaCl


def test_table_flash_columns(capsys):
    source = io.BytesIO(b"T_C,P_bar,x_CO2,wt_NaCl,sample\n400,2000,0.2,20,a\n400,2000,0.01,20,b\n"
                        b"400,x,0.2,20,c\n519.3,3651,0.467,29.7,d\n")
    states = table.CsvStates(source, "states.csv", extras=("flash",))
    out = io.BytesIO()
    states.write(out)
    rows = list(csv.DictReader(io.StringIO(out.getvalue().decode())))
    assert all(len(row) == 5 + len(table.RESULT_COLUMNS) + len(table.FLASH_COLUMNS) for row in rows)
    expected = quarn.flash(400.0, 2000.0, *quarn.mole_fractions(0.2, 20.0))
    assert rows[0]["status"] == "brine + CO2-rich" and rows[0]["phases"] == "2"
    assert float(rows[0]["beta"]) == expected.beta
    assert float(rows[0]["brine_wt_NaCl"]) == expected.brine.wt_NaCl
    assert rows[1]["status"] == "one phase" and rows[1]["beta"] == ""
    assert rows[2]["fault"] == "line 4: P_bar 'x' is not a number (decimal digits 0-9 only)"
    assert rows[2]["status"] == ""
    assert rows[0]["beta_saline"] == "" and rows[0]["saline_wt_NaCl"] == ""
    # A three-phase state, its phases as a search of 27,900 trial phases found them.
    assert rows[3]["status"] == "three phases" and rows[3]["phases"] == "3"
    found = [(rows[3][f"{p}_x_CO2"], rows[3][f"{p}_wt_NaCl"]) for p in ("brine", "saline", "co2_rich")]
    for (x, w), (x_expected, w_expected) in zip(found, [(0.0489, 51.1), (0.4469, 42.4),
                                                         (0.5587, 0.43)]):
        assert float(x) == pytest.approx(x_expected, abs=2e-3)
        assert float(w) == pytest.approx(w_expected, abs=0.5)
    assert float(rows[3]["beta_saline"]) == pytest.approx(0.377, abs=0.01)
    with pytest.raises(quarn.table.CommandError, match="result columns"):
        table.CsvStates(io.BytesIO(b"T_C,P_bar,x_CO2,wt_NaCl,beta\n"), "x.csv", extras=("flash",))


def test_table_stability_columns():
    # Verdicts of a dense search of trial phases: 550 C, 1500 bar, x_CO2 0.1 in
    # 10 wt% has a trial phase (x_CO2 0.1192, 5.68 wt%) at tpd -1.28e-4.
    source = io.BytesIO(b"T_C,P_bar,x_CO2,wt_NaCl\n550,1500,0.1,10\n400,2000,0.01,20\n"
                        b"400,2000,0.2,20\n400,2000,0.2,60\n")
    out = io.BytesIO()
    table.CsvStates(source, "s.csv", extras=("flash", "stability")).write(out)
    rows = list(csv.DictReader(io.StringIO(out.getvalue().decode())))
    assert [r["stability"] for r in rows] == ["unstable", "stable", "unstable", "undecided"]
    assert float(rows[0]["tpd_min"]) <= -1.28e-4
    assert float(rows[1]["tpd_min"]) >= 0.0
    assert list(rows[0])[-2:] == ["stability", "tpd_min"]
    assert [r["phases"] for r in rows] == ["2", "1", "2", "0"]


def test_grid_table_with_flash(tmp_path):
    target = tmp_path / "grid.csv"
    assert table.main(["--T", "400", "--P", "2000", "--x-CO2", "0.01,0.2", "--wt-NaCl", "20",
                       "--flash", "-o", str(target)]) == 0
    rows = list(csv.DictReader(target.open()))
    assert [r["status"] for r in rows] == ["one phase", "brine + CO2-rich"]


def test_figures_show_the_limits_and_the_tie_lines(tmp_path):
    pytest.importorskip("matplotlib")
    from quarn import cli

    figure = quarn.plot.section(2000.0, [6.0, 20.0], T_C=[400.0, 500.0, 600.0])
    assert len(figure.axes) == 2
    line = [ln for ln in figure.axes[1].lines if ln.get_label() == "one-phase limit"][0]
    expected = quarn.one_phase_limit([400.0, 500.0, 600.0], 2000.0, 20.0).x_CO2
    assert np.array_equal(line.get_xdata(), expected)
    assert cli.main(["plot", "ternary", "--T", "400", "--P", "2000", "-o",
                     str(tmp_path / "t.png")]) == 0
    assert (tmp_path / "t.png").stat().st_size > 10000
    assert cli.main(["plot", "section", "--P", "2000", "--wt-NaCl", "1:10:1", "-o",
                     str(tmp_path / "s.png")]) == 2  # ten panels are too many: a usage error
    assert not (tmp_path / "s.png").exists()
    assert cli.main(["plot", "section", "--P", "2000", "--wt-NaCl", "10", "--x-CO2", "0.1",
                     "-o", str(tmp_path / "s.png")]) == 2  # one column of cells is no section
    assert cli.main(["plot", "section", "--P", "2000", "--wt-NaCl", "10", "--T", "350:380:10",
                     "--x-CO2", "0.02:0.8:0.26", "-o", str(tmp_path / "s.png")]) == 0


# Cells of a section at 2000 bar, 10 wt%, by what a search of trial phases
# over the domain finds there: one phase, a brine + CO2-rich split, and brines
# beyond the salinity at which the model runs away (undecided) at 370 C.
SECTION_CELLS = [((400.0, 0.02), "one phase"), ((400.0, 0.3), "brine + CO2-rich"),
                 ((370.0, 0.8), "undecided")]


def test_section_cells_say_the_flashs_answer_and_leave_undecided_blank():
    pytest.importorskip("matplotlib")
    from matplotlib.colors import to_hex

    T = np.array([370.0, 400.0])
    x = np.array([0.02, 0.3, 0.8])
    panel = quarn.plot.section(2000.0, 10.0, T_C=T, x_CO2=x).axes[0]
    mesh = panel.collections[0]
    colours = mesh.cmap(mesh.norm(mesh.get_array())).reshape(len(T), len(x), 4)
    expected_colour = {"one phase": "#d8e8f5", "brine + CO2-rich": "#f7dcc4", "undecided": "#ffffff"}
    for (T_C, x_CO2), verdict in SECTION_CELLS:
        i, j = int(np.flatnonzero(T == T_C)[0]), int(np.flatnonzero(x == x_CO2)[0])
        assert to_hex(colours[i, j]) == expected_colour[verdict], (T_C, x_CO2)
    labels = [t.get_text() for t in panel.get_legend().get_texts()]
    assert {"one phase", "brine + CO2-rich", "undecided (left blank)", "one-phase limit"} <= set(labels)
    # The cells tile the axes: each centre in its cell, none overlapping.
    edges_x = mesh.get_coordinates()[0, :, 0]
    assert np.all(np.diff(edges_x) > 0) and np.all((edges_x[:-1] < x) & (x < edges_x[1:]))


def test_readme_unmixing_example():
    import doctest
    import pathlib

    readme = (pathlib.Path(__file__).resolve().parents[2] / "README.md").read_text()
    section = readme[readme.index("## Where the fluid unmixes"):readme.index("## For fluid inclusions")]
    test = doctest.DocTestParser().get_doctest(section, {"quarn": quarn}, "README", "README.md", 0)
    runner = doctest.DocTestRunner(optionflags=doctest.NORMALIZE_WHITESPACE)
    runner.run(test)
    assert runner.tries == 4 and runner.failures == 0


def test_dataarrays_keep_their_dimensions_and_coordinates():
    xr = pytest.importorskip("xarray")
    T = xr.DataArray([400.0, 500.0], dims="T", coords={"T": [400.0, 500.0]})
    x = xr.DataArray([0.01, 0.2, 0.4], dims="x", coords={"x": [0.01, 0.2, 0.4]})
    c, h, s = (x.copy(data=f) for f in quarn.mole_fractions(x.values, 20.0))
    r = quarn.flash(T, 2000.0, c, h, s)
    assert r.beta.dims == ("T", "x") and list(r.beta.coords["x"].values) == [0.01, 0.2, 0.4]
    assert r.brine.wt_NaCl.dims == ("T", "x") and r.status.dims == ("T", "x")
    plain = quarn.flash(np.array([[400.0], [500.0]]), 2000.0, c.values, h.values, s.values)
    assert np.array_equal(r.brine.x_CO2.values, plain.brine.x_CO2, equal_nan=True)
    limit = quarn.one_phase_limit(T, 2000.0, xr.DataArray([6.0, 20.0], dims="wt"))
    assert limit.x_CO2.dims == ("T", "wt")
    assert quarn.stability(T, 2000.0, c, h, s).verdict.dims == ("T", "x")
    shifted = x.assign_coords(x=[0.02, 0.2, 0.4])
    with pytest.raises(ValueError, match="coordinates disagree"):
        quarn.flash(T, 2000.0, shifted, h, s)
    with pytest.raises(TypeError, match="DataArrays or scalars"):
        quarn.flash(T, 2000.0, np.array([0.1, 0.2, 0.3]), h, s)


def test_three_phases_come_with_every_phase_and_their_shares():
    # An independent solution of this state: a brine of x_CO2 0.0489 and
    # 51.1 wt%, a saline CO2-bearing phase of 0.4469 and 42.4 wt%, a CO2-rich
    # fluid of 0.5587 and 0.43 wt%, with shares 0.098, 0.377 and 0.525.
    z = np.array(quarn.mole_fractions(0.467, 29.7))
    r = quarn.flash([519.3, 400.0], [3651.0, 2000.0], *z)
    assert list(r.status) == ["three phases", "brine + CO2-rich"]
    assert list(r.phases) == [3, 2]
    expected = [(r.brine, 0.0489, 51.1), (r.saline_co2_bearing, 0.4469, 42.4),
                (r.co2_rich, 0.5587, 0.43)]
    for p, x_CO2, wt in expected:
        assert abs(p.x_CO2[0] - x_CO2) < 2e-3 and abs(p.wt_NaCl[0] - wt) < 0.5
    shares = [1 - r.beta[0] - r.beta_saline[0], r.beta_saline[0], r.beta[0]]
    assert np.allclose(shares, [0.098, 0.377, 0.525], atol=0.01)
    phases = [phase(p)[:, 0] for p, _, _ in expected]
    assert np.all(np.abs(sum(s * x for s, x in zip(shares, phases)) - z) < 1e-9)
    reference = ln_f(519.3, 3651.0, phases[2])
    for x in phases[:2]:
        assert np.all(np.abs(ln_f(519.3, 3651.0, x) - reference) < 1e-5)
    assert r.max_delta_ln_f[0] < 1e-5 and r.min_tpd[0] > -1e-9 and r.delta_G_RT[0] < 0
    # Of two phases there is no saline phase and no share of it.
    assert np.isnan(r.beta_saline[1]) and np.isnan(r.saline_co2_bearing.x_CO2[1])
    frame_columns = r.columns()
    assert frame_columns["saline_co2_bearing_wt_NaCl"].shape == (2,)


def test_ternary_draws_the_three_phase_field(tmp_path):
    pytest.importorskip("matplotlib")
    from quarn import plot
    figure = plot.ternary(519.3, 3651.0, salinity_cap=60.0)
    panel = figure.axes[0]
    labels = [text.get_text() for text in panel.get_legend().get_texts()]
    assert "three phases" in labels and "three-phase triangle" in labels
    # The x_CO2 scale, and one-phase points that show on white.
    texts = [t.get_text() for t in panel.texts]
    assert {"0.2", "0.4", "0.6", "0.8", "x CO2 (mole fraction)"} <= set(texts)
    assert any("curve on the salinity scale" in t for t in texts)
    from matplotlib.colors import to_rgb
    one_phase = [c for c in panel.collections if c.get_label() == "one phase"][0]
    assert max(to_rgb(one_phase.get_facecolor()[0])) - min(to_rgb(one_phase.get_facecolor()[0])) > 0.3


# Hostile values: {the state, the flash's status, why undecided}.
HOSTILE_CASES = [
    ((500.0, 1000.0, 1e308, 1e308, 1e308), "undecided", "feed beyond the salinity cap"),
    ((500.0, -5.0, 0.3, 0.6, 0.1), "undecided", "not a temperature and pressure"),
    ((500.0, 0.0, 0.3, 0.6, 0.1), "undecided", "not a temperature and pressure"),
    ((-300.0, 1000.0, 0.3, 0.6, 0.1), "undecided", "not a temperature and pressure"),
    ((500.0, 1000.0, 1e308, 1.7e308, 1e306), None, ""),  # as the fractions normalised exactly
]


@pytest.mark.parametrize("state, status, why", HOSTILE_CASES)
def test_hostile_values_are_refused_not_decided(state, status, why):
    r = quarn.flash(*state)
    if status is None:
        from fractions import Fraction
        total = sum(Fraction(v) for v in state[2:])
        plain = quarn.flash(*state[:2], *(float(Fraction(v) / total) for v in state[2:]))
        status = str(plain.status)
        assert r.brine.x_CO2 == pytest.approx(plain.brine.x_CO2, rel=1e-12)
    assert (str(r.status), str(r.undecided)) == (status, why)
    if state[2] > 1.0:
        assert r.normalised


def test_a_section_at_exactly_the_cap_is_decided():
    assert quarn.one_phase_limit(500.0, 1000.0, 50.0).status == "found"
    assert quarn.flash(500.0, 1000.0, *quarn.mole_fractions(0.1, 50.0)).undecided != \
        "feed beyond the salinity cap"


@pytest.mark.parametrize("threads", [-1, 0, 2.5, True, "2"])
def test_threads_must_be_a_count(threads):
    z = quarn.mole_fractions(0.2, 10.0)
    for call in (lambda: quarn.fugacity(500, 2000, *z, threads=threads),
                 lambda: quarn.flash(500, 2000, *z, threads=threads),
                 lambda: quarn.stability(500, 2000, *z, threads=threads),
                 lambda: quarn.one_phase_limit(500, 2000, 10.0, threads=threads)):
        with pytest.raises(ValueError, match="threads must be a whole number from 1 up"):
            call()


def test_the_cores_layouts_name_every_field_of_the_results():
    from dataclasses import fields

    from quarn import _core
    phase = [f.name for f in fields(quarn.PhaseArrays)]
    flash_rows = set(_core.flash_layout()["rows"])
    for prefix in ("brine", "co2_rich", "saline_co2_bearing"):
        assert {f"{prefix}_{name}" for name in phase} <= flash_rows
    plain = {f.name for f in fields(quarn.FlashResult)
             if f.type not in ("PhaseArrays",) and f.name not in _STATE_NAMES}
    assert plain - {"phases", "status", "undecided", "iterations", "evaluations", "in_range",
                    "beyond_cap", "normalised"} <= flash_rows
    assert set(_core.stability_layout()["rows"]) == \
        {f.name for f in fields(quarn.StabilityResult)} - {"verdict", "evaluations", "in_range"}
    assert set(_core.limit_layout()["rows"]) == \
        {f.name for f in fields(quarn.OnePhaseLimitResult)} - {"status", "evaluations", "in_range"}
    # The names of the codes are the library's own, each once.
    assert len(set(_core.undecided_reasons())) == len(_core.undecided_reasons())
    assert _core.undecided_reasons()[-1] == "not a temperature and pressure"
    from quarn._equilibrium import FLASH_STATUSES
    assert FLASH_STATUSES == ("one phase", "brine + CO2-rich", "salt split", "undecided",
                              "three phases")


_STATE_NAMES = ("T_C", "P_bar", "x_CO2", "x_H2O", "x_NaCl")
