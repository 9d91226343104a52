"""Fugacity coefficients and fugacities of CO2, H2O and NaCl in H2O-CO2-NaCl
fluids at high temperature and pressure: a Redlich-Kwong mixture of CO2 and a
salt-dependent aqueous solvent, with the console program's numbers bit for bit.
"""

from . import plot
from ._composition import mole_fractions, weight_percent_NaCl
from ._equilibrium import (FlashResult, OnePhaseLimitResult, PhaseArrays, StabilityResult, flash,
                           one_phase_limit, stability)
from ._fluid import (ActivitiesResult, IsochoreResult, MixtureParametersResult,
                     PhaseBoundariesResult, activities, homogenization, homogenization_temperature,
                     isochore, mixture_parameters, molar_mass)
from ._fugacity import fugacity
from ._model import FugacityResult, MathError, RangeWarning
from ._run_file import RunFileError, read_run_file, run

__version__: str


def __getattr__(name: str) -> str:
    # The version is read from the installed package's metadata when first
    # asked for: importing the metadata machinery costs every command line
    # call some 70 ms.
    if name == "__version__":
        from importlib.metadata import version
        return version("quarn")
    raise AttributeError(f"module 'quarn' has no attribute {name!r}")


__all__ = ["ActivitiesResult", "FlashResult", "FugacityResult", "IsochoreResult", "MathError",
           "MixtureParametersResult", "OnePhaseLimitResult", "PhaseArrays", "PhaseBoundariesResult",
           "RangeWarning", "RunFileError", "StabilityResult", "__version__", "activities", "flash",
           "fugacity", "homogenization", "homogenization_temperature", "isochore", "mixture_parameters", "molar_mass", "mole_fractions", "one_phase_limit",
           "plot", "read_run_file", "run", "stability", "weight_percent_NaCl"]
