"""The page as a workbench, in headless Chromium: values the console refuses,
warnings, the phases in full, the section figure against the native library,
the worker (a long run leaves the page responsive and stops on request), a
streamed list, and the page opened from disk or on a phone's width.

    .venv/bin/python -m pytest web/tests      (after cmake --workflow --preset web)
"""

import csv
import io
import re
import shutil
import subprocess
import time
from urllib.parse import quote

import numpy as np
import pytest

import quarn
from quarn import cli
from quarn._phase_plots import verdict_classes
from test_site import SITE, element, opened, page, run_node, served_site, wait_for  # noqa: F401

pytestmark = pytest.mark.skipif(not (SITE / "quarn.wasm").exists(),
                                reason="the site is not built (cmake --workflow --preset web)")


def console_stop_line(run_file, directory):
    """The console's last line on standard error for a run file, with the
    run file's directory left out (the page's run file has none)."""
    directory.mkdir(parents=True, exist_ok=True)
    (directory / "qnrun.dat").write_text(run_file)
    done = subprocess.run([cli.program()], cwd=directory, capture_output=True, text=True)
    assert done.returncode != 0
    return done.stderr.strip().splitlines()[-1].replace(f"file {directory.resolve()}/", "file ")


@pytest.mark.parametrize("T, P, x, message", [
    ("0x1F4", "2000", "0.1,0.89,0.01", 59),          # hex: no number of the reader
    ("1e39", "2000", "0.1,0.89,0.01", 64),           # beyond single precision
    ("NaN", "2000", "0.1,0.89,0.01", 59),
    ("500", "'2000'", "0.1,0.89,0.01", 64),          # a character constant
    ("<img src=x onerror=alert(1)>", "2000", "0.1,0.89,0.01", 59),
    ("500", "2000", "0.1.2,0.89,0.01", 59),
    ("500", "2000", "0.1,0.89,1e400", 64),
])
def test_a_value_the_console_refuses_gives_its_stop_line(served_site, tmp_path, T, P, x, message):
    dom = page(f"{served_site}/index.html?T={quote(T)}&P={quote(P)}&x={quote(x)}")
    expected = console_stop_line(f"{T} {P}\n{x.replace(',', ' ')}\n", tmp_path)
    assert expected.startswith(f"quarn: severe ({message}): ")
    assert element(dom, "report-line") == expected
    assert f"(message {message})" in element(dom, "fault")
    # Markup in the link stays text, and a long value widens nothing.
    assert "<img" not in dom.replace("&lt;img", "")
    assert len(element(dom, "fault")) < 200


def test_a_value_of_a_hundred_thousand_digits_gives_the_consoles_stop_line(tmp_path):
    # Too long a link for most servers: the one-file page, opened from disk, takes it.
    copy = tmp_path / "calculator.html"
    shutil.copy(SITE / "quarn-calculator.html", copy)
    T = "1" * 100_000
    dom = page(f"file://{copy}?T={T}&P=2000&x=0.1,0.89,0.01")
    expected = console_stop_line(f"{T} 2000\n0.1 0.89 0.01\n", tmp_path / "run")
    assert expected.startswith("quarn: severe (64): ")
    assert element(dom, "report-line") == expected
    assert len(element(dom, "fault")) < 200


def test_the_double_precision_form_reads_by_the_same_rules(served_site):
    # 0.1D+3 is 100 in the run file's reader; single=0 keeps T and P in 64 bits.
    dom = page(f"{served_site}/index.html?T=4.001D2&P=2.0q3&x=0.1,0.89,0.01&single=0")
    expected = quarn.fugacity(400.1, 2000.0, 0.1, 0.89, 0.01, single_precision_inputs=False)
    assert f"({float(expected.Z)!r})" in element(dom, "zv")
    assert f"T = {400.1 + 273.15!r} K" in element(dom, "zv")


@pytest.mark.parametrize("query, warned", [
    ("xco2=-0.2&wt=20", True),
    ("x=10,89,1", True),
    ("x=0.3,0.6,0.2", True),
    ("x=0.1,0.89,0.01", False),
    ("xco2=0.2&wt=20", False),
])
def test_fractions_that_do_not_fit_are_warned_as_python_warns(served_site, query, warned):
    dom = page(f"{served_site}/index.html?T=500&P=2000&{query}")
    shown = element(dom, "warning")
    hidden = re.search(r'id="warning"[^>]*hidden', dom) is not None
    assert hidden != warned
    if warned:
        assert "outside [0, 1] or do not sum to 1" in shown and "percent for fractions?" in shown


