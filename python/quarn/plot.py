"""Figures of the model: phi against the CO2 fraction or the pressure, one
curve per temperature; sections of constant salinity and ternary diagrams of
where the fluid unmixes; a bulk fluid's one- and two-phase regions in P-T with
its isochores, and isochores alone; as matplotlib Figures (``quarn plot``
writes them).

Points where an elementary function fails are left as gaps. The model's stated
range (pressures above 500 bar, 350 to 600 C) is marked: the pressures below it
shaded, isotherms outside it dashed. Where the model splits the fluid into two
or three phases (its stability test says "unstable") a curve is drawn thin and
dotted: phi there is that of a one-phase fluid that the model does not hold
together; points the test leaves undecided are crosses.
"""

from __future__ import annotations

import os
from typing import Any, Sequence

import numpy as np

from . import _core
from ._composition import mole_fractions
from ._fugacity import fugacity
from ._model import STATED_P_BAR, STATED_T_C
from ._inclusion_plots import isochores, pt
from ._phase_plots import section, ternary

SPECIES = ("CO2", "H2O", "NaCl")


def _split_parts(verdict: Any) -> tuple[Any, Any]:
    """Which points a curve draws as one phase, and which as split (a point the
    model splits, and the stable points next to it, so that the parts meet)."""
    stable = verdict == "stable"
    unstable = verdict == "unstable"
    split = unstable.copy()
    split[1:] |= unstable[:-1]
    split[:-1] |= unstable[1:]
    return stable, split


def _figure(x: Any, curves: list[Any], x_label: str, title: str, shade_below: float | None,
            ax: Sequence[Any] | None, switch_at: float | None) -> Any:
    """The three panels, one per species, into `ax` (three Axes) or a new
    Figure. A point at `switch_at` on the x axis, where the model changes to
    another formula, is drawn as a marker of its own, not joined to the curve.
    Each curve is (T, phi of the three species, the stability verdicts)."""
    if ax is None:
        try:
            from matplotlib.figure import Figure
        except ImportError:
            raise ImportError("plotting needs matplotlib: pip install matplotlib (or, in the source, "
                              "pip install '.[plot]')") from None
        figure = Figure(figsize=(12, 3.8), layout="constrained")
        axes = list(figure.subplots(1, 3))
    else:
        axes = list(ax)
        if len(axes) != 3:
            raise ValueError(f"ax: three Axes are needed, one per species, not {len(axes)}")
        figure = axes[0].figure
    from matplotlib.ticker import FuncFormatter, NullFormatter

    from matplotlib.lines import Line2D

    joined = np.ones(x.shape, dtype=bool) if switch_at is None else x != switch_at
    any_split = any((verdict[joined] == "unstable").any() for _, _, verdict in curves)
    any_undecided = any((verdict[joined] == "undecided").any() for _, _, verdict in curves)
    for k, (panel, species) in enumerate(zip(axes, SPECIES)):
        colors = []
        for T_C, phi, verdict in curves:
            outside = not STATED_T_C[0] <= T_C <= STATED_T_C[1]
            stable, split = _split_parts(verdict[joined])
            y = phi[k][joined]
            (line,) = panel.plot(x[joined], np.where(stable, y, np.nan), "--" if outside else "-",
                                 label=f"{T_C:g} °C" + (" (outside the stated range)" if outside else ""))
            colors.append(line.get_color())
            panel.plot(x[joined], np.where(split, y, np.nan), ":", color=line.get_color(),
                       linewidth=1.0, alpha=0.7)
            undecided = verdict[joined] == "undecided"
            panel.plot(x[joined][undecided], y[undecided], "x", color=line.get_color(), markersize=4)
        if not joined.all():
            for n, ((_, phi, _), color) in enumerate(zip(curves, colors)):
                panel.plot(x[~joined], phi[k][~joined], "o", color=color, markersize=4,
                           label=f"x CO2 = {switch_at:g}: the model's no-solvent form" if n == 0 else None)
        if any_split:
            panel.add_line(Line2D([], [], linestyle=":", color="0.3", linewidth=1.0,
                                  label="dotted: the model splits this fluid into\ntwo or "
                                        "three phases (φ of a one-phase\nfluid that does not form)"))
        if any_undecided:
            panel.add_line(Line2D([], [], linestyle="", marker="x", color="0.3", markersize=4,
                                  label="×: whether the fluid splits is undecided"))
        finite = np.concatenate([phi[k][np.isfinite(phi[k]) & (phi[k] > 0)] for _, phi, _ in curves])
        if finite.size and finite.max() / finite.min() > 10:
            panel.set_yscale("log")
            # Plain numbers on the ticks (20, not 2x10^1); minor ticks labelled only
            # where the axis spans too few decades to show major ones.
            plain = FuncFormatter(lambda v, _: f"{v:g}")
            panel.yaxis.set_major_formatter(plain)
            panel.yaxis.set_minor_formatter(plain if finite.max() / finite.min() < 100 else NullFormatter())
        if shade_below is not None:
            panel.axvspan(min(x.min(), shade_below), shade_below, color="0.9",
                          label=f"below {shade_below:g} bar (outside the stated range)")
        panel.set_xlabel(x_label)
        panel.set_ylabel(f"φ {species}")
        panel.set_title(f"φ of {species}")
    # Outside the data, to the right of the last panel.
    axes[2].legend(fontsize="small", loc="upper left", bbox_to_anchor=(1.02, 1.0))
    figure.suptitle(title)
    return figure


