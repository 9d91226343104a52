"""The browser calculator against the native library and the console program:
the WebAssembly module's bits on random states (under Node), its report lines
for a list of compositions, and the built page loaded in headless Chromium with
states in its link.

    .venv/bin/python -m pytest web/tests      (after cmake --workflow --preset web)
"""

import json
import os
import pathlib
import re
import shutil
import subprocess
import threading
import time
from functools import partial
from html import unescape
from http.server import SimpleHTTPRequestHandler, ThreadingHTTPServer

import numpy as np
import pytest

import quarn
from quarn import cli

ROOT = pathlib.Path(__file__).resolve().parents[2]
SITE = ROOT / "build" / "web" / "site"
HELPER = pathlib.Path(__file__).resolve().parent / "evaluate_states.cjs"

pytestmark = pytest.mark.skipif(not (SITE / "quarn.wasm").exists(),
                                reason="the site is not built (cmake --workflow --preset web)")


def random_states(count, seed):
    """T (C), P (bar), three mole fractions and the single-precision flag:
    mostly in the stated range, the rest anywhere from 20 to 900 C and 1 to
    10000 bar with compositions that include zeros, pure species and salt
    without water (some of which make an elementary function fail)."""
    rng = np.random.default_rng(seed)
    T = np.where(rng.random(count) < 0.7, rng.uniform(350, 600, count), rng.uniform(20, 900, count))
    P = np.where(rng.random(count) < 0.7, rng.uniform(500, 5000, count), rng.uniform(1, 10000, count))
    x = rng.dirichlet([1, 1, 0.3], count)
    corner = rng.random(count) < 0.1
    x[corner] = rng.choice(np.array([[1, 0, 0], [0, 1, 0], [0.9, 0, 0.1], [0.5, 0.5, 0],
                                     [0.2, 0.7, 0.1]]), corner.sum())
    single = (rng.random(count) < 0.5).astype(float)
    return np.column_stack([T, P, x, single])


def run_node(*args):
    node = shutil.which("node")
    assert node, "Node is needed for the web tests"
    return subprocess.run([node, str(HELPER), str(SITE), *map(str, args)], check=True,
                          capture_output=True, text=True).stdout


def console_lines(T, P, compositions, directory):
    """The console program's result lines for a run file, and its standard error."""
    directory.mkdir(parents=True, exist_ok=True)
    run = f"{T} {P}\n" + "".join(f"{a!r} {b!r} {c!r}\n" for a, b, c in compositions)
    (directory / "qnrun.dat").write_text(run)
    done = subprocess.run([cli.program()], cwd=directory, capture_output=True, text=True)
    report = (directory / "qnout.dat").read_text().replace("\r", "").splitlines()
    dashes = next(i for i, line in enumerate(report) if line.startswith("    ------"))
    return report[dashes + 1:], done.stderr.strip()


def test_the_modules_bits_are_the_native_librarys(tmp_path):
    states = random_states(100_000, seed=2026)
    (tmp_path / "in.bin").write_bytes(states.astype("<f8").tobytes())
    run_node("states", tmp_path / "in.bin", tmp_path / "out.bin", tmp_path / "lines.txt")
    wasm = np.frombuffer((tmp_path / "out.bin").read_bytes(), dtype="<f8").reshape(-1, 13)
    expected = np.empty_like(wasm)
    for flag in (0.0, 1.0):
        chosen = states[:, 5] == flag
        r = quarn.fugacity(*states[chosen, :5].T, single_precision_inputs=bool(flag), errors="nan")
        columns = [r.phi_CO2, r.phi_H2O, r.phi_NaCl, r.f_CO2, r.f_H2O, r.f_NaCl, r.Z, r.V,
                   r.ln_phi_CO2, r.ln_phi_H2O, r.ln_phi_NaCl, r.fault, r._fault_function]
        expected[chosen] = np.column_stack(columns)
    assert np.array_equal(wasm[:, 11], expected[:, 11]), "fault numbers differ"
    assert np.array_equal(wasm[:, 12], expected[:, 12]), "failing functions differ"
    good = expected[:, 11] == 0
    assert good.sum() > 90_000 and (~good).sum() > 100
    bits_w = wasm[good, :11].view(np.uint64)
    bits_e = expected[good, :11].view(np.uint64)
    same = (bits_w == bits_e) | (np.isnan(wasm[good, :11]) & np.isnan(expected[good, :11]))
    assert same.all(), f"{(~same).any(axis=1).sum()} states differ, the first {states[good][~same.all(axis=1)][0]}"


