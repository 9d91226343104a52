"""Fugacity coefficients and fugacities of CO2, H2O and NaCl in H2O-CO2-NaCl
fluids at high temperature and pressure: a Redlich-Kwong mixture of CO2 and a
salt-dependent aqueous solvent, with the console program's numbers bit for bit.
"""

from importlib.metadata import version as _version

from . import plot
from ._composition import mole_fractions, weight_percent_NaCl
from ._equilibrium import (FlashResult, OnePhaseLimitResult, PhaseArrays, StabilityResult, flash,
                           one_phase_limit, stability)
from ._fugacity import fugacity
from ._model import FugacityResult, MathError, RangeWarning
from ._run_file import RunFileError, read_run_file, run

__version__ = _version("quarn")

__all__ = ["FlashResult", "FugacityResult", "MathError", "OnePhaseLimitResult", "PhaseArrays",
           "RangeWarning", "RunFileError", "StabilityResult", "__version__", "flash", "fugacity",
           "mole_fractions", "one_phase_limit", "plot", "read_run_file", "run", "stability",
           "weight_percent_NaCl"]