def _curves(T_C: Any, P_bar: Any, x_CO2: Any, wt_NaCl: Any) -> list[Any]:
    """phi of each species along the axis and the stability test's verdicts,
    one entry per temperature. A figure in which no point at all can be
    computed is an error that says why."""
    curves: list[Any] = []
    why = "no finite value at any point"
    for T in T_C:
        r = fugacity(T, P_bar, *mole_fractions(x_CO2, wt_NaCl), errors="nan", stability=True)
        curves.append((float(T), [r.phi_CO2, r.phi_H2O, r.phi_NaCl],
                       np.broadcast_to(r.stability, r.phi_CO2.shape)))
        failing = np.flatnonzero(r.fault)
        if failing.size == r.fault.size and failing.size:
            i = int(failing[0])
            why = _core.fault_text(int(r.fault.flat[i]), _core.function_name(int(r._fault_function.flat[i])))
            why += " at every point"
    if not any(np.isfinite(phi).any() for _, species, _ in curves for phi in species):
        raise ValueError(f"nothing to draw: {why}")
    return curves


def phi_x(P_bar: float, wt_NaCl: float, T_C: Any, x_CO2: Any = None,
          ax: Sequence[Any] | None = None) -> Any:
    """φ of CO2, H2O and NaCl against x_CO2 at one pressure (bar) and salinity
    (wt% NaCl of the solvent), one curve per temperature (°C), into three Axes
    `ax` or a new Figure; returns the Figure. At x_CO2 = 1 the model takes its
    no-solvent form: that point is a marker of its own. Where the model splits
    the fluid a curve is dotted."""
    x = np.linspace(0.0, 1.0, 201) if x_CO2 is None else np.asarray(x_CO2, dtype=float)
    curves = _curves(T_C, P_bar, x, wt_NaCl)
    below = " (below the stated range)" if P_bar < STATED_P_BAR else ""
    return _figure(x, curves, "x CO2 (mole fraction)",
                   f"{P_bar:g} bar{below}, solvent of {wt_NaCl:g} wt% NaCl", None, ax, 1.0)


def phi_p(x_CO2: float, wt_NaCl: float, T_C: Any, P_bar: Any = None,
          ax: Sequence[Any] | None = None) -> Any:
    """φ of CO2, H2O and NaCl against the pressure (bar) at one composition,
    one curve per temperature (°C), into three Axes `ax` or a new Figure;
    returns the Figure. Where the model splits the fluid a curve is dotted."""
    P = np.linspace(100.0, 6000.0, 237) if P_bar is None else np.asarray(P_bar, dtype=float)
    curves = _curves(T_C, P, x_CO2, wt_NaCl)
    shade = STATED_P_BAR if P.min() < STATED_P_BAR else None
    return _figure(P, curves, "P (bar)", f"x CO2 = {x_CO2:g}, solvent of {wt_NaCl:g} wt% NaCl",
                   shade, ax, None)