def test_the_pages_flash_gives_the_native_bits(tmp_path):
    # The phase equilibria compute with the model's own correctly rounded
    # functions, so the page's flash is the native one bit for bit.
    rng = np.random.default_rng(12)
    count = 150
    T, P = rng.uniform(360, 600, count), rng.uniform(500, 5000, count)
    x = np.array(quarn.mole_fractions(rng.uniform(0.01, 0.7, count), rng.uniform(0, 35, count)))
    states = np.column_stack([T, P, x.T, np.zeros(count)])
    (tmp_path / "in.bin").write_bytes(states.astype(np.float64).tobytes())
    shown = run_node("flash", tmp_path / "in.bin", tmp_path / "out.bin").splitlines()
    names, statuses = shown[0].split(","), shown[1:]
    wasm = np.frombuffer((tmp_path / "out.bin").read_bytes()).reshape(count, len(names))
    r = quarn.flash(T, P, *x)
    phase = {"brine": r.brine, "co2_rich": r.co2_rich, "saline": r.saline_co2_bearing}
    native = {"phases": r.phases, "beta": r.beta, "beta_saline": r.beta_saline,
              "max_delta_ln_f": r.max_delta_ln_f, "mass_balance": r.mass_balance,
              "delta_G_RT": r.delta_G_RT, "min_tpd": r.min_tpd, "evaluations": r.evaluations}
    for name in names:
        for prefix, answer in phase.items():
            if name.startswith(prefix + "_"):
                native[name] = getattr(answer, name[len(prefix) + 1:])
    compared = [n for n in names if n in native]
    assert len(compared) >= 20
    # Where the package leaves a number out (NaN: the phases of an undecided
    # answer, the certificate of one phase) the page shows the flash's own.
    numbers = 0
    for k, name in enumerate(names):
        if name not in native:
            continue
        b = np.asarray(native[name], dtype=np.float64)
        given = ~np.isnan(b)
        same = wasm[given, k].view(np.uint64) == b[given].view(np.uint64)
        assert same.all(), f"{name}: {(~same).sum()} states differ"
        numbers += given.sum()
    assert numbers > 1500
    assert statuses == list(r.status)
    assert {"one phase", "brine + CO2-rich"} <= set(statuses)


def test_a_list_gives_the_console_programs_lines(tmp_path):
    rng = np.random.default_rng(7)
    compositions = rng.dirichlet([1, 1, 0.2], 300).tolist()
    listing = "".join(f"{a!r}, {b!r} {c!r}\n" for a, b, c in compositions)
    (tmp_path / "list.txt").write_text(listing)
    shown = run_node("table", 450.5, 1500, tmp_path / "list.txt").splitlines()
    lines, _ = console_lines(450.5, 1500, compositions, tmp_path / "run")
    assert [line.split(" | ")[0] for line in shown] == lines
    # Each fluid that the native flash splits is marked with its status; the
    # list's T and P are single precision, as the run file's reader keeps them.
    T, P = float(np.float32(450.5)), float(np.float32(1500))
    r = quarn.flash(T, P, *np.array(compositions).T)
    expected = ["" if s == "one phase" else f" | splits: {s}" if s != "undecided"
                else f" | phases undecided: {u}" for s, u in zip(r.status, r.undecided)]
    assert [line[len(lines[k]):] for k, line in enumerate(shown)] == expected
    assert sum(e.startswith(" | splits") for e in expected) > 30
    (tmp_path / "bad.txt").write_text("0.1 0.8 0.1\n0.9 0 0.1\nx y z\n")
    shown = run_node("table", 350, 500, tmp_path / "bad.txt").splitlines()
    assert shown[1] == "! line 2, x = 0.9 0 0.1: exp: OVERFLOW error"
    assert shown[2].startswith("! line 3: ") and "syntax error" in shown[2]


@pytest.fixture(scope="module")
def served_site():
    handler = partial(SimpleHTTPRequestHandler, directory=str(SITE))
    handler.log_message = lambda *args: None
    server = ThreadingHTTPServer(("127.0.0.1", 0), handler)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    yield f"http://127.0.0.1:{server.server_address[1]}"
    server.shutdown()


class DevTools:
    """A headless Chromium driven over its DevTools pipe (fd 3 in, fd 4 out,
    messages of JSON ended by NUL): the test waits for what the page does, not
    for a time, so a loaded machine only makes it slower."""

    def __init__(self, url):
        chromium = shutil.which("chromium") or shutil.which("chromium-browser")
        assert chromium, "Chromium is needed for the web tests"
        to_chrome, self._out = os.pipe()
        self._in, from_chrome = os.pipe()

        def pipes_as_3_and_4():
            # Through fresh descriptors first: either end may itself be 3 or 4.
            reading, writing = os.dup(to_chrome), os.dup(from_chrome)
            os.dup2(reading, 3)
            os.dup2(writing, 4)

        self._process = subprocess.Popen(
            [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--remote-debugging-pipe",
             url], preexec_fn=pipes_as_3_and_4, close_fds=False, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, env={**os.environ, "HOME": os.environ.get("HOME", "/tmp")})
        os.close(to_chrome)
        os.close(from_chrome)
        self._buffer = b""
        self._next_id = 0
        targets = self.call("Target.getTargets")["targetInfos"]
        target = next(t["targetId"] for t in targets if t["type"] == "page")
        self._session = self.call("Target.attachToTarget", targetId=target,
                                  flatten=True)["sessionId"]

    def call(self, method, session=None, **params):
        self._next_id += 1
        message = {"id": self._next_id, "method": method, "params": params}
        if session:
            message["sessionId"] = session
        os.write(self._out, json.dumps(message).encode() + b"\0")
        while True:
            while b"\0" not in self._buffer:
                chunk = os.read(self._in, 1 << 16)
                assert chunk, "Chromium closed its DevTools pipe"
                self._buffer += chunk
            text, self._buffer = self._buffer.split(b"\0", 1)
            answer = json.loads(text)
            if answer.get("id") == self._next_id:
                assert "error" not in answer, answer
                return answer["result"]

    def evaluate(self, expression):
        return self.call("Runtime.evaluate", self._session, expression=expression,
                         returnByValue=True)["result"].get("value")

    def close(self):
        try:
            self.call("Browser.close")
        finally:
            self._process.wait(timeout=60)
            os.close(self._in)
            os.close(self._out)