def phase_rows(dom):
    table = re.search(r'id="phase-table".*?<tbody>(.*?)</tbody>', dom, re.S).group(1)
    rows = re.findall(r"<tr>(.*?)</tr>", table, re.S)
    return [[c for c in re.findall(r"<td>(.*?)</td>", row)] for row in rows]


@pytest.mark.parametrize("T, P, x_CO2, wt", [
    (400.0, 2000.0, 0.2, 20.0),
    (450.0, 1000.0, 0.35, 5.0),
    (550.0, 3000.0, 0.4, 30.0),
    (420.0, 1500.0, 0.3, 15.0),
    (445.0, 1500.0, 0.5700000000000001, 20.0),  # three phases
])
def test_the_phases_are_shown_in_full_with_the_native_bits(served_site, T, P, x_CO2, wt):
    dom = page(f"{served_site}/index.html?T={T!r}&P={P!r}&xco2={x_CO2!r}&wt={wt!r}&single=0")
    x = [float(v) for v in quarn.mole_fractions(x_CO2, wt)]
    r = quarn.flash(T, P, *x)
    assert int(r.phases) >= 2, "the states are chosen to split"
    status = element(dom, "phase-status")
    assert f"β = {float(r.beta)!r} " in status
    if int(r.phases) == 3:
        assert f" {float(r.beta_saline)!r} in the saline CO2-bearing phase" in status
    names = {"brine + CO2-rich": [r.brine, r.co2_rich], "salt split": [r.co2_rich, r.brine],
             "three phases": [r.brine, r.saline_co2_bearing, r.co2_rich]}[str(r.status)]
    assert len(phase_rows(dom)) == len(names)
    rows = phase_rows(dom)
    for row, phase in zip(rows, names):
        shown = [float(v) for v in row[1:]]
        native = [float(phase.x_CO2), float(phase.x_H2O), float(phase.x_NaCl), float(phase.wt_NaCl)]
        assert shown == native  # bit for bit: the shortest decimal reads back
    verdict = element(dom, "verdict")
    assert verdict.startswith("Stability: the model splits this fluid")


def test_notes_are_where_a_reader_sees_them(served_site):
    # A salt split, and a brine beyond the cap (halite in nature): each its own note.
    T = np.linspace(360, 600, 25)
    x_CO2 = np.linspace(0.02, 0.6, 30)
    grid_T, grid_x = np.meshgrid(T, x_CO2, indexing="ij")
    r = quarn.flash(grid_T, 2000.0, *quarn.mole_fractions(grid_x, 25.0))
    salt = np.argwhere(np.asarray(r.status) == "salt split")
    beyond = np.argwhere(np.asarray(r.beyond_cap) & (np.asarray(r.phases) == 2))
    assert len(salt) and len(beyond)
    i, j = salt[0]
    T_C, x = float(grid_T[i, j]), float(grid_x[i, j])
    dom = page(f"{served_site}/index.html?T={T_C!r}&P=2000&xco2={x!r}&wt=25&single=0")
    assert "a property of the model" in element(dom, "salt-note")
    assert not re.search(r'id="salt-note"[^>]*hidden', dom)
    i, j = beyond[0]
    T_C, x = float(grid_T[i, j]), float(grid_x[i, j])
    dom = page(f"{served_site}/index.html?T={T_C!r}&P=2000&xco2={x!r}&wt=25&single=0")
    assert element(dom, "halite-note").startswith("Halite:")
    assert re.search(r'id="salt-note"[^>]*hidden', dom)


