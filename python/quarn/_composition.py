"""Compositions from the CO2 fraction and the solvent's salinity in wt% NaCl."""

from __future__ import annotations

from typing import Any

import numpy as np
import numpy.typing as npt

from . import _core

M_H2O: float = _core.molar_mass_H2O  # g/mol, the model's molar masses
M_NaCl: float = _core.molar_mass_NaCl


def mole_fractions(x_CO2: Any, wt_NaCl: Any) -> list[npt.NDArray[np.float64]]:
    """(x_CO2, x_H2O, x_NaCl) of a fluid with the CO2 mole fraction ``x_CO2`` and
    a solvent (H2O + NaCl) of ``wt_NaCl`` weight percent NaCl, the model's own W.
    Broadcasts over both arguments."""
    x, W = np.broadcast_arrays(np.asarray(x_CO2, dtype=np.float64),
                               np.asarray(wt_NaCl, dtype=np.float64))
    x_CO2 = np.ascontiguousarray(x.ravel())
    x_H2O, x_NaCl = np.empty(x.size), np.empty(x.size)
    _core.composition_from_salinity(x_CO2, np.ascontiguousarray(W.ravel()), x_H2O=x_H2O,
                                    x_NaCl=x_NaCl)
    return [c.reshape(x.shape) for c in (x_CO2.copy(), x_H2O, x_NaCl)]


def weight_percent_NaCl(x_H2O: Any, x_NaCl: Any) -> npt.NDArray[np.float64]:
    """The solvent's salinity W = 100 x_NaCl 58.448 / (18.016 x_H2O + 58.448 x_NaCl),
    in weight percent, worked out in the model's own order, so that it is the W
    the model uses (NaN where the fluid has no solvent; the model takes a
    solvent without salt, x_NaCl at most 1e-8, as W = 0)."""
    x_H2O = np.asarray(x_H2O, dtype=np.float64)
    x_NaCl = np.asarray(x_NaCl, dtype=np.float64)
    with np.errstate(invalid="ignore", divide="ignore"):
        W: npt.NDArray[np.float64] = 100.0 * x_NaCl * M_NaCl / (M_H2O * x_H2O + M_NaCl * x_NaCl)
    return W
