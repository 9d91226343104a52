"""quarn.fugacity on 10^6 points at one temperature and pressure, against the
C++ batch call on the same points and threads (Google Benchmark's figure).

    .venv/bin/python bench/fugacity_benchmark.py build/default/bench/quarn_benchmarks
"""
import json
import subprocess
import sys
import time

import numpy as np

import quarn

N = 1 << 20


def python_seconds(repeats=7):
    rng = np.random.default_rng(20261206)
    x_CO2 = rng.uniform(0, 0.9, N)
    x_NaCl = (1 - x_CO2) * rng.uniform(0, 0.1, N)
    x_H2O = 1 - x_CO2 - x_NaCl
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        quarn.fugacity(500, 2000, x_CO2, x_H2O, x_NaCl)
        best = min(best, time.perf_counter() - start)
    return best


def cpp_seconds(benchmarks):
    # The C++ batch on the loop quarn uses (0 scalar, 1 AVX2, 2 AVX-512), two threads.
    path = ["scalar", "avx2", "avx512"].index(quarn._core.simd_path())
    out = subprocess.run([benchmarks, f"--benchmark_filter=BM_EvaluateBatch/{path}/2/",
                          "--benchmark_repetitions=7", "--benchmark_format=json"],
                         capture_output=True, text=True, check=True).stdout
    runs = [b for b in json.loads(out)["benchmarks"] if b.get("run_type") == "iteration"]
    return min(b["real_time"] for b in runs) / 1000.0  # milliseconds per batch


if __name__ == "__main__":
    py = python_seconds()
    print(f"quarn.fugacity, {N} points, all cores: {py * 1e3:.1f} ms ({N / py / 1e6:.2f} M points/s)")
    if len(sys.argv) > 1:
        cpp = cpp_seconds(sys.argv[1])
        print(f"C++ EvaluateBatch, same points, 2 threads: {cpp * 1e3:.1f} ms; ratio {py / cpp:.2f}")
