"""xarray DataArrays and Dask arrays through the model.

DataArrays broadcast by their dimension names, with their coordinates kept
(coordinates that disagree are an error, not a silent join). Dask arrays stay
lazy: the model runs chunk by chunk on whatever scheduler computes them, a
``dask.distributed`` cluster included. Neither library is imported here unless
the caller passed one of its arrays (it is then imported already).
"""

from __future__ import annotations

import sys
from dataclasses import fields
from typing import Any

import numpy as np

from . import _core
from ._model import INPUTS, FugacityResult, MathError, evaluate_arrays

_FIELDS = [f.name for f in fields(FugacityResult)]
# The outputs' types, where they are not float64.
_OUTPUT_TYPES = {"fault": np.int32, "in_range": np.bool_, "_fault_function": np.uint8}
# The stability test's verdicts, carried through Dask's float blocks as their index.
_VERDICTS = np.array(_core.stability_verdicts(), dtype=object)


def _fields(options: dict[str, Any]) -> list[str]:
    """The result's fields a call fills: ``stability`` only when asked for."""
    return [f for f in _FIELDS if f != "stability" or options.get("stability")]


def evaluate_labelled(values: list[Any], options: dict[str, Any]) -> FugacityResult | None:
    """The result for DataArrays or Dask arrays among the values; None where
    there are neither."""
    xr = sys.modules.get("xarray")
    if xr is not None and any(isinstance(v, xr.DataArray) for v in values):
        return _with_xarray(xr, values, options)
    da = sys.modules.get("dask.array")
    if da is not None and any(isinstance(v, da.Array) for v in values):
        return _with_dask(da, values, options)
    return None


def _with_xarray(xr: Any, values: list[Any], options: dict[str, Any]) -> FugacityResult:
    for name, value in zip(INPUTS, values):
        if not isinstance(value, xr.DataArray) and np.ndim(value) > 0:
            raise TypeError(f"{name}: with DataArrays, give DataArrays or scalars (a plain array "
                            "has no dimension names to broadcast by)")

    names = _fields(options)

    def compute(*arrays: Any) -> tuple[Any, ...]:
        result = evaluate_labelled(list(arrays), options) or \
            evaluate_arrays(list(arrays), warn=True, **options)
        return tuple(getattr(result, name) for name in names)

    outputs = xr.apply_ufunc(compute, *values, output_core_dims=[[]] * len(names),
                             dask="allowed", join="exact")
    return FugacityResult(**{name: out.rename(name) for name, out in zip(names, outputs)})


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
            result = evaluate_arrays(list(blocks), warn=False, **options)
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


__all__ = ["evaluate_labelled"]