def _run(argv: Sequence[str]) -> int:
    import argparse
    import zlib

    from ._command import CommandError
    from ._grid import GridError
    from ._output_file import OutputFile

    parser = argparse.ArgumentParser(prog="quarn plot",
                                     description="Figures of phi; PNG, SVG or PDF by -o's extension. "
                                                 "The figure is replaced only once it is complete.")
    kinds = parser.add_subparsers(dest="kind", required=True)
    for kind, fixed in (("phi-x", ("P", "wt-NaCl")), ("phi-p", ("x-CO2", "wt-NaCl"))):
        sub = kinds.add_parser(kind, help=f"phi against {kind[4:]}, one curve per temperature")
        for option in fixed:
            sub.add_argument(f"--{option}", type=float, required=True)
        sub.add_argument("--T", required=True, help="temperatures (C): a,b,c or start:stop:step")
        sub.add_argument("-o", "--output", required=True, help="figure file: .png, .svg or .pdf")
    sub = kinds.add_parser("section", help="T against bulk x CO2 at one pressure: the one-phase "
                                           "limit of each salinity, one panel each")
    sub.add_argument("--P", type=float, required=True, help="pressure (bar)")
    sub.add_argument("--wt-NaCl", required=True,
                     help="salinities of the solvent (wt%% NaCl): a,b,c or start:stop:step")
    sub.add_argument("--T", help="the cells' temperatures (C): the range and the resolution, "
                                 "default 350:600:5")
    sub.add_argument("--x-CO2", help="the cells' bulk x CO2, default 0.005:0.895:0.01")
    sub.add_argument("-o", "--output", required=True, help="figure file: .png, .svg or .pdf")
    for kind, words in (("pt", "a bulk fluid's one- and two-phase regions in P-T, with isochores"),
                        ("isochores", "a bulk fluid's isochores in P-T")):
        sub = kinds.add_parser(kind, help=words)
        sub.add_argument("--x-CO2", type=float, required=True, help="bulk x CO2")
        sub.add_argument("--wt-NaCl", type=float, required=True,
                         help="salinity of the solvent (wt%% NaCl)")
        sub.add_argument("--rho", help="the isochores' densities (g/cm3): a,b,c or start:stop:step")
        sub.add_argument("--start", nargs="+", metavar="T:P",
                         help="isochores through these points (C:bar); default 400:1000 400:2000 "
                              "400:4000")
        sub.add_argument("-o", "--output", required=True, help="figure file: .png, .svg or .pdf")
    sub = kinds.add_parser("ternary", help="the two-phase region and tie-lines at one T and P")
    sub.add_argument("--T", type=float, required=True, help="temperature (C)")
    sub.add_argument("--P", type=float, required=True, help="pressure (bar)")
    sub.add_argument("-o", "--output", required=True, help="figure file: .png, .svg or .pdf")
    args = parser.parse_args(argv)
    suffix = os.path.splitext(args.output)[1].lower()
    if suffix not in (".png", ".svg", ".pdf"):
        parser.error(f"{args.output}: the figure's name must end in .png, .svg or .pdf")
    try:
        if args.kind == "ternary":
            figure = ternary(_checked("T", args.T), _checked("P", args.P))
        elif args.kind in ("pt", "isochores"):
            figure = _inclusion_figure(args)
        elif args.kind == "section":
            salinities = _axis_values(args.wt_NaCl, "wt-NaCl", "salinities are more panels than a "
                                      "figure can show", 1, 6)
            cells = [None if text is None else
                     _axis_values(text, name, "values; a section needs", 2, 400, increasing=True)
                     for text, name in ((args.T, "T"), (args.x_CO2, "x-CO2"))]
            figure = section(_checked("P", args.P), salinities, T_C=cells[0], x_CO2=cells[1])
        else:
            figure = _phi_figure(args)
    except (ImportError, GridError, ValueError) as error:
        raise CommandError(str(error)) from None
    with OutputFile(args.output) as output:
        try:
            figure.savefig(output.file, format=suffix[1:], dpi=110)
        except zlib.error as error:  # a PDF stream that could not be written whole
            raise CommandError(f"{args.output}: the PDF could not be written whole ({error})") from None
        output.commit()
    return 0


