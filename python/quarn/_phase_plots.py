"""Figures of where the fluid unmixes: sections of constant salinity (T against
bulk x_CO2, the one-phase limit of each) and ternary diagrams at one T and P
(the two-phase region and its tie-lines)."""

from __future__ import annotations

from typing import Any, Sequence

import numpy as np

from ._composition import mole_fractions
from ._equilibrium import flash, one_phase_limit
from ._model import STATED_P_BAR

# Colours of the regions and the markers.
ONE_PHASE = "#d8e8f5"
TWO_PHASES = "#f7dcc4"
SALT_SPLIT = "#8e44ad"
UNDECIDED = "0.55"
LIMIT = "#1f4e79"


def _new_axes(count: int, width: float, height: float) -> tuple[Any, list[Any]]:
    try:
        from matplotlib.figure import Figure
    except ImportError:
        raise ImportError("plotting needs matplotlib: pip install 'quarn[plot]'") from None
    figure = Figure(figsize=(width * count, height), layout="constrained")
    axes = figure.subplots(1, count, squeeze=False)[0]
    return figure, list(axes)


def section(P_bar: float, wt_NaCl: Any, T_C: Any = None, x_CO2: Any = None,
            ax: Sequence[Any] | None = None, salinity_cap: float = 50.0) -> Any:
    """Sections of constant solvent salinity at one pressure: temperature
    against bulk x_CO2, one panel per salinity (wt% NaCl of the solvent). Each
    shows the one-phase limit (the lowest x_CO2 at which the fluid unmixes),
    the one-phase field left of it and the two-phase field right of it shaded,
    and the flash's salt split and undecided states marked. Into one Axes per
    salinity `ax`, or a new Figure; returns the Figure."""
    salinities = [float(w) for w in np.atleast_1d(wt_NaCl)]
    T = np.linspace(350.0, 600.0, 26) if T_C is None else np.asarray(T_C, dtype=float)
    x = np.linspace(0.005, 0.9, 60) if x_CO2 is None else np.asarray(x_CO2, dtype=float)
    if ax is None:
        figure, axes = _new_axes(len(salinities), 4.2, 4.4)
    else:
        axes = list(ax)
        if len(axes) != len(salinities):
            raise ValueError(f"ax: one Axes per salinity is needed ({len(salinities)}), not {len(axes)}")
        figure = axes[0].figure
    for panel, W in zip(axes, salinities):
        limit = one_phase_limit(T, P_bar, W, salinity_cap=salinity_cap)
        edge = np.where(limit.status == "no limit", x.max(), limit.x_CO2)
        panel.fill_betweenx(T, 0.0, edge, color=ONE_PHASE, label="one phase")
        panel.fill_betweenx(T, edge, x.max(), color=TWO_PHASES, label="two phases")
        panel.plot(limit.x_CO2, T, "-", color=LIMIT, lw=1.8, label="one-phase limit")
        grid_T, grid_x = np.meshgrid(T, x, indexing="ij")
        r = flash(grid_T, P_bar, *mole_fractions(grid_x, W), salinity_cap=salinity_cap)
        split = r.status == "salt split"
        panel.plot(grid_x[split], grid_T[split], "x", color=SALT_SPLIT, ms=3.5,
                   label="salt split (phases of equal x CO2)")
        undecided = r.status == "undecided"
        if undecided.any():
            panel.plot(grid_x[undecided], grid_T[undecided], ".", color=UNDECIDED, ms=3,
                       label="undecided")
        beyond = r.beyond_cap & (r.phases == 2)
        if beyond.any():
            panel.plot(grid_x[beyond], grid_T[beyond], "+", color="#c0392b", ms=3.5,
                       label=f"brine beyond {salinity_cap:g} wt%")
        panel.set_xlim(0.0, x.max())
        panel.set_ylim(T.min(), T.max())
        panel.set_xlabel("bulk x CO2 (mole fraction)")
        panel.set_ylabel("T (°C)")
        panel.set_title(f"solvent of {W:g} wt% NaCl")
    axes[-1].legend(fontsize="small", loc="upper left", bbox_to_anchor=(1.02, 1.0))
    below = " (below the stated range)" if P_bar < STATED_P_BAR else ""
    figure.suptitle(f"Where the fluid unmixes at {P_bar:g} bar{below}")
    return figure


def _ternary_xy(x_CO2: Any, wt_NaCl: Any, cap: float) -> tuple[Any, Any]:
    """Plot coordinates of a composition: CO2 at the apex, the solvent's
    salinity along the base on a square-root scale (0 at the H2O corner, the
    cap at the other), so that the salt-poor CO2-rich fluids and the brines
    both have room."""
    s = np.sqrt(np.clip(np.asarray(wt_NaCl, dtype=float) / cap, 0.0, 1.0))
    x_CO2 = np.asarray(x_CO2, dtype=float)
    return (1.0 - x_CO2) * s + 0.5 * x_CO2, x_CO2 * np.sqrt(3.0) / 2.0


