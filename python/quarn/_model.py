"""Fugacity coefficients over NumPy arrays of states."""

from __future__ import annotations

from dataclasses import dataclass, field

import numpy as np

from . import _core

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

    def __reduce__(self):
        # Rebuilt from its attributes, so that it crosses process boundaries
        # (a process pool's worker) and copies whole.
        return type(self), (self.number, self.function, self.index)


@dataclass(frozen=True)
class FugacityResult:
    """The model's numbers for every state, each an array of the broadcast shape.

    ``phi_*`` are the fugacity coefficients, ``f_*`` the fugacities in bar
    (f = x * phi * P, formed as the report forms them), ``Z`` the
    compressibility factor, ``V`` the molar volume in cm^3/mol (rounded to
    single precision, as the method carries it), and ``fault`` the number of
    the failing elementary function of a point (0 where none).
    """

    phi_CO2: np.ndarray
    phi_H2O: np.ndarray
    phi_NaCl: np.ndarray
    f_CO2: np.ndarray
    f_H2O: np.ndarray
    f_NaCl: np.ndarray
    Z: np.ndarray
    V: np.ndarray
    fault: np.ndarray
    _fault_function: np.ndarray = field(repr=False, compare=False)

    def fault_message(self, index: int) -> str:
        """The failure at a flat index as the console words it ("" where none)."""
        number = int(self.fault.flat[index])
        if not number:
            return ""
        return str(MathError(number, _core.FAULT_FUNCTIONS[self._fault_function[index]], index))


def _as_float_array(name: str, value) -> np.ndarray:
    if isinstance(value, np.ma.MaskedArray):
        # Computing the values under the mask would give numbers for points the
        # caller meant to leave out.
        raise TypeError(f"{name} is a masked array: fill it (x.filled(np.nan)) or drop the "
                        "masked points (x.compressed()) first")
    array = np.asarray(value)
    if array.dtype.kind not in "iuf":
        raise TypeError(f"{name} must be a real number or an array of them, not {array.dtype}")
    return array.astype(np.float64, copy=False)


def fugacity(T_C, P_bar, x_CO2, x_H2O, x_NaCl, *, single_precision_inputs: bool = False,
             errors: str = "raise", threads: int | None = None) -> FugacityResult:
    """Fugacity coefficients and fugacities of CO2, H2O and NaCl.

    The five arguments are scalars or arrays that broadcast together (NumPy's
    rules): the temperature in degrees Celsius, the pressure in bar and the
    three mole fractions, used as given (neither range nor sum is checked;
    values outside the stated range, 350-600 C and above 500 bar, are
    computed all the same). T and P are converted as the console program
    does: T_K = T_C + 273.15 and P_atm = P_bar / 1.01325.

    ``single_precision_inputs=True`` first rounds T and P to 32 bits, as the
    run file's reader stores them, so that the numbers are exactly those of a
    report: 400.1 C is then 400.1000061035156 C and T_K is 673.2500061035156.
    With the default ``False`` the float64 values given are used, and 400.1 C
    gives T_K = 673.25.

    ``errors="raise"`` raises :class:`MathError` for the first point at which
    an elementary function fails; ``errors="nan"`` leaves every value of such a
    point NaN and its number in ``fault``. ``threads`` limits the threads the
    computation runs on (default: all cores); the numbers never depend on it.
    """
    if errors not in ("raise", "nan"):
        raise ValueError(f'errors must be "raise" or "nan", not {errors!r}')
    names = ("T_C", "P_bar", "x_CO2", "x_H2O", "x_NaCl")
    arrays = [_as_float_array(n, v) for n, v in zip(names, (T_C, P_bar, x_CO2, x_H2O, x_NaCl))]
    try:
        shape = np.broadcast_shapes(*(a.shape for a in arrays))
    except ValueError:
        shapes = ", ".join(f"{n} {a.shape}" for n, a in zip(names, arrays))
        raise ValueError(f"the arguments' shapes do not broadcast together: {shapes}") from None
    if single_precision_inputs:
        arrays[0] = arrays[0].astype(np.float32).astype(np.float64)
        arrays[1] = arrays[1].astype(np.float32).astype(np.float64)
    # An argument with one value for all points goes to the batch as such.
    columns = [np.ascontiguousarray(a.reshape(1) if a.size == 1 else np.broadcast_to(a, shape).ravel())
               for a in arrays]
    n = int(np.prod(shape))
    out = np.empty((8, n), dtype=np.float64)
    fault = np.empty(n, dtype=np.int32)
    function = np.empty(n, dtype=np.uint8)
    _core.evaluate(*columns, out, fault, function, 0 if threads is None else threads)
    failing = np.flatnonzero(fault)
    if failing.size and errors == "raise":
        i = int(failing[0])
        raise MathError(int(fault[i]), _core.FAULT_FUNCTIONS[function[i]], i)
    out[:, failing] = np.nan
    return FugacityResult(*(row.reshape(shape) for row in out), fault=fault.reshape(shape),
                          _fault_function=function)
