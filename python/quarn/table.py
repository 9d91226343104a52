"""``quarn table``: CSV tables of the model over a grid or a list of states.

Streams chunk by chunk, so that a grid of any size goes through in bounded
memory; a failing point never stops the table (its fault column says why and
its values are empty).
"""

from __future__ import annotations

import csv
import io
import queue
import sys
import threading
from typing import BinaryIO, Iterator, Sequence

import numpy as np

from . import _core
from ._composition import mole_fractions
from ._model import fugacity

RESULT_COLUMNS = ["phi_CO2", "phi_H2O", "phi_NaCl", "f_CO2", "f_H2O", "f_NaCl", "Z", "V"]
GRID_COLUMNS = ["T_C", "P_bar", "x_CO2", "x_H2O", "x_NaCl", "wt_NaCl"]
CHUNK = 1 << 16


class TableError(ValueError):
    """A table that cannot be made: a bad grid or a bad CSV, said in one line."""


def parse_values(text: str, name: str) -> np.ndarray:
    """``350:600:50`` (inclusive), ``0,10,20`` or ``2000``."""
    try:
        if ":" in text:
            start, stop, step = (float(v) for v in text.split(":"))
            if step <= 0 or stop < start:
                raise ValueError
            count = int(np.floor((stop - start) / step + 1e-9)) + 1
            return start + step * np.arange(count)
        return np.array([float(v) for v in text.split(",")])
    except ValueError:
        raise TableError(f"--{name}: {text!r} is not a value, a list a,b,c or a range "
                         "start:stop:step") from None


def _chunks(total: int) -> Iterator[slice]:
    for start in range(0, total, CHUNK):
        yield slice(start, min(start + CHUNK, total))


class _Progress:
    """A progress line on standard error, only when it is a terminal."""

    def __init__(self, total: int):
        self.total = total
        self.shown = sys.stderr.isatty() and total > CHUNK

    def update(self, done: int) -> None:
        if self.shown:
            sys.stderr.write(f"\r{100 * done // self.total:3d}% {done}/{self.total} points")
            if done == self.total:
                sys.stderr.write("\n")
            sys.stderr.flush()


class _BackgroundWriter:
    """Writes chunks on a thread of its own while the next one is computed (a
    file write holds no lock the computation needs). A failed write is raised
    in the caller, at its next chunk or at the end; nothing after it is written."""

    def __init__(self, out: BinaryIO):
        self._out = out
        self._chunks: queue.Queue = queue.Queue(maxsize=2)
        self._error: BaseException | None = None
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _run(self) -> None:
        while (chunk := self._chunks.get()) is not None:
            if self._error is None:
                try:
                    self._out.write(chunk)
                except BaseException as error:  # handed to the caller
                    self._error = error

    def _check(self) -> None:
        if self._error is not None:
            raise self._error

    def write(self, chunk: bytes) -> None:
        self._check()
        self._chunks.put(chunk)

    def __enter__(self) -> "_BackgroundWriter":
        return self

    def __exit__(self, *exc_info) -> None:
        self._chunks.put(None)
        self._thread.join()
        if exc_info[0] is None:
            self._check()


def _rows(texts, x_CO2, x_H2O, x_NaCl, T_C, P_bar) -> bytes:
    """CSV rows: the text columns (texts, index of each row's text), then the results."""
    r = fugacity(T_C, P_bar, x_CO2, x_H2O, x_NaCl, errors="nan")
    results = [np.ascontiguousarray(getattr(r, c), dtype=np.float64) for c in RESULT_COLUMNS]
    return _core.csv_rows(texts, results, r.fault, r._fault_function)


def grid_table(T: np.ndarray, P: np.ndarray, x_CO2: np.ndarray, wt_NaCl: np.ndarray,
               out: BinaryIO) -> int:
    """Writes the grid T x P x x_CO2 x wt_NaCl (the last varying fastest) as CSV;
    returns the number of rows."""
    axes = [np.asarray(a, dtype=np.float64) for a in (T, P, x_CO2, wt_NaCl)]
    shape = tuple(len(a) for a in axes)
    total = int(np.prod(shape))
    # The grid's values, and the mole fractions of each (x_CO2, wt_NaCl) pair,
    # are written out once each and then looked up.
    pair_x, pair_w = (a.ravel() for a in np.meshgrid(axes[2], axes[3], indexing="ij"))
    pair_fractions = mole_fractions(pair_x, pair_w)
    texts = [_core.shortest(a) for a in axes[:3]] + [_core.shortest(f) for f in pair_fractions[1:]]
    texts.append(_core.shortest(axes[3]))
    out.write((",".join(GRID_COLUMNS + RESULT_COLUMNS + ["fault"]) + "\n").encode())
    progress = _Progress(total)
    for part in _chunks(total):
        i_T, i_P, i_x, i_w = (i.astype(np.int32) for i in
                              np.unravel_index(np.arange(part.start, part.stop), shape))
        pair = i_x * np.int32(shape[3]) + i_w
        codes = [i_T, i_P, i_x, pair, pair, i_w]
        x_c, x_h, x_n = (f[pair] for f in pair_fractions)
        out.write(_rows(list(zip(texts, codes)), x_c, x_h, x_n, axes[0][i_T], axes[1][i_P]))
        progress.update(part.stop)
    return total


