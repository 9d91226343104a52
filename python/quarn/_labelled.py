"""xarray DataArrays through any of the package's calls: the one place that
broadcasts them by their dimension names, checks that their coordinates agree
(coordinates that disagree are an error, not a silent join) and labels the
answer's arrays with the dimensions and coordinates. xarray is not imported
here unless the caller passed one of its arrays (it is then imported already).
"""

from __future__ import annotations

import sys
from dataclasses import fields, is_dataclass, replace
from typing import Any, Callable

import numpy as np


def with_dataarrays(names: tuple[str, ...], values: list[Any], compute: Callable[[list[Any]], Any],
                    *, lazy: bool = False, named: bool = False) -> Any:
    """The answer of `compute` over the broadcast values of the arguments, every
    array in it (through nested dataclasses; None stays None) a DataArray with
    their dimensions and coordinates; None where no argument is a DataArray.
    `lazy`: Dask-backed DataArrays hand `compute` their Dask arrays, else their
    computed values. `named`: each array is named after its field."""
    xr = sys.modules.get("xarray")
    if xr is None or not any(isinstance(v, xr.DataArray) for v in values):
        return None
    for name, value in zip(names, values):
        if not isinstance(value, xr.DataArray) and np.ndim(value) > 0:
            raise TypeError(f"{name}: with DataArrays, give DataArrays or scalars (a plain array "
                            "has no dimension names to broadcast by)")
    labelled = [v for v in values if isinstance(v, xr.DataArray)]
    try:
        xr.align(*labelled, join="exact")
    except ValueError as error:
        raise ValueError(f"the DataArrays' coordinates disagree: {error}") from None
    template = xr.broadcast(*labelled)[0]
    answer = compute([(v.broadcast_like(template).data if lazy else v.broadcast_like(template).values)
                      if isinstance(v, xr.DataArray) else v for v in values])

    def label(value: Any, name: str) -> Any:
        if value is None:
            return None
        if is_dataclass(value):
            return replace(value, **{f.name: label(getattr(value, f.name), f.name)  # type: ignore[type-var]
                                     for f in fields(value) if f.init})
        if getattr(value, "shape", None) != template.shape:
            value = np.broadcast_to(value, template.shape)
        return xr.DataArray(value, dims=template.dims, coords=template.coords,
                            name=name if named else None)

    return label(answer, "")


__all__ = ["with_dataarrays"]
