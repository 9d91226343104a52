"""Fugacity coefficients and fugacities of CO2, H2O and NaCl in H2O-CO2-NaCl
fluids at high temperature and pressure: a Redlich-Kwong mixture of CO2 and a
salt-dependent aqueous solvent, with the console program's numbers bit for bit.
"""

from importlib.metadata import version as _version

from . import plot
from ._composition import mole_fractions, weight_percent_NaCl
from ._model import FugacityResult, MathError, RangeWarning, fugacity
from ._run_file import RunFileError, read_run_file, run

__version__ = _version("quarn")

__all__ = ["FugacityResult", "MathError", "RangeWarning", "RunFileError", "__version__", "fugacity",
           "mole_fractions", "plot", "read_run_file", "run", "weight_percent_NaCl"]