def _number(text: str, line: int, column: str) -> float:
    try:
        return float(text)
    except ValueError:
        raise TableError(f"line {line}, column {column}: {text!r} is not a number") from None


def csv_table(source: io.TextIOBase, name: str, out: BinaryIO) -> int:
    """Writes the states of a CSV file (T_C, P_bar and x_CO2, x_H2O, x_NaCl or
    x_CO2, wt_NaCl; other columns are carried through) with their results."""
    reader = csv.reader(source)
    header = next(reader, None)
    if not header:
        raise TableError(f"{name}: the file is empty")
    header = [h.strip() for h in header]
    position = {h: k for k, h in enumerate(header)}
    by_salinity = "wt_NaCl" in position and not {"x_H2O", "x_NaCl"} <= position.keys()
    needed = ["T_C", "P_bar", "x_CO2"] + (["wt_NaCl"] if by_salinity else ["x_H2O", "x_NaCl"])
    missing = [c for c in needed if c not in position]
    if missing:
        raise TableError(f"{name}: no column {', '.join(missing)} (the header has "
                         f"{', '.join(header)}; T_C, P_bar, x_CO2 and either x_H2O, x_NaCl "
                         "or wt_NaCl are needed)")
    out.write((",".join(header + RESULT_COLUMNS + ["fault"]) + "\n").encode())
    rows = 0
    while True:
        block = []
        for _, row in zip(range(CHUNK), reader):
            line = reader.line_num
            if len(row) != len(header):
                raise TableError(f"{name}, line {line}: {len(row)} fields where the header has "
                                 f"{len(header)}")
            block.append((row, [_number(row[position[c]], line, c) for c in needed]))
        if not block:
            return rows
        values = np.array([v for _, v in block], dtype=np.float64).T
        T_C, P_bar, x_CO2 = values[:3]
        x_H2O, x_NaCl = mole_fractions(x_CO2, values[3])[1:] if by_salinity else values[3:]
        text = _rows([], x_CO2, x_H2O, x_NaCl, T_C, P_bar).decode().splitlines(keepends=True)
        buffer = io.StringIO()
        writer = csv.writer(buffer, lineterminator="")
        for (row, _), results in zip(block, text):
            writer.writerow(row)
            buffer.write("," + results)
        out.write(buffer.getvalue().encode())
        rows += len(block)


def main(argv: Sequence[str]) -> int:
    import argparse

    parser = argparse.ArgumentParser(
        prog="quarn table",
        description="CSV of phi, f, Z and V over a grid (--T --P --x-CO2 --wt-NaCl) or for "
                    "the states of a CSV file (columns T_C, P_bar, x_CO2 and x_H2O, x_NaCl "
                    "or wt_NaCl; other columns are carried through).")
    parser.add_argument("input", nargs="?", help="CSV file of states ('-' for standard input)")
    parser.add_argument("-o", "--output", help="CSV file to write (default: standard output)")
    for option, unit in (("T", "C"), ("P", "bar"), ("x-CO2", "mole fraction"),
                         ("wt-NaCl", "wt%% NaCl of the solvent")):
        parser.add_argument(f"--{option}", help=f"grid values ({unit}): a, a,b,c or start:stop:step")
    args = parser.parse_args(argv)
    grid = [args.T, args.P, args.x_CO2, args.wt_NaCl]
    if (args.input is None) == (None in grid):
        parser.error("give a CSV file of states, or all four of --T, --P, --x-CO2 and --wt-NaCl")
    out = None
    try:
        out = open(args.output, "wb") if args.output else sys.stdout.buffer
        with _BackgroundWriter(out) as writer:
            if args.input is None:
                names = ["T", "P", "x-CO2", "wt-NaCl"]
                grid_table(*(parse_values(v, n) for v, n in zip(grid, names)), writer)
            elif args.input == "-":
                csv_table(io.TextIOWrapper(sys.stdin.buffer, newline=""), "<stdin>", writer)
            else:
                with open(args.input, newline="") as source:
                    csv_table(source, args.input, writer)
        out.flush()  # a full disk may show only here
        if args.output:
            out.close()
    except (TableError, OSError, UnicodeDecodeError, csv.Error) as error:
        print(f"quarn table: {error}", file=sys.stderr)
        if args.output and out is not None:
            try:
                out.close()
            except OSError:
                pass  # the failure just reported, met again on the data still buffered
        return 2
    return 0


__all__ = ["grid_table", "csv_table", "parse_values", "TableError"]
