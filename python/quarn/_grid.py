"""The values of a grid option: one value, a list ``a,b,c`` or an inclusive
decimal range ``start:stop:step``.

A range gives the decimals it names, start + k * step worked out exactly and
then rounded once to the nearest double: ``0:1:0.05`` gives 0.15 and 0.3, the
doubles nearest those decimals, not the sums of rounded steps. Values are made
for any set of indices on demand, so that an axis of any length takes no
memory of its own.
"""

from __future__ import annotations

import math
from decimal import Decimal, InvalidOperation
from fractions import Fraction

import numpy as np
import numpy.typing as npt

# A decimal numerator below 2^53 over a power of ten up to 10^22 is an exact
# double divided by an exact double: one correctly rounded division.
_EXACT_INTEGER = 2**53
_EXACT_POWERS_OF_TEN = 22


class GridError(ValueError):
    """A grid option that names no values, said in one line."""


def _decimal(text: str, option: str, whole: str) -> Fraction:
    try:
        value = Decimal(text.strip())
    except InvalidOperation:
        raise GridError(f"--{option}: {whole!r} is not a value, a list a,b,c or a range "
                        "start:stop:step") from None
    # Beyond about 1e308 a value is no double; below about 1e-400 not even a
    # subnormal one, and its exact fraction would be needlessly huge.
    if not value.is_finite() or not math.isfinite(float(value)) or \
            (value != 0 and value.adjusted() < -400):
        raise GridError(f"--{option}: {text.strip()!r} in {whole!r} is not a finite number "
                        "in double precision")
    return Fraction(value)


def _decimal_places(q: Fraction) -> int:
    """The fewest decimal places that write q exactly (q is a decimal)."""
    places = 0
    while (q * 10**places).denominator != 1:
        places += 1
    return places


def count_text(n: int) -> str:
    """A count as a user reads it: 1,234,567, or about 10^600 past 10^30."""
    return f"{n:,}" if n < 10**30 else f"about 10^{len(str(n)) - 1}"


class Axis:
    """The values of one grid option, by index: ``count`` of them (``len(axis)``
    where that fits an index)."""

    def __init__(self, text: str, option: str):
        self.option = option
        parts = text.split(":")
        if len(parts) == 1:
            self._list: npt.NDArray[np.float64] | None = np.array(
                [float(_decimal(v, option, text)) for v in text.split(",")])
            self.count = len(self._list)
            return
        if len(parts) != 3:
            raise GridError(f"--{option}: {text!r} is not a value, a list a,b,c or a range "
                            "start:stop:step")
        self._list = None
        start, stop, step = (_decimal(v, option, text) for v in parts)
        if step == 0:
            raise GridError(f"--{option}: the step of {text!r} is zero")
        if (stop - start) * step < 0:
            raise GridError(f"--{option}: the step of {text!r} goes away from its stop")
        self._start, self._step = start, step
        self.count = math.floor((stop - start) / step) + 1
        # start and step as integers over one power of ten, for the exact route.
        self._scale = max(_decimal_places(start), _decimal_places(step))
        power = 10**self._scale
        self._fast = (self._scale <= _EXACT_POWERS_OF_TEN
                      and max(abs(start), abs(start + (self.count - 1) * step)) * power
                      < _EXACT_INTEGER)
        if self._fast:
            self._start_scaled = int(start * power)
            self._step_scaled = int(step * power)

    def __len__(self) -> int:
        return self.count

    def values(self, indices: npt.NDArray[np.int64]) -> npt.NDArray[np.float64]:
        """The values at the given indices (an int64 array), as float64."""
        if self._list is not None:
            return self._list[indices]
        if self._fast:
            numerators = self._start_scaled + indices.astype(np.int64) * self._step_scaled
            scaled: npt.NDArray[np.float64] = numerators.astype(np.float64) / np.float64(10.0**self._scale)
            return scaled
        return np.array([float(self._start + int(k) * self._step) for k in indices],
                        dtype=np.float64)


__all__ = ["Axis", "GridError", "count_text"]
