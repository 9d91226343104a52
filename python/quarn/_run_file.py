"""Run files (qnrun.dat) read by the console program's own rules."""

from __future__ import annotations

import os
from typing import Any

import numpy as np
import numpy.typing as npt

from . import _core
from ._fugacity import fugacity
from ._model import FugacityResult


class RunFileError(ValueError):
    """A run file the console program would stop on.

    ``number`` is the program's message number (24 end of file, 59 syntax,
    64 conversion, 22 memory), ``line`` the line it was met on, and the text
    is the console's message text.
    """

    def __init__(self, number: int, text: str, line: int):
        self.number = number
        self.text = text
        self.line = line
        super().__init__(f"{text} (line {line})")

    def __reduce__(self) -> tuple[type, tuple[int, str, int]]:
        return type(self), (self.number, self.text, self.line)


def read_run_file(path: str | bytes | os.PathLike[str]) -> tuple[float, float, npt.NDArray[np.float64]]:
    """Reads a run file as the console program does.

    Returns ``(T_C, P_bar, x)``: the temperature and pressure of the first line
    as the 32-bit values the program holds, widened to float, and an (n, 3)
    float64 array of the compositions (x_CO2, x_H2O, x_NaCl), one per read:
    null values and slashes keep the previous composition's values, repeat
    counts, D and Q exponents and the rest follow the program's reader. The
    end of the file inside a composition, a malformed number or a number out
    of range raises :class:`RunFileError`; a file that cannot be opened raises
    the usual :class:`OSError`. A line longer than 64 MiB (an input that never
    ends a line) raises :class:`RunFileError` 22, as a line too long for memory
    does in the console program. Ctrl-C interrupts a long read.
    """
    with open(path, "rb") as file:
        message, os_error, line, T, P, x = _core.read_run_file(file.fileno())
    if message:
        full_path = os.path.abspath(os.fsdecode(path))
        text = _core.io_message(message, 10, full_path)
        if os_error:
            text = f"{os.strerror(os_error)}: {text}"
        raise RunFileError(message, text, line)
    return float(T), float(P), x


def run(path: str | bytes | os.PathLike[str] = "qnrun.dat", *,
        errors: str = "raise") -> dict[str, Any]:
    """Evaluates a run file: the numbers its report would show, in full float64.

    Returns the report's nine columns as arrays under the package's names
    (x_CO2, phi_CO2, f_CO2, x_H2O, phi_H2O, f_H2O, x_NaCl, phi_NaCl, f_NaCl),
    together with T_C and P_bar. Where the console program stops at a failing elementary
    function, this raises :class:`quarn.MathError` (or, with ``errors="nan"``,
    gives NaN for that composition and goes on).
    """
    T_C, P_bar, x = read_run_file(path)
    r: FugacityResult = fugacity(T_C, P_bar, x[:, 0], x[:, 1], x[:, 2],
                                 single_precision_inputs=True, errors=errors)
    numbers: dict[str, Any] = {"T_C": T_C, "P_bar": P_bar}
    for k, species in enumerate(("CO2", "H2O", "NaCl")):
        numbers.update({f"x_{species}": x[:, k], f"phi_{species}": getattr(r, f"phi_{species}"),
                        f"f_{species}": getattr(r, f"f_{species}")})
    return numbers
