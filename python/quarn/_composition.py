"""Compositions from the CO2 fraction and the solvent's salinity in wt% NaCl."""

from __future__ import annotations

import numpy as np

M_H2O = 18.016  # g/mol, the model's molar masses
M_NaCl = 58.448


def mole_fractions(x_CO2, wt_NaCl):
    """(x_CO2, x_H2O, x_NaCl) of a fluid with the CO2 mole fraction ``x_CO2`` and
    a solvent (H2O + NaCl) of ``wt_NaCl`` weight percent NaCl, the model's own W.
    Broadcasts over both arguments."""
    x_CO2 = np.asarray(x_CO2, dtype=np.float64)
    W = np.asarray(wt_NaCl, dtype=np.float64)
    solvent = 1.0 - x_CO2
    x_NaCl = solvent * W * M_H2O / ((100.0 - W) * M_NaCl + W * M_H2O)
    return np.broadcast_arrays(x_CO2, solvent - x_NaCl, x_NaCl)


def weight_percent_NaCl(x_H2O, x_NaCl):
    """The solvent's salinity W = 100 * 58.448 x_NaCl / (18.016 x_H2O + 58.448 x_NaCl),
    in weight percent (NaN where the fluid has no solvent)."""
    x_H2O = np.asarray(x_H2O, dtype=np.float64)
    x_NaCl = np.asarray(x_NaCl, dtype=np.float64)
    with np.errstate(invalid="ignore", divide="ignore"):
        return 100.0 * M_NaCl * x_NaCl / (M_H2O * x_H2O + M_NaCl * x_NaCl)
