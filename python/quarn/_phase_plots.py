"""Figures of where the fluid unmixes: sections of constant salinity (T against
bulk x_CO2, the one-phase limit of each) and ternary diagrams at one T and P
(the two-phase region and its tie-lines)."""

from __future__ import annotations

from typing import Any, Sequence

import numpy as np

from ._composition import mole_fractions
from ._equilibrium import flash, one_phase_limit
from ._model import STATED_P_BAR

# Colours of the verdicts: the section's cells and the ternary's points.
ONE_PHASE = "#d8e8f5"
ONE_PHASE_POINT = "#5d9cce"
TWO_PHASES = "#f7dcc4"
TWO_PHASES_POINT = "#e59866"
SALT_SPLIT = "#b889cc"
SALT_SPLIT_POINT = "#8e44ad"
BEYOND_CAP = "#e6a19a"
BEYOND_CAP_POINT = "#c0392b"
THREE_PHASES = "#8fd1a8"
THREE_PHASES_POINT = "#1e8449"
UNDECIDED = "#ffffff"
UNDECIDED_POINT = "0.55"
LIMIT = "#1f4e79"
# The section's default grid: 5 C by 0.01 in x_CO2.
SECTION_T_C = np.linspace(350.0, 600.0, 51)
SECTION_X_CO2 = np.linspace(0.005, 0.895, 90)


def _new_axes(count: int, width: float, height: float) -> tuple[Any, list[Any]]:
    try:
        from matplotlib.figure import Figure
    except ImportError:
        raise ImportError("plotting needs matplotlib: pip install matplotlib (or, in the source, "
                          "pip install '.[plot]')") from None
    figure = Figure(figsize=(width * count, height), layout="constrained")
    axes = figure.subplots(1, count, squeeze=False)[0]
    return figure, list(axes)


def verdict_classes(r: Any, salinity_cap: float) -> list[tuple[Any, str, str, str]]:
    """The flash's answers sorted into what a figure shows: (where, cell colour,
    point colour, legend label) for one phase, brine + CO2-rich, salt split, two
    phases with the brine beyond the cap, three phases and undecided. Every
    state is in exactly one."""
    beyond = r.beyond_cap & (r.phases >= 2)
    return [(r.status == "one phase", ONE_PHASE, ONE_PHASE_POINT, "one phase"),
            ((r.status == "brine + CO2-rich") & ~beyond, TWO_PHASES, TWO_PHASES_POINT,
             "brine + CO2-rich"),
            ((r.status == "salt split") & ~beyond, SALT_SPLIT, SALT_SPLIT_POINT,
             "salt split (two phases of equal x CO2)"),
            (beyond & (r.phases == 2), BEYOND_CAP, BEYOND_CAP_POINT,
             f"two phases, the brine beyond {salinity_cap:g} wt%"),
            (r.status == "three phases", THREE_PHASES, THREE_PHASES_POINT, "three phases"),
            (r.status == "undecided", UNDECIDED, UNDECIDED_POINT, "undecided")]


def _edges(centres: Any) -> Any:
    """Cell edges halfway between centres, the outer ones as far out."""
    c = np.asarray(centres, dtype=float)
    if c.size == 1:
        return np.array([c[0] - 0.5, c[0] + 0.5])
    middle = 0.5 * (c[1:] + c[:-1])
    return np.concatenate([[2 * c[0] - middle[0]], middle, [2 * c[-1] - middle[-1]]])