def ternary(T_C: float, P_bar: float, ax: Any = None, salinity_cap: float = 50.0,
            tie_lines: int = 14) -> Any:
    """The phase diagram at one temperature (°C) and pressure (bar): feeds over
    the triangle CO2 - H2O - NaCl (the base the solvent's salinity, square-root
    scale, up to the cap) coloured by the flash's verdict, with tie-lines from
    the CO2-rich fluids to the brines. Into one Axes `ax` or a new Figure;
    returns the Figure."""
    if ax is None:
        figure, (panel,) = _new_axes(1, 7.5, 6.2)
    else:
        panel, figure = ax, ax.figure
    heights = np.linspace(0.01, 0.97, 49)
    salinities = salinity_cap * np.linspace(0.0, 1.0, 41)[1:] ** 2
    x_grid, w_grid = np.meshgrid(heights, salinities, indexing="ij")
    r = flash(T_C, P_bar, *mole_fractions(x_grid, w_grid), salinity_cap=salinity_cap)
    px, py = _ternary_xy(x_grid, w_grid, salinity_cap)
    beyond = r.beyond_cap & (r.phases == 2)
    styles = ((r.status == "one phase", ONE_PHASE, "one phase"),
              ((r.status == "brine + CO2-rich") & ~beyond, "#e59866", "brine + CO2-rich"),
              ((r.status == "salt split") & ~beyond, SALT_SPLIT, "salt split"),
              (beyond, "#c0392b", f"two phases, the brine beyond {salinity_cap:g} wt%"),
              (r.status == "three phases", "#1e8449", "three phases"),
              (r.status == "undecided", UNDECIDED, "undecided"))
    for chosen, colour, label in styles:
        if chosen.any():
            panel.scatter(px[chosen], py[chosen], s=9, color=colour, label=label, linewidths=0)
    # Tie-lines of feeds spread over the two-phase states within the cap, drawn
    # as mixtures of their ends (straight in mole fractions, curved on the
    # salinity scale).
    two = np.flatnonzero(((r.phases == 2) & ~beyond).ravel())
    for k in two[np.linspace(0, two.size - 1, min(tie_lines, two.size)).astype(int)] if two.size else []:
        brine = np.array([r.brine.x_CO2.flat[k], r.brine.x_H2O.flat[k], r.brine.x_NaCl.flat[k]])
        rich = np.array([r.co2_rich.x_CO2.flat[k], r.co2_rich.x_H2O.flat[k], r.co2_rich.x_NaCl.flat[k]])
        mix = np.linspace(0.0, 1.0, 30)[:, None] * rich + np.linspace(1.0, 0.0, 30)[:, None] * brine
        W = 100.0 * 58.448 * mix[:, 2] / (18.016 * mix[:, 1] + 58.448 * mix[:, 2])
        lx, ly = _ternary_xy(mix[:, 0], W, salinity_cap)
        panel.plot(lx, ly, "-", color="0.15", lw=0.8)
        for end in (brine, rich):
            ex, ey = _ternary_xy(end[0], 100.0 * 58.448 * end[2] / (18.016 * end[1] + 58.448 * end[2]),
                                 salinity_cap)
            panel.plot(ex, ey, "o", color="0.15", ms=3)
    # At one T and P the three-phase field is one triangle: its corners are the
    # three phases of any feed inside it (drawn where all lie within the cap),
    # its sides straight in mole fractions and so curved on the salinity scale.
    three = np.flatnonzero((r.phases == 3).ravel())
    if three.size:
        k = three[0]
        ends = [np.array([p.x_CO2.flat[k], p.x_H2O.flat[k], p.x_NaCl.flat[k]])
                for p in (r.brine, r.saline_co2_bearing, r.co2_rich)]
        if all(100.0 * 58.448 * e[2] / (18.016 * e[1] + 58.448 * e[2]) <= salinity_cap for e in ends):
            t = np.linspace(0.0, 1.0, 30)[:, None]
            sides = np.vstack([(1.0 - t) * ends[j] + t * ends[(j + 1) % 3] for j in range(3)])
            W = 100.0 * 58.448 * sides[:, 2] / (18.016 * sides[:, 1] + 58.448 * sides[:, 2])
            tx, ty = _ternary_xy(sides[:, 0], W, salinity_cap)
            panel.plot(tx, ty, "-", color="#1e8449", lw=1.2, label="three-phase triangle")
    panel.plot([0.0, 1.0, 0.5, 0.0], [0.0, 0.0, np.sqrt(3.0) / 2.0, 0.0], "-", color="0.3", lw=1)
    for W in (0.5, 2, 5, 10, 20, 30, 40, 50):
        if W <= salinity_cap:
            bx, _ = _ternary_xy(0.0, W, salinity_cap)
            panel.plot([bx, bx], [0.0, -0.015], color="0.3", lw=0.8)
            panel.text(bx, -0.03, f"{W:g}", ha="center", va="top", fontsize="small")
    panel.text(0.5, -0.09, "salinity of the solvent (wt% NaCl, square-root scale)", ha="center",
               va="top")
    panel.text(0.5, np.sqrt(3.0) / 2.0 + 0.02, "CO2", ha="center", va="bottom")
    panel.text(-0.02, -0.01, "H2O", ha="right", va="top")
    panel.text(1.02, -0.01, f"{salinity_cap:g} wt%", ha="left", va="top")
    panel.set_aspect("equal")
    panel.set_axis_off()
    panel.set_xlim(-0.12, 1.12)
    panel.set_ylim(-0.16, 0.95)
    panel.legend(fontsize="small", loc="upper right", markerscale=2)
    below = " (outside the stated range)" if P_bar < STATED_P_BAR or not 350 <= T_C <= 600 else ""
    figure.suptitle(f"{T_C:g} °C, {P_bar:g} bar{below}: phases and tie-lines")
    return figure


__all__ = ["section", "ternary"]
