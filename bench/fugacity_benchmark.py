"""quarn.fugacity on 2^20 points at one temperature and pressure, against the
C++ batch call on as many points (Google Benchmark's figure), on the loop the
package uses: on one thread in thread CPU time (which the machine's load moves
little; it includes the kernel's work on the fresh output arrays), and on every
core in wall time.

    .venv/bin/python bench/fugacity_benchmark.py build/default/bench/quarn_benchmarks
"""
import json
import subprocess
import sys
import time

import numpy as np

import quarn
from quarn import _core

N = 1 << 20


def python_seconds(threads, clock, repeats=7):
    rng = np.random.default_rng(20261206)
    x_CO2 = rng.uniform(0, 0.9, N)
    x_NaCl = (1 - x_CO2) * rng.uniform(0, 0.1, N)
    x_H2O = 1 - x_CO2 - x_NaCl
    best = float("inf")
    for _ in range(repeats):
        start = clock()
        quarn.fugacity(500, 2000, x_CO2, x_H2O, x_NaCl, threads=threads)
        best = min(best, clock() - start)
    return best


def cpp_seconds(benchmarks, threads, field):
    # The C++ batch on the loop quarn uses (0 scalar, 1 AVX2, 2 AVX-512).
    path = ["scalar", "avx2", "avx512"].index(_core.simd_path())
    out = subprocess.run([benchmarks, f"--benchmark_filter=BM_EvaluateBatch/{path}/{threads}/",
                          "--benchmark_repetitions=7", "--benchmark_format=json"],
                         capture_output=True, text=True, check=True).stdout
    runs = [b for b in json.loads(out)["benchmarks"] if b.get("run_type") == "iteration"]
    return min(b[field] for b in runs) / 1000.0  # milliseconds per batch


if __name__ == "__main__":
    print(f"loop: {_core.simd_path()}")
    one = python_seconds(1, time.thread_time)
    every = python_seconds(None, time.perf_counter)
    print(f"quarn.fugacity, {N} points, one thread: {one * 1e3:.1f} ms CPU "
          f"({N / one / 1e6:.2f} M points/s)")
    print(f"quarn.fugacity, {N} points, all cores: {every * 1e3:.1f} ms "
          f"({N / every / 1e6:.2f} M points/s)")
    if len(sys.argv) > 1:
        cpp_one = cpp_seconds(sys.argv[1], 1, "cpu_time")
        cpp_every = cpp_seconds(sys.argv[1], 2, "real_time")
        print(f"C++ EvaluateBatch, one thread: {cpp_one * 1e3:.1f} ms CPU; ratio {one / cpp_one:.2f}")
        print(f"C++ EvaluateBatch, 2 threads: {cpp_every * 1e3:.1f} ms; ratio {every / cpp_every:.2f}")