def section(P_bar: float, wt_NaCl: Any, T_C: Any = None, x_CO2: Any = None,
            ax: Sequence[Any] | None = None, salinity_cap: float = 50.0) -> Any:
    """Sections of constant solvent salinity at one pressure: temperature
    against bulk x_CO2, one panel per salinity (wt% NaCl of the solvent). Each
    cell of the grid `T_C` x `x_CO2` (default 350-600 C by 5, x_CO2
    0.005-0.895 by 0.01: the range and the resolution) is coloured by the
    flash's answer at its centre: one phase, brine + CO2-rich, salt split, a
    brine beyond the cap, three phases; undecided cells are left blank, not
    counted as either. The one-phase limit (the lowest x_CO2 at which the fluid
    unmixes, to 1e-6) is drawn over them. Into one Axes per salinity `ax`, or
    a new Figure; returns the Figure."""
    from matplotlib.colors import ListedColormap
    from matplotlib.patches import Patch

    salinities = [float(w) for w in np.atleast_1d(wt_NaCl)]
    T = SECTION_T_C if T_C is None else np.asarray(T_C, dtype=float)
    x = SECTION_X_CO2 if x_CO2 is None else np.asarray(x_CO2, dtype=float)
    if ax is None:
        figure, axes = _new_axes(len(salinities), 4.2, 4.4)
    else:
        axes = list(ax)
        if len(axes) != len(salinities):
            raise ValueError(f"ax: one Axes per salinity is needed ({len(salinities)}), not {len(axes)}")
        figure = axes[0].figure
    shown: dict[str, str] = {}
    for panel, W in zip(axes, salinities):
        grid_T, grid_x = np.meshgrid(T, x, indexing="ij")
        r = flash(grid_T, P_bar, *mole_fractions(grid_x, W), salinity_cap=salinity_cap)
        classes = verdict_classes(r, salinity_cap)
        kind = np.zeros(grid_T.shape, dtype=int)
        for k, (where, colour, _, label) in enumerate(classes):
            kind[where] = k
            if where.any():
                shown[label + (" (left blank)" if label == "undecided" else "")] = colour
        panel.pcolormesh(_edges(x), _edges(T), kind, cmap=ListedColormap([c[1] for c in classes]),
                         vmin=-0.5, vmax=len(classes) - 0.5, shading="flat", rasterized=True)
        limit = one_phase_limit(T, P_bar, W, salinity_cap=salinity_cap)
        panel.plot(limit.x_CO2, T, "-", color=LIMIT, lw=1.8, label="one-phase limit")
        edges_x, edges_T = _edges(x), _edges(T)
        panel.set_xlim(edges_x[0], edges_x[-1])
        panel.set_ylim(edges_T[0], edges_T[-1])
        panel.set_xlabel("bulk x CO2 (mole fraction)")
        panel.set_ylabel("T (°C)")
        panel.set_title(f"solvent of {W:g} wt% NaCl")
    from matplotlib.lines import Line2D

    handles: list[Any] = [Patch(facecolor=c, edgecolor="0.6", label=label)
                          for label, c in shown.items()]
    handles.append(Line2D([], [], color=LIMIT, lw=1.8, label="one-phase limit"))
    axes[-1].legend(handles=handles, fontsize="small", loc="upper left", bbox_to_anchor=(1.02, 1.0))
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
    beyond = r.beyond_cap & (r.phases >= 2)
    for chosen, _, colour, label in verdict_classes(r, salinity_cap):
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
    # The x_CO2 scale: lines of constant x_CO2 are level, labelled on the
    # H2O-CO2 side.
    for level in (0.2, 0.4, 0.6, 0.8):
        (lx, rx), (ly, _) = _ternary_xy([level, level], [0.0, salinity_cap], salinity_cap)
        panel.plot([lx, rx], [ly, ly], ":", color="0.6", lw=0.6, zorder=0)
        panel.plot([lx - 0.012, lx], [ly, ly], color="0.3", lw=0.8)
        panel.text(lx - 0.02, ly, f"{level:g}", ha="right", va="center", fontsize="small")
    panel.text(0.16, 0.5, "x CO2 (mole fraction)", rotation=60, ha="center", va="center")
    for W in (0.5, 2, 5, 10, 20, 30, 40, 50):
        if W <= salinity_cap:
            bx, _ = _ternary_xy(0.0, W, salinity_cap)
            panel.plot([bx, bx], [0.0, -0.015], color="0.3", lw=0.8)
            panel.text(bx, -0.03, f"{W:g}", ha="center", va="top", fontsize="small")
    panel.text(0.5, -0.09, "salinity of the solvent (wt% NaCl, square-root scale)", ha="center",
               va="top")
    panel.text(0.5, -0.15, "Height is x CO2; across, the salinity of the H2O + NaCl. Tie-lines are "
               "straight in mole fractions,\nso they curve on the salinity scale; their ends are "
               "the coexisting phases.", ha="center", va="top", fontsize="small", color="0.25")
    panel.text(0.5, np.sqrt(3.0) / 2.0 + 0.02, "CO2", ha="center", va="bottom")
    panel.text(-0.02, -0.01, "H2O", ha="right", va="top")
    panel.text(1.02, -0.01, f"{salinity_cap:g} wt%", ha="left", va="top")
    panel.set_aspect("equal")
    panel.set_axis_off()
    panel.set_xlim(-0.12, 1.12)
    panel.set_ylim(-0.24, 0.95)
    panel.legend(fontsize="small", loc="upper right", markerscale=2)
    below = " (outside the stated range)" if P_bar < STATED_P_BAR or not 350 <= T_C <= 600 else ""
    figure.suptitle(f"{T_C:g} °C, {P_bar:g} bar{below}: phases and tie-lines")
    return figure


__all__ = ["section", "ternary"]
