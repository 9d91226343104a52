"""The model's correctly rounded exp, log, pow, cos and acos against mpmath at
300 bits (tools/correctly_rounded.py): a million random arguments per function
over the ranges the method meets and their edges, and every argument whose
fast path declined in sweeps of ten million states of the method.

QUARN_ELEMENTARY_DRAWS sets the number of random arguments per function."""

import multiprocessing
import os
import pathlib
import sys

import numpy as np
import pytest

from quarn import _core

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tools"))
correctly_rounded = pytest.importorskip("correctly_rounded", reason="needs mpmath")

DRAWS = int(os.environ.get("QUARN_ELEMENTARY_DRAWS", "1000000"))


def _reference(task):
    name, xs, ys = task
    f = getattr(correctly_rounded, name)
    return [f(x, y) if name == "pow" else f(x) for x, y in zip(xs, ys)]


def mismatches(name, x, y=None):
    """The arguments where the model's function and mpmath's rounding differ."""
    x = np.ascontiguousarray(x, dtype=float)
    y = np.zeros_like(x) if y is None else np.ascontiguousarray(np.broadcast_to(y, x.shape))
    ours = np.empty_like(x)
    _core.elementary(name, x, y, ours)
    step = 20000
    tasks = [(name, x[i:i + step].tolist(), y[i:i + step].tolist()) for i in range(0, len(x), step)]
    with multiprocessing.get_context("fork").Pool(min(4, os.cpu_count() or 1)) as pool:
        reference = np.array([v for part in pool.map(_reference, tasks) for v in part])
    same = (ours.view(np.uint64) == reference.view(np.uint64)) | (np.isnan(ours) & np.isnan(reference))
    return [(x[i].hex(), y[i], ours[i].hex(), reference[i].hex()) for i in np.flatnonzero(~same)[:5]]


def log_uniform(rng, low_exponent, high_exponent, n):
    return np.exp2(rng.uniform(low_exponent, high_exponent, n)) * rng.uniform(1.0, 2.0, n)


# (function, arguments drawn from a generator, exponent of pow): the method's
# ranges in bulk, then the whole domain with its edges.
CASES = {
    "exp, the method's arguments": ("exp", lambda r, n: r.uniform(-40.0, 40.0, n), None),
    "exp, the whole range": ("exp", lambda r, n: r.uniform(-746.0, 710.0, n), None),
    "exp, near 0": ("exp", lambda r, n: r.choice([-1, 1], n) * log_uniform(r, -60, 0, n), None),
    "log, the method's arguments": ("log", lambda r, n: r.uniform(0.5, 4.0, n), None),
    "log, near 1": ("log", lambda r, n: 1.0 + r.choice([-1, 1], n) * log_uniform(r, -53, -6, n), None),
    "log, the whole range": ("log", lambda r, n: log_uniform(r, -1075, 1023, n), None),
    "pow 2.5 of T_K": ("pow", lambda r, n: r.uniform(200.0, 2000.0, n), 2.5),
    "pow 1.5 of T_K": ("pow", lambda r, n: r.uniform(200.0, 2000.0, n), 1.5),
    "pow 1/3, Cardano's terms": ("pow", lambda r, n: log_uniform(r, -60, 10, n), 1.0 / 3.0),
    "pow 1/3, the whole range": ("pow", lambda r, n: log_uniform(r, -1075, 1023, n), 1.0 / 3.0),
    "pow 2.5, 1.5, the whole range": (
        "pow", lambda r, n: log_uniform(r, -400, 400, n), np.array([2.5, 1.5])),
    "cos, the method's arguments": ("cos", lambda r, n: r.uniform(0.0, 5.3, n), None),
    "cos, wide": ("cos", lambda r, n: r.uniform(-1e6, 1e6, n), None),
    "acos": ("acos", lambda r, n: r.uniform(-1.0, 1.0, n), None),
    "acos near the ends": ("acos", lambda r, n: r.choice([-1, 1], n) * (1 - log_uniform(r, -54, -8, n)), None),
}
SHARES = {"exp, the method's arguments": 1.0, "log, the method's arguments": 1.0,
          "pow 1/3, Cardano's terms": 1.0, "cos, the method's arguments": 1.0, "acos": 1.0,
          "pow 2.5 of T_K": 0.5, "pow 1.5 of T_K": 0.5}


@pytest.mark.parametrize("case", CASES)
def test_random_arguments_are_correctly_rounded(case):
    name, draw, exponent = CASES[case]
    rng = np.random.default_rng(sorted(CASES).index(case))
    n = max(1000, int(DRAWS * SHARES.get(case, 0.1)))
    x = draw(rng, n)
    y = None
    if isinstance(exponent, np.ndarray):
        y = exponent[rng.integers(0, len(exponent), n)]
    elif exponent is not None:
        y = np.full(n, exponent)
    assert mismatches(name, x, y) == []


def test_every_argument_the_sweep_sent_to_a_slow_path():
    rows = [line.split() for line in (ROOT / "tests/data/slow_path_arguments.txt").read_text().splitlines()
            if line and not line.startswith("#")]
    for name in ("exp", "log", "pow", "cos", "acos"):
        chosen = [r for r in rows if r[0] == name]
        x = np.array([float.fromhex(r[1]) for r in chosen])
        y = np.array([float.fromhex(r[2]) for r in chosen])
        assert len(x) > 100 and mismatches(name, x, y) == []