def test_the_section_figure_is_the_native_flash_and_limit(served_site):
    url = f"{served_site}/index.html?T=500&P=1500&xco2=0.1&wt=10&section=5,20"
    with opened(url) as browser:
        counts = browser.evaluate(
            "[...document.querySelectorAll('#section-figure .panel')].map(p => "
            "[p.dataset.wt, p.querySelectorAll('rect[data-class]').length, "
            "p.querySelector('.limit-line').getAttribute('d').length])")
        legend = browser.evaluate("document.querySelector('#section-figure .legend').textContent")
        table = browser.evaluate("sectionCsv(figureData.section.data)")
        link = browser.evaluate("location.search")
    assert [c[:2] for c in counts] == [["5", 51 * 90], ["20", 51 * 90]]
    assert all(c[2] > 100 for c in counts)
    assert "one-phase limit" in legend and "brine + CO2-rich" in legend and "one phase" in legend
    assert "section=5%2C20" in link or "section=5,20" in link
    rows = list(csv.DictReader(io.StringIO(table)))
    assert len(rows) == 2 * 51 * 90
    T, x = np.linspace(350.0, 600.0, 51), np.linspace(0.005, 0.895, 90)
    for p, W in enumerate((5.0, 20.0)):
        mine = rows[p * 51 * 90:(p + 1) * 51 * 90]
        assert [float(row["T_C"]) for row in mine[::90]] == T.tolist()
        assert [float(row["x_CO2"]) for row in mine[:90]] == x.tolist()
        grid_T, grid_x = np.meshgrid(T, x, indexing="ij")
        r = quarn.flash(grid_T, 1500.0, *quarn.mole_fractions(grid_x, W))
        expected = np.empty(grid_T.shape, dtype=object)
        for where, _, _, label in verdict_classes(r, 50.0):
            expected[where] = label
        shown = np.array([row["verdict"] for row in mine], dtype=object).reshape(grid_T.shape)
        assert (shown == expected).all(), f"{(shown != expected).sum()} cells differ at {W} wt%"
        limit = quarn.one_phase_limit(T, 1500.0, W)
        native = np.asarray(limit.x_CO2, dtype=float)
        page_limit = np.array([float(row["one_phase_limit_x_CO2"] or "nan") for row in mine[::90]])
        assert np.array_equal(page_limit, native, equal_nan=True)
        assert np.isfinite(native).sum() > 20


def test_a_long_benchmark_is_bounded_leaves_the_page_responsive_and_stops(served_site):
    with opened(f"{served_site}/index.html?bench=1e12") as browser:
        # Asked for by the link, run only on request.
        assert browser.evaluate("document.getElementById('bench-panel').hidden") is False
        assert browser.evaluate("document.body.dataset.work") != "working"
        browser.evaluate("window.ticks = 0; setInterval(() => ++window.ticks, 10);"
                         "document.getElementById('bench-go').click()")
        wait_for(browser, "/ of 100000000/.test(document.getElementById('work-what').textContent)",
                 "the benchmark shows no progress")
        first = browser.evaluate("window.ticks")
        wait_for(browser, f"window.ticks > {first} + 20", "the page's own timers stopped running")
        assert browser.evaluate("document.body.dataset.work") == "working"
        browser.evaluate("document.getElementById('stop').click()")
        wait_for(browser, "document.body.dataset.work === 'idle'", "the benchmark did not stop")
        assert browser.evaluate("document.getElementById('bench').textContent") == "Benchmark stopped."
        assert browser.evaluate("document.getElementById('work').hidden") is True
        # A new worker answers after the stop.
        browser.evaluate("document.querySelector('#state button[type=submit]').click()")
        wait_for(browser, "document.getElementById('report-line').textContent.length > 100",
                 "no answer after the stop")


def test_a_list_streams_under_the_reports_titles_and_names_its_lines(served_site, tmp_path):
    rng = np.random.default_rng(33)
    compositions = rng.dirichlet([1, 1, 0.2], 1500).tolist()
    listing = "".join(f"{a!r} {b!r} {c!r}\n" for a, b, c in compositions) + "0.1 0.2 zz\n"
    (tmp_path / "list.txt").write_text(listing)
    expected = run_node("table", 500, 2000, tmp_path / "list.txt").splitlines()
    with opened(f"{served_site}/index.html?T=500&P=2000&x=0.1,0.89,0.01") as browser:
        browser.evaluate(f"document.getElementById('list').value = {listing!r};"
                         "document.getElementById('list-go').click()")
        wait_for(browser, "/composition\\(s\\)\\n$/.test(document.getElementById('list-output').textContent)",
                 "the list never ended")
        shown = browser.evaluate("document.getElementById('list-output').textContent").splitlines()
    assert shown[1].split() == ["XCO2", "phiCO2", "fCO2", "XH2O", "phiH2O", "fH2O", "XNaCl",
                                "phiNaCl", "fNaCl"]
    assert shown[2].split() == ["------"] * 9
    # The titles stand over the fifth column of each field, as in the report.
    assert [m.start() + 1 for m in re.finditer(r"\S+", shown[1])] == [16 * k + 5 for k in range(9)]
    assert shown[3:-1] == expected
    assert shown[-2] == "! line 1501: list-directed I/O syntax error"
    assert shown[-1] == "1500 composition(s)"