IDLE = ("(s => s !== null && s.textContent !== 'Loading…' && document.body.dataset.work "
        "!== 'working')(document.getElementById('status'))")


def wait_for(browser, expression, what):
    # A hang guard, not a speed limit: a page that never gets there fails.
    give_up = time.monotonic() + 600
    while not browser.evaluate(expression):
        assert time.monotonic() < give_up, what
        time.sleep(0.05)


class opened:
    """A page in headless Chromium, once it has loaded its module and done
    what the link asks: its status line no longer says it is loading and no
    computation is out."""

    def __init__(self, url):
        self.browser = DevTools(url)

    def __enter__(self):
        try:
            wait_for(self.browser, IDLE, "the page never finished loading")
        except BaseException:
            self.browser.close()
            raise
        return self.browser

    def __exit__(self, *exc):
        self.browser.close()


def page(url):
    """The page's DOM once it has done what the link asks."""
    with opened(url) as browser:
        return browser.evaluate("document.documentElement.outerHTML")


def element(dom, id_):
    match = re.search(rf'id="{id_}"[^>]*>(.*?)</', dom, re.S)
    return unescape(match.group(1)) if match else None


@pytest.mark.parametrize("query, T, P, x", [
    ("T=500&P=2000&x=0.1,0.89,0.01", "500", "2000", (0.1, 0.89, 0.01)),
    ("T=400.1&P=1000&x=0.3,0.6,0.1", "400.1", "1000", (0.3, 0.6, 0.1)),
    ("T=600&P=5000&x=1,0,0", "600", "5000", (1.0, 0.0, 0.0)),
    ("T=350&P=500&x=0.9,0,0.1", "350", "500", (0.9, 0.0, 0.1)),
])
def test_the_page_shows_the_console_report_line(served_site, tmp_path, query, T, P, x):
    dom = page(f"{served_site}/index.html?{query}")
    lines, stderr = console_lines(T, P, [x], tmp_path)
    shown = element(dom, "report-line")
    if lines:
        assert shown == lines[0]
    else:  # the console stopped on a failing elementary function
        assert shown == stderr == "quarn: severe (6203): exp: OVERFLOW error"
        assert "exp: OVERFLOW error" in element(dom, "fault")


def test_the_page_answers_the_phase_question(served_site):
    dom = page(f"{served_site}/index.html?T=400&P=2000&xco2=0.2&wt=20&single=0")
    status = element(dom, "phase-status")
    assert status.startswith("brine + CO2-rich") and "0.5775897" in status
    assert "32.727335" in dom  # the brine's salinity, 8 digits
    # The Result's phi are those of the unsplit fluid: the page says so.
    assert element(dom, "split-note").startswith("The model splits this fluid (brine + CO2-rich)")
    one_phase = page(f"{served_site}/index.html?T=400&P=2000&xco2=0.01&wt=20&single=0")
    assert re.search(r'id="split-note"[^>]*hidden', one_phase)


def test_the_one_file_page_works_opened_from_disk(tmp_path):
    copy = tmp_path / "calculator.html"  # alone, away from the site's other files
    shutil.copy(SITE / "quarn-calculator.html", copy)
    dom = page(f"file://{copy}?T=500&P=2000&x=0.1,0.89,0.01")
    lines, _ = console_lines("500", "2000", [(0.1, 0.89, 0.01)], tmp_path / "run")
    assert element(dom, "report-line") == lines[0]


def test_the_list_reads_numbers_as_the_run_files_reader_does(tmp_path):
    # Decimal forms the reader takes (D exponents, repeat counts, values below
    # the smallest subnormal), and one beyond the double range.
    listing = "1.0D-1 8.9d-1 1.0E-2\n2*0.5 0\n1e-400, 0.9, 0.1\n"
    (tmp_path / "list.txt").write_text(listing + "1e400 0 0\n")
    shown = run_node("table", 500, 2000, tmp_path / "list.txt").splitlines()
    run = tmp_path / "run"
    run.mkdir()
    (run / "qnrun.dat").write_text("500 2000\n" + listing)
    subprocess.run([cli.program()], cwd=run, capture_output=True, check=True)
    report = (run / "qnout.dat").read_text().replace("\r", "").splitlines()
    assert shown[:3] == report[-3:]
    assert shown[3].startswith("! line 4: ") and "conversion" in shown[3]
