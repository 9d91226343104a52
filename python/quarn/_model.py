"""Fugacity coefficients over NumPy arrays of states."""

from __future__ import annotations

import importlib
import os
import warnings
from dataclasses import dataclass, field, fields
from typing import Any

import numpy as np
import numpy.typing as npt

from . import _core

# The model's stated range; states outside it are computed all the same.
STATED_T_C = (350.0, 600.0)
STATED_P_BAR = 500.0
# How far the mole fractions' sum may be from 1 for a state to count as in range.
SUM_TOLERANCE = 1e-6

INPUTS = ("T_C", "P_bar", "x_CO2", "x_H2O", "x_NaCl")
# The batch call's output rows, by the names the core gives them.
ROWS = tuple(_core.evaluate_layout()["rows"])


class MathError(ArithmeticError):
    """An elementary function failed inside the equation of state.

    Attributes: ``number`` (6201 DOMAIN, 6202 SING for the logarithm of zero,
    6203 OVERFLOW), ``function`` ("exp", "log", "sqrt" or "**") and ``index``,
    the flat index of the first failing point in the broadcast shape.
    """

    def __init__(self, number: int, function: str, index: int):
        self.number = number
        self.function = function
        self.index = index
        super().__init__(f"{_core.fault_text(number, function)} at point {index}")

    def __reduce__(self) -> tuple[type, tuple[int, str, int]]:
        # Rebuilt from its attributes, so that it crosses process boundaries
        # (a process pool's worker) and copies whole.
        return type(self), (self.number, self.function, self.index)


class RangeWarning(UserWarning):
    """Mole fractions outside [0, 1] or not summing to 1: most often a units slip
    (percent for fractions, say). The numbers are computed all the same."""


@dataclass(frozen=True)
class FugacityResult:
    """The model's numbers for every state, each an array of the broadcast shape
    (a DataArray for DataArrays in, a Dask array for Dask arrays in).

    ``T_C``, ``P_bar``, ``x_CO2``, ``x_H2O``, ``x_NaCl`` are the states as
    computed (broadcast); ``phi_*`` the fugacity coefficients; ``f_*`` the
    fugacities in bar (f = x * phi * P, formed as the report forms them);
    ``Z`` the compressibility factor; ``V`` the molar volume in cm^3/mol
    (rounded to single precision, as the method carries it; the gas constant is
    82.05 cm^3 atm/(mol K)); ``rho`` the mass density in g/cm^3, M/V with the
    standard molar masses (CO2 44.0095, H2O 18.01528, NaCl 58.44277 g/mol);
    ``ln_phi_*`` the natural logarithms of the
    coefficients (finite where phi underflows to 0 or overflows); ``fault`` the
    number of the failing elementary function of a point (0 where none); and
    ``in_range`` whether the state lies in the model's stated range (350-600 C,
    at least 500 bar, mole fractions in [0, 1] summing to 1 within 1e-6).
    ``stability`` (asked for with ``stability=True``, else None): whether the
    model keeps each state one phase, the verdict of :func:`quarn.stability`:
    "stable", "unstable" (the fluid splits: its phi are those of a fluid that
    the model does not hold together) or "undecided".
    """

    T_C: Any
    P_bar: Any
    x_CO2: Any
    x_H2O: Any
    x_NaCl: Any
    phi_CO2: Any
    phi_H2O: Any
    phi_NaCl: Any
    f_CO2: Any
    f_H2O: Any
    f_NaCl: Any
    Z: Any
    V: Any
    rho: Any
    ln_phi_CO2: Any
    ln_phi_H2O: Any
    ln_phi_NaCl: Any
    fault: Any
    in_range: Any
    _fault_function: Any = field(repr=False, compare=False)
    stability: Any = None

    def fault_message(self, index: int) -> str:
        """The failure at a flat index as the console words it ("" where none)."""
        number = int(np.asarray(self.fault).flat[index])
        if not number:
            return ""
        function = int(np.asarray(self._fault_function).flat[index])
        return str(MathError(number, _core.function_name(function), index))

    def to_dataframe(self) -> Any:
        """A pandas DataFrame with one row per state: the inputs, then every
        result (needs pandas)."""
        try:
            pandas = importlib.import_module("pandas")
        except ImportError:
            raise ImportError("to_dataframe needs pandas: pip install pandas (or, in the source, "
                              "pip install '.[pandas]')") from None
        return pandas.DataFrame({f.name: np.asarray(getattr(self, f.name)).ravel()
                                 for f in fields(self)
                                 if not f.name.startswith("_") and getattr(self, f.name) is not None})


_simd_note_said = False


def _say_simd_note() -> None:
    """Once a process: a RuntimeWarning where the batch's evaluation loop is not
    the widest the processor offers (QUARN_SIMD, or a loop that failed its
    self-test against the scalar loop). The numbers are the same either way."""
    global _simd_note_said
    if not _simd_note_said:
        _simd_note_said = True
        note = _core.simd_path_note()
        if note:
            warnings.warn(f"quarn: {note}", RuntimeWarning, stacklevel=4)