def _inclusion_figure(args: Any) -> Any:
    """The figure of pt or isochores from the command's arguments."""
    from ._command import CommandError

    if args.rho is not None and args.start is not None:
        raise CommandError("--rho and --start: give one of them")
    rho = None if args.rho is None else _axis_values(args.rho, "rho", "densities are more "
                                                     "isochores than a figure can show", 1, 12)
    starts = None if args.start is None else _starts(args.start)
    for T, P in starts or []:
        _checked("T", T)
        _checked("P", P)
    x, W = _checked("x-CO2", args.x_CO2), _checked("wt-NaCl", args.wt_NaCl)
    draw = pt if args.kind == "pt" else isochores
    return draw(x, W, rho=rho, starts=starts)


def _starts(text: Sequence[str]) -> list[tuple[float, float]]:
    """(T_C, P_bar) points from "T:P" texts."""
    points = []
    for item in text:
        try:
            T, P = (float(v) for v in item.split(":"))
        except ValueError:
            raise ValueError(f"--start: {item!r} is not T:P (C and bar)") from None
        points.append((T, P))
    return points


def _phi_figure(args: Any) -> Any:
    """The figure of phi-x or phi-p from the command's arguments."""
    temperatures = _axis_values(args.T, "T", "temperatures are more curves than a figure can "
                                "show", 1, 100)
    if args.kind == "phi-x":
        return phi_x(_checked("P", args.P), _checked("wt-NaCl", args.wt_NaCl), temperatures)
    return phi_p(_checked("x-CO2", args.x_CO2), _checked("wt-NaCl", args.wt_NaCl), temperatures)


# What each option of a figure may take: the lowest and highest value, whether
# the lowest itself is allowed, and what the values are.
_OPTION_RANGES = {
    "T": (-273.15, 10000.0, False, "a temperature above absolute zero and at most 10000 C"),
    "P": (0.0, 100000.0, False, "a pressure above 0 and at most 100000 bar"),
    "x-CO2": (0.0, 1.0, True, "a mole fraction from 0 to 1"),
    "wt-NaCl": (0.0, 100.0, True, "a salinity from 0 to below 100 wt%"),
    "rho": (0.0, 5.0, False, "a density above 0 and at most 5 g/cm3"),
}


def _checked(option: str, value: float) -> float:
    """A value of an option that the figure can draw, or a one-line error that
    names what was given."""
    from ._command import CommandError

    low, high, low_allowed, words = _OPTION_RANGES[option]
    fits = (low <= value if low_allowed else low < value) and \
        (value < high if option == "wt-NaCl" else value <= high)
    if not fits:  # NaN fails every comparison
        raise CommandError(f"--{option}: {value:g} is not {words}")
    return value


def _axis_values(text: str, option: str, too_many: str, least: int, most: int,
                 increasing: bool = False) -> Any:
    """The values of a list or range option, each checked, their count within
    [least, most]."""
    from ._command import CommandError
    from ._grid import Axis, count_text

    axis = Axis(text, option)
    if not least <= axis.count <= most:
        raise CommandError(f"--{option}: {count_text(axis.count)} {too_many} "
                           f"({least} to {most})")
    values = axis.values(np.arange(axis.count))
    for v in values:
        _checked(option, float(v))
    if increasing and not np.all(np.diff(values) > 0):
        raise CommandError(f"--{option}: {text!r}: the values must increase")
    return values


def main(argv: Sequence[str]) -> int:
    from ._command import Command

    return Command("quarn plot").run(lambda command: _run(argv))