def test_the_served_page_opened_from_disk_points_to_the_one_file_page(tmp_path):
    for name in ("index.html", "calculator.js", "figures.js", "worker.js", "quarn.js",
                 "quarn.wasm", "style.css"):
        shutil.copy(SITE / name, tmp_path / name)
    with opened(f"file://{tmp_path}/index.html?T=500&P=2000&x=0.1,0.89,0.01") as browser:
        said = browser.evaluate("document.getElementById('status').textContent")
        # Asked to compute all the same, it says the same.
        browser.evaluate("document.querySelector('#state button[type=submit]').click()")
        wait_for(browser, "document.body.dataset.work !== 'working'", "the page hangs")
        again = browser.evaluate("document.getElementById('status').textContent")
    assert "quarn-calculator.html" in said and again == said


def test_the_page_reads_on_a_phone(served_site):
    url = f"{served_site}/index.html?T=500&P=2000&x=0.1,0.89,0.01&section=10&ternary=1&pt=0.1,10"
    with opened(url) as browser:
        assert browser.evaluate("document.querySelectorAll('.figure svg').length") == 3
        browser.call("Emulation.setDeviceMetricsOverride", browser._session, width=400, height=800,
                     deviceScaleFactor=1, mobile=True)
        time.sleep(0.2)  # a layout pass; the width below is what it settles to
        wide = browser.evaluate("document.documentElement.scrollWidth")
    assert wide <= 400


@pytest.mark.parametrize("query, message", [
    ("T=500%202000&P=3000&x=0.1,0.89,0.01", 'T: "500 2000" is not one number'),
    ("T=&P=2000&x=0.1,0.89,0.01", "T is empty"),
    ("T=500&P=2000&x=2*0.5,0,", 'x CO2: "2*0.5" is not one number'),
    ("T=500&P=2000&xco2=0.1&wt=100", "wt% NaCl must lie in [0, 100)"),
])
def test_a_field_the_reader_takes_but_that_is_no_one_value_is_named(served_site, query, message):
    # The console would read such a run file with its values shifted; the
    # page names the field and shows no numbers.
    dom = page(f"{served_site}/index.html?{query}")
    assert element(dom, "status") == message
    assert re.search(r'id="result"[^>]*hidden', dom) and re.search(r'id="phases"[^>]*hidden', dom)


def figure_rows(browser, name, csv_function):
    table = browser.evaluate(f"{csv_function}(figureData.{name}.data)")
    return list(csv.DictReader(io.StringIO(table)))


def test_the_ternary_is_the_native_flash_with_its_tie_lines(served_site):
    url = f"{served_site}/index.html?T=450&P=1500&x=0.1,0.89,0.01&single=0&ternary=1"
    with opened(url) as browser:
        rows = figure_rows(browser, "ternary", "ternaryCsv")
        ties = browser.evaluate("document.querySelectorAll('#ternary-figure .tie-line').length")
        legend = browser.evaluate("document.querySelector('#ternary-figure .legend').textContent")
        title = browser.evaluate("document.querySelector('#ternary-figure .figure-title').textContent")
    heights = np.linspace(0.01, 0.97, 49)
    salinities = 50.0 * np.linspace(0.0, 1.0, 41)[1:] ** 2
    x_grid, w_grid = np.meshgrid(heights, salinities, indexing="ij")
    assert [float(r["x_CO2"]) for r in rows] == x_grid.ravel().tolist()
    assert [float(r["wt_NaCl"]) for r in rows] == w_grid.ravel().tolist()
    r = quarn.flash(450.0, 1500.0, *quarn.mole_fractions(x_grid, w_grid))
    expected = np.empty(x_grid.shape, dtype=object)
    for where, _, _, label in verdict_classes(r, 50.0):
        expected[where] = label.replace(" (left blank)", "")
    shown = np.array([row["verdict"] for row in rows], dtype=object).reshape(x_grid.shape)
    assert (shown == expected).all()
    two = (np.asarray(r.phases) >= 2).ravel()
    for name, phase in (("brine", r.brine), ("co2_rich", r.co2_rich)):
        for species in ("x_CO2", "x_H2O", "x_NaCl"):
            page_values = np.array([float(row[f"{name}_{species}"]) for row, t in zip(rows, two) if t])
            assert np.array_equal(page_values, np.asarray(getattr(phase, species)).ravel()[two])
    assert two.sum() > 500
    assert ties == 14
    assert "brine + CO2-rich" in legend and "one phase" in legend
    assert title == "450 °C, 1500 bar: phases and tie-lines"