def _as_float_array(name: str, value: Any) -> npt.NDArray[np.float64]:
    if isinstance(value, np.ma.MaskedArray):
        # Computing the values under the mask would give numbers for points the
        # caller meant to leave out.
        raise TypeError(f"{name} is a masked array: fill it (x.filled(np.nan)) or drop the "
                        "masked points (x.compressed()) first")
    array = np.asarray(value)
    if array.dtype.kind not in "iuf":
        raise TypeError(f"{name} must be a real number or an array of them, not {array.dtype}")
    return array.astype(np.float64, copy=False)


def thread_count(threads: Any) -> int:
    """The threads a batch call is to run on: 0 (every core) for None, else a
    whole number from 1 up, at most the machine's cores (more would only queue
    behind each other)."""
    if threads is None:
        return 0
    if isinstance(threads, bool) or not isinstance(threads, (int, np.integer)) or threads < 1:
        raise ValueError(f"threads must be a whole number from 1 up, or None for every core, "
                         f"not {threads!r}")
    return int(min(threads, os.cpu_count() or 1))


def broadcast_shape(names: tuple[str, ...], arrays: list[Any]) -> tuple[int, ...]:
    """The shape the arguments broadcast to, or a ValueError that gives each one's."""
    try:
        return np.broadcast_shapes(*(a.shape for a in arrays))
    except ValueError:
        shapes = ", ".join(f"{n} {a.shape}" for n, a in zip(names, arrays))
        raise ValueError(f"the arguments' shapes do not broadcast together: {shapes}") from None


def batch_columns(arrays: list[Any], shape: tuple[int, ...]) -> list[Any]:
    """Each argument as a batch call takes it: one value for all points as such,
    else one value per point."""
    return [np.ascontiguousarray(a.reshape(1) if a.size == 1 else np.broadcast_to(a, shape).ravel())
            for a in arrays]


def in_stated_range(T_C: Any, P_bar: Any, x_CO2: Any, x_H2O: Any, x_NaCl: Any) -> Any:
    """Whether each state lies in the model's stated range (broadcasts)."""
    return (_fractions_fit(x_CO2, x_H2O, x_NaCl) & (T_C >= STATED_T_C[0]) & (T_C <= STATED_T_C[1])
            & (P_bar >= STATED_P_BAR))


def _fractions_fit(x_CO2: Any, x_H2O: Any, x_NaCl: Any) -> Any:
    each = [(x >= 0.0) & (x <= 1.0) for x in (x_CO2, x_H2O, x_NaCl)]
    return each[0] & each[1] & each[2] & (abs(x_CO2 + x_H2O + x_NaCl - 1.0) <= SUM_TOLERANCE)


def _warn_of_fractions(unfit: int, first: int, fractions: list[Any]) -> None:
    if unfit:
        x = ", ".join(f"{float(a.flat[first]):g}" for a in fractions)
        warnings.warn(f"{unfit} composition(s) have mole fractions outside [0, 1] or not "
                      f"summing to 1, the first {x} (percent for fractions?); they are computed "
                      "all the same", RangeWarning, stacklevel=4)


def evaluate_arrays(values: list[Any], *, warn: bool, single_precision_inputs: bool,
                    errors: str, threads: int | None) -> FugacityResult:
    """The model over NumPy arrays (or anything that converts to them), without
    the stability verdict."""
    arrays = [_as_float_array(n, v) for n, v in zip(INPUTS, values)]
    shape = broadcast_shape(INPUTS, arrays)
    if single_precision_inputs:
        arrays[0] = arrays[0].astype(np.float32).astype(np.float64)
        arrays[1] = arrays[1].astype(np.float32).astype(np.float64)
    columns = batch_columns(arrays, shape)
    n = int(np.prod(shape))
    out = np.empty((len(ROWS), n), dtype=np.float64)
    fault = np.empty(n, dtype=np.int32)
    function = np.empty(n, dtype=np.uint8)
    in_range = np.empty(n, dtype=bool)
    T, P, x_c, x_h, x_n = columns
    _say_simd_note()
    failed, first_failed, unfit, first_unfit = _core.evaluate(
        T, P, x_c, x_h, x_n, out, fault, function, in_range,
        (*STATED_T_C, STATED_P_BAR, SUM_TOLERANCE), thread_count(threads))
    inputs = [np.broadcast_to(a, shape) for a in arrays]
    if warn:
        _warn_of_fractions(unfit, first_unfit, inputs[2:])
    if failed and errors == "raise":
        raise MathError(int(fault[first_failed]), _core.function_name(int(function[first_failed])),
                        first_failed)
    if failed:
        out[:, np.flatnonzero(fault)] = np.nan
    columns_of = {**dict(zip(INPUTS, inputs)), **{n: row.reshape(shape) for n, row in zip(ROWS, out)}}
    return FugacityResult(**columns_of, fault=fault.reshape(shape), in_range=in_range.reshape(shape),
                          _fault_function=function.reshape(shape))


__all__ = ["FugacityResult", "MathError", "RangeWarning", "in_stated_range"]
