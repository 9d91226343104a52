"""Figures of a fluid-inclusion study: a bulk fluid's one- and two-phase
regions in P-T with isochores through them, and isochores alone."""

from __future__ import annotations

from typing import Any

import numpy as np

from ._composition import mole_fractions
from ._equilibrium import stability
from ._fluid import isochore
from ._fugacity import fugacity
from ._phase_plots import ONE_PHASE, TWO_PHASES, UNDECIDED, _edges, _new_axes

# The P-T figure's default grid: 5 C by 100 bar over the stated range.
PT_T_C = np.linspace(350.0, 600.0, 51)
PT_P_BAR = np.linspace(500.0, 6000.0, 56)
# The isochores drawn by default: through 400 C at these pressures.
DEFAULT_START_T_C = 400.0
DEFAULT_START_P_BAR = (1000.0, 2000.0, 4000.0)
ISOCHORE = "#1f4e79"


def _densities(x: list[Any], rho: Any, starts: Any) -> list[float]:
    """The isochores' densities: as given, or the fluid's at each (T_C, P_bar)
    start (by default 400 C and 1000, 2000, 4000 bar)."""
    if rho is not None:
        return [float(r) for r in np.atleast_1d(rho)]
    if starts is None:
        starts = [(DEFAULT_START_T_C, P) for P in DEFAULT_START_P_BAR]
    T, P = (np.array([s[k] for s in starts], dtype=float) for k in (0, 1))
    return [float(r) for r in fugacity(T, P, *x).rho]


def _draw_isochores(panel: Any, x: list[Any], densities: list[float], T_C: Any,
                    P_top: float = np.inf) -> None:
    """Each isochore over T_C where its points are valid, the stretches where
    the model puts the fluid in two phases dashed (metastable there); labelled
    by density at its last point up to `P_top`."""
    for rho in densities:
        iso = isochore(T_C, *x, rho=rho, stability=True)
        P = np.where(iso.valid, iso.P_bar, np.nan)
        one = np.where(iso.stability == "stable", P, np.nan)
        panel.plot(T_C, P, "--", color=ISOCHORE, lw=1.0)
        panel.plot(T_C, one, "-", color=ISOCHORE, lw=1.6)
        last = np.flatnonzero(np.isfinite(P) & (P <= P_top))
        if last.size:
            panel.annotate(f"{rho:.3f} g/cm3", (T_C[last[-1]], P[last[-1]]), fontsize="small",
                           color=ISOCHORE, xytext=(3, 0), textcoords="offset points", va="center")


def pt(x_CO2: float, wt_NaCl: float, *, rho: Any = None, starts: Any = None, T_C: Any = None,
       P_bar: Any = None, ax: Any = None, salinity_cap: float = 50.0) -> Any:
    """Where a bulk fluid (``x_CO2`` in a solvent of ``wt_NaCl``) is one or
    two phases in P-T: each cell of the grid `T_C` x `P_bar` (default 350-600 C
    by 5, 500-6000 bar by 100) coloured by the stability test at its centre
    (undecided cells blank), with the fluid's isochores through it: of
    densities ``rho`` (g/cm3), or through the (T_C, P_bar) points ``starts``
    (default 400 C at 1000, 2000 and 4000 bar). An isochore is dashed where
    the fluid is in two phases (its pressure there is that of a metastable
    fluid) and left out where the method does not give its volume (below 500
    bar, say). Into the Axes `ax` or a new Figure; returns the Figure."""
    from matplotlib.colors import ListedColormap
    from matplotlib.lines import Line2D
    from matplotlib.patches import Patch

    T = PT_T_C if T_C is None else np.asarray(T_C, dtype=float)
    P = PT_P_BAR if P_bar is None else np.asarray(P_bar, dtype=float)
    figure, panel = _figure_and_axes(ax)
    x = mole_fractions(x_CO2, wt_NaCl)
    grid_T, grid_P = np.meshgrid(T, P, indexing="ij")
    verdict = stability(grid_T, grid_P, *x, salinity_cap=salinity_cap).verdict
    kind = np.where(verdict == "stable", 0, np.where(verdict == "unstable", 1, 2))
    panel.pcolormesh(_edges(T), _edges(P), kind.T, shading="flat", rasterized=True,
                     cmap=ListedColormap([ONE_PHASE, TWO_PHASES, UNDECIDED]), vmin=-0.5, vmax=2.5)
    fine_T = np.linspace(T[0], T[-1], 4 * (len(T) - 1) + 1) if len(T) > 1 else T
    edges_T, edges_P = _edges(T), _edges(P)
    _draw_isochores(panel, x, _densities(x, rho, starts), fine_T, P_top=edges_P[-1])
    panel.set_xlim(edges_T[0], edges_T[-1])
    panel.set_ylim(edges_P[0], edges_P[-1])
    panel.set_xlabel("T (°C)")
    panel.set_ylabel("P (bar)")
    panel.set_title(f"x CO2 {x_CO2:g} in a solvent of {wt_NaCl:g} wt% NaCl")
    handles = [Patch(facecolor=ONE_PHASE, edgecolor="0.6", label="one phase"),
               Patch(facecolor=TWO_PHASES, edgecolor="0.6", label="two phases"),
               Line2D([], [], color=ISOCHORE, lw=1.6, label="isochore, one phase"),
               Line2D([], [], color=ISOCHORE, lw=1.0, ls="--", label="isochore, two phases")]
    if (kind == 2).any():
        handles.insert(2, Patch(facecolor=UNDECIDED, edgecolor="0.6", label="undecided (blank)"))
    panel.legend(handles=handles, fontsize="small", loc="upper left", bbox_to_anchor=(1.02, 1.0))
    return figure


def isochores(x_CO2: float, wt_NaCl: float, *, rho: Any = None, starts: Any = None,
              T_C: Any = None, ax: Any = None) -> Any:
    """The bulk fluid's isochores in P-T over `T_C` (default 350-600 C): of
    densities ``rho`` (g/cm3) or through the (T_C, P_bar) points ``starts``
    (default 400 C at 1000, 2000 and 4000 bar), dashed where the fluid is in
    two phases. Into the Axes `ax` or a new Figure; returns the Figure."""
    T = np.linspace(350.0, 600.0, 101) if T_C is None else np.asarray(T_C, dtype=float)
    figure, panel = _figure_and_axes(ax)
    x = mole_fractions(x_CO2, wt_NaCl)
    _draw_isochores(panel, x, _densities(x, rho, starts), T)
    panel.set_xlabel("T (°C)")
    panel.set_ylabel("P (bar)")
    panel.set_title(f"Isochores of x CO2 {x_CO2:g} in a solvent of {wt_NaCl:g} wt% NaCl")
    return figure


def _figure_and_axes(ax: Any) -> tuple[Any, Any]:
    if ax is not None:
        return ax.figure, ax
    figure, axes = _new_axes(1, 6.4, 4.6)
    return figure, axes[0]


__all__ = ["isochores", "pt"]