def test_the_pt_figure_is_the_native_stability_and_isochores(served_site):
    url = f"{served_site}/index.html?T=500&P=2000&x=0.1,0.89,0.01&pt=0.1,10&iso=1000,2000,4000"
    with opened(url) as browser:
        rows = figure_rows(browser, "pt", "ptCsv")
        lines = browser.evaluate("[...document.querySelectorAll('#pt-figure .isochore')].map(p => "
                                 "p.getAttribute('d').length)")
        legend = browser.evaluate("document.querySelector('#pt-figure .legend').textContent")
    x = quarn.mole_fractions(0.1, 10.0)
    T, P = np.linspace(350.0, 600.0, 51), np.linspace(500.0, 6000.0, 56)
    grid_T, grid_P = np.meshgrid(T, P, indexing="ij")
    cells = [r for r in rows if r["kind"] == "cell"]
    assert [(float(r["T_C"]), float(r["P_bar"])) for r in cells] == list(zip(grid_T.ravel(), grid_P.ravel()))
    verdict = quarn.stability(grid_T, grid_P, *x).verdict
    assert [r["verdict"] for r in cells] == list(np.asarray(verdict).ravel())
    assert {"stable", "unstable"} <= {r["verdict"] for r in cells}
    fine_T = np.linspace(350.0, 600.0, 201)
    for start in (1000.0, 2000.0, 4000.0):
        rho = float(quarn.fugacity(400.0, start, *x).rho)
        mine = [r for r in rows if r["kind"] == "isochore" and float(r["rho_g_per_cm3"]) == rho]
        iso = quarn.isochore(fine_T, *x, rho=rho, stability=True)
        valid = np.asarray(iso.valid)
        assert [float(r["T_C"]) for r in mine] == fine_T[valid].tolist()
        assert [float(r["P_bar"]) for r in mine] == np.asarray(iso.P_bar)[valid].tolist()
        assert [r["verdict"] for r in mine] == list(np.asarray(iso.stability)[valid])
        assert len(mine) > 100
    assert len(lines) == 3 and min(lines) > 500
    assert "isochore, two phases" in legend


def test_a_figure_is_saved_as_svg_png_and_csv(served_site, tmp_path):
    url = f"{served_site}/index.html?T=500&P=2000&x=0.1,0.89,0.01&section=10"
    with opened(url) as browser:
        browser.call("Page.setDownloadBehavior", browser._session, behavior="allow",
                     downloadPath=str(tmp_path))
        for kind in ("svg", "png", "csv"):
            browser.evaluate(f"document.querySelector('#section-save .save-{kind}').click()")
            target = tmp_path / f"quarn-section.{kind}"
            give_up = time.monotonic() + 120
            while not (target.exists() and target.stat().st_size > 0):
                assert time.monotonic() < give_up, f"no {kind} was saved"
                time.sleep(0.1)
    svg = (tmp_path / "quarn-section.svg").read_text()
    assert svg.startswith('<?xml version="1.0"') and "one-phase limit" in svg
    assert svg.count("<rect") > 51 * 90
    time.sleep(0.5)  # the PNG is written whole before Chromium renames it
    png = (tmp_path / "quarn-section.png").read_bytes()
    assert png[:8] == b"\x89PNG\r\n\x1a\n"
    width, height = int.from_bytes(png[16:20], "big"), int.from_bytes(png[20:24], "big")
    assert width > 1000 and height > 500
    rows = list(csv.DictReader(io.StringIO((tmp_path / "quarn-section.csv").read_text())))
    assert len(rows) == 51 * 90 and rows[0]["P_bar"] == "2000" and rows[0]["wt_NaCl"] == "10"
