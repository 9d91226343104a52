"""The fugacity call over every kind of array: NumPy, xarray DataArrays (by
their dimension names, coordinates kept) and Dask arrays, which stay lazy: the
model runs chunk by chunk on whatever scheduler computes them, a
``dask.distributed`` cluster included. Dask is not imported here unless the
caller passed one of its arrays (it is then imported already).
"""

from __future__ import annotations

import sys
from dataclasses import fields, replace
from typing import Any

import numpy as np

from . import _core
from ._equilibrium import stability as stability_test
from ._labelled import with_dataarrays
from ._model import INPUTS, FugacityResult, MathError, evaluate_arrays, thread_count
from ._units import plain_arguments

_FIELDS = [f.name for f in fields(FugacityResult)]
# The outputs' types, where they are not float64.
_OUTPUT_TYPES = {"fault": np.int32, "in_range": np.bool_, "_fault_function": np.uint8}
# The stability test's verdicts, carried through Dask's float blocks as their index.
_VERDICTS = np.array(_core.stability_verdicts(), dtype=object)


def fugacity(T_C: Any, P_bar: Any, x_CO2: Any, x_H2O: Any, x_NaCl: Any, *,
             single_precision_inputs: bool = False, errors: str = "raise",
             stability: bool = False, threads: int | None = None) -> FugacityResult:
    """Fugacity coefficients and fugacities of CO2, H2O and NaCl.

    The five arguments are scalars or arrays that broadcast together (NumPy's
    rules; xarray DataArrays by their dimension names, coordinates kept; Dask
    arrays lazily, chunk by chunk): the temperature in degrees Celsius, the
    pressure in bar and the three mole fractions. Quantities with units (pint)
    are converted to those units; a quantity of another dimension is a
    TypeError. T and P are converted as the console program does:
    T_K = T_C + 273.15 and P_atm = P_bar / 1.01325.

    Every state is computed, in range or not; ``in_range`` in the result says
    which lie in the stated range (350-600 C, at least 500 bar, mole fractions
    in [0, 1] summing to 1). Mole fractions outside [0, 1] or not summing to 1
    give one :class:`RangeWarning` per call (Dask arrays excepted: their values
    are not looked at until computed).

    ``single_precision_inputs=True`` first rounds T and P to 32 bits, as the
    run file's reader stores them, so that the numbers are exactly those of a
    report: 400.1 C is then 400.1000061035156 C and T_K is 673.2500061035156.
    With the default ``False`` the float64 values given are used, and 400.1 C
    gives T_K = 673.25.

    ``errors="raise"`` raises :class:`MathError` for the first point at which
    an elementary function fails; ``errors="nan"`` leaves every value of such a
    point NaN (ln phi included) and its number in ``fault``.

    ``stability=True`` adds ``stability``, the tangent-plane test of each state
    (some two thousand evaluations of the model a state, against one): where
    it says "unstable" the model splits the fluid into two or three phases, and
    the numbers are those of a one-phase fluid that would not exist
    (:func:`quarn.flash` gives the phases).

    ``threads`` limits the threads the computation runs on (default: all
    cores); the numbers never depend on it. Ctrl-C interrupts a long call
    within a fraction of a second.
    """
    if errors not in ("raise", "nan"):
        raise ValueError(f'errors must be "raise" or "nan", not {errors!r}')
    thread_count(threads)
    values = plain_arguments((T_C, P_bar, x_CO2, x_H2O, x_NaCl))
    options: dict[str, Any] = {"single_precision_inputs": single_precision_inputs,
                               "errors": errors, "stability": bool(stability), "threads": threads}
    return _evaluate_any(values, options)


def _evaluate_any(values: list[Any], options: dict[str, Any]) -> FugacityResult:
    """The result for DataArrays, Dask arrays or NumPy arrays among the values."""
    labelled = with_dataarrays(INPUTS, values, lambda plain: _evaluate_any(plain, options),
                               lazy=True, named=True)
    if labelled is not None:
        return labelled  # type: ignore[no-any-return]
    da = sys.modules.get("dask.array")
    if da is not None and any(isinstance(v, da.Array) for v in values):
        return _with_dask(da, values, options)
    return _evaluate(values, warn=True, **options)


def _evaluate(values: list[Any], *, warn: bool, stability: bool, **options: Any) -> FugacityResult:
    """The model over NumPy arrays, with the stability verdict where asked for."""
    result = evaluate_arrays(values, warn=warn, **options)
    if not stability:
        return result
    inputs = [getattr(result, name) for name in INPUTS]
    return replace(result, stability=stability_test(*inputs, threads=options["threads"]).verdict)


def _fields(options: dict[str, Any]) -> list[str]:
    """The result's fields a call fills: ``stability`` only when asked for."""
    return [f for f in _FIELDS if f != "stability" or options.get("stability")]


def _with_dask(da: Any, values: list[Any], options: dict[str, Any]) -> FugacityResult:
    arrays = [da.asarray(v) for v in values]
    for name, array in zip(INPUTS, arrays):
        if array.dtype.kind not in "iuf":
            raise TypeError(f"{name} must be a real number or an array of them, not {array.dtype}")
    shape = np.broadcast_shapes(*(a.shape for a in arrays))
    # The chunks of the largest Dask input set the chunks of every other input.
    largest = max((a for a, v in zip(arrays, values) if isinstance(v, da.Array)), key=lambda a: a.size)
    chunks = da.broadcast_to(largest, shape).chunks
    arrays = [da.broadcast_to(a.astype(np.float64), shape).rechunk(chunks) for a in arrays]

    names = _fields(options)[len(INPUTS):]

    def block(*blocks: Any, block_info: Any = None) -> Any:
        try:
            result = _evaluate(list(blocks), warn=False, **options)
        except MathError as error:  # the point's index in the whole array, not the chunk's
            where = block_info[None]
            local = np.unravel_index(error.index, where["chunk-shape"][1:])
            start = [s[0] for s in where["array-location"][1:]]
            index = int(np.ravel_multi_index([a + b for a, b in zip(local, start)], shape))
            raise MathError(error.number, error.function, index) from None
        return np.stack([_as_numbers(name, getattr(result, name)) for name in names])

    stacked = da.map_blocks(block, *arrays, dtype=np.float64, new_axis=0,
                            chunks=((len(names),), *chunks), meta=np.empty((0,) * (len(shape) + 1)))
    outputs = {name: stacked[k] for k, name in enumerate(names)}
    for name, kind in _OUTPUT_TYPES.items():
        outputs[name] = outputs[name].astype(kind)
    if "stability" in outputs:
        outputs["stability"] = outputs["stability"].map_blocks(
            lambda codes: _VERDICTS[codes.astype(np.intp)], dtype=object)
    return FugacityResult(*arrays, **outputs)


def _as_numbers(name: str, values: Any) -> Any:
    if name == "stability":
        return sum(k * (np.asarray(values) == v) for k, v in enumerate(_VERDICTS)).astype(np.float64)
    return np.asarray(values, dtype=np.float64)


__all__ = ["fugacity"]
