"""Figures of the model: phi against the CO2 fraction or the pressure, one
curve per temperature, as matplotlib Figures (``quarn plot`` writes them).

Points where an elementary function fails are left as gaps. The model's stated
range (pressures above 500 bar, 350 to 600 C) is marked: the pressures below it
shaded, isotherms outside it dashed.
"""

from __future__ import annotations

from typing import Sequence

import numpy as np

from ._composition import mole_fractions
from ._model import fugacity

SPECIES = ("CO2", "H2O", "NaCl")
STATED_T_C = (350.0, 600.0)
STATED_P_BAR = 500.0


def _pyplot():
    try:
        from matplotlib.figure import Figure
    except ImportError:
        raise ImportError("plotting needs matplotlib: pip install quarn[plot]") from None
    return Figure


def _figure(x: np.ndarray, curves, x_label: str, title: str, shade_below=None):
    Figure = _pyplot()
    figure = Figure(figsize=(11, 3.8), layout="constrained")
    axes = figure.subplots(1, 3)
    for k, (ax, species) in enumerate(zip(axes, SPECIES)):
        for T_C, phi in curves:
            outside = not STATED_T_C[0] <= T_C <= STATED_T_C[1]
            ax.plot(x, phi[k], "--" if outside else "-",
                    label=f"{T_C:g} °C" + (" (outside the stated range)" if outside else ""))
        finite = np.concatenate([phi[k][np.isfinite(phi[k]) & (phi[k] > 0)] for _, phi in curves])
        if finite.size and finite.max() / finite.min() > 10:
            ax.set_yscale("log")
        if shade_below is not None:
            ax.axvspan(min(x.min(), shade_below), shade_below, color="0.9",
                       label=f"below {shade_below:g} bar (outside the stated range)")
        ax.set_xlabel(x_label)
        ax.set_ylabel(f"φ {species}")
        ax.set_title(f"φ of {species}")
    axes[0].legend(fontsize="small")
    figure.suptitle(title)
    return figure


def phi_x(P_bar: float, wt_NaCl: float, T_C: Sequence[float], x_CO2=None):
    """φ of CO2, H2O and NaCl against x_CO2 at one pressure (bar) and salinity
    (wt% NaCl of the solvent), one curve per temperature (°C)."""
    x = np.linspace(0.0, 1.0, 201) if x_CO2 is None else np.asarray(x_CO2, dtype=float)
    curves = []
    for T in T_C:
        r = fugacity(T, P_bar, *mole_fractions(x, wt_NaCl), errors="nan")
        curves.append((float(T), [r.phi_CO2, r.phi_H2O, r.phi_NaCl]))
    below = " (below the stated range)" if P_bar < STATED_P_BAR else ""
    return _figure(x, curves, "x CO2 (mole fraction)",
                   f"{P_bar:g} bar{below}, solvent of {wt_NaCl:g} wt% NaCl")


def phi_p(x_CO2: float, wt_NaCl: float, T_C: Sequence[float], P_bar=None):
    """φ of CO2, H2O and NaCl against the pressure (bar) at one composition,
    one curve per temperature (°C)."""
    P = np.linspace(100.0, 6000.0, 237) if P_bar is None else np.asarray(P_bar, dtype=float)
    curves = []
    for T in T_C:
        r = fugacity(T, P, *mole_fractions(x_CO2, wt_NaCl), errors="nan")
        curves.append((float(T), [r.phi_CO2, r.phi_H2O, r.phi_NaCl]))
    shade = STATED_P_BAR if P.min() < STATED_P_BAR else None
    return _figure(P, curves, "P (bar)", f"x CO2 = {x_CO2:g}, solvent of {wt_NaCl:g} wt% NaCl",
                   shade)


def main(argv: Sequence[str]) -> int:
    import argparse
    import sys

    from .table import TableError, parse_values

    parser = argparse.ArgumentParser(prog="quarn plot",
                                     description="Figures of phi; PNG, SVG or PDF by -o's extension.")
    kinds = parser.add_subparsers(dest="kind", required=True)
    for kind, fixed in (("phi-x", ("P", "wt-NaCl")), ("phi-p", ("x-CO2", "wt-NaCl"))):
        sub = kinds.add_parser(kind, help=f"phi against {kind[4:]}, one curve per temperature")
        for option in fixed:
            sub.add_argument(f"--{option}", type=float, required=True)
        sub.add_argument("--T", required=True, help="temperatures (C): a,b,c or start:stop:step")
        sub.add_argument("-o", "--output", required=True, help="figure file: .png, .svg or .pdf")
    args = parser.parse_args(argv)
    if not args.output.lower().endswith((".png", ".svg", ".pdf")):
        parser.error(f"{args.output}: the figure's name must end in .png, .svg or .pdf")
    try:
        temperatures = parse_values(args.T, "T")
        if args.kind == "phi-x":
            figure = phi_x(args.P, args.wt_NaCl, temperatures)
        else:
            figure = phi_p(args.x_CO2, args.wt_NaCl, temperatures)
        figure.savefig(args.output, dpi=110)
    except (ImportError, TableError, OSError) as error:
        print(f"quarn plot: {error}", file=sys.stderr)
        return 2
    return 0
