"""What fluid-inclusion studies and petrology ask of the model: the method's
Redlich-Kwong a and b, the model's pressure on an isochore, and activities
against the pure fluids. Broadcasting, xarray DataArrays and pint quantities as
in :func:`quarn.fugacity`."""

from __future__ import annotations

from dataclasses import dataclass, replace
from typing import Any, Callable

import numpy as np

from . import _core
from ._equilibrium import _columns, _in_range, _run as _run_core, stability as stability_test
from ._labelled import with_dataarrays
from ._model import MathError, _as_float_array, thread_count
from ._units import plain, plain_arguments

STANDARD_MOLAR_MASSES: dict[str, float] = _core.standard_molar_masses()
_FLAGS = _core.isochore_flags()
_COMPOSITION = ("x_CO2", "x_H2O", "x_NaCl")


@dataclass(frozen=True)
class MixtureParametersResult:
    """The method's a (atm cm^6 K^0.5 / mol^2) and b (cm^3/mol) of each
    fluid: its pressure is P = R T/(V - b) - a/(T^0.5 V (V + b)) with
    R = 82.05 cm^3 atm/(mol K), T in K and P in atm."""

    T_C: Any
    x_CO2: Any
    x_H2O: Any
    x_NaCl: Any
    a: Any
    b: Any


@dataclass(frozen=True)
class IsochoreResult:
    """The model's pressure ``P_bar`` of each fluid at ``T_C`` and molar volume
    ``V`` (cm^3/mol; ``rho`` its mass density in g/cm^3), and dP/dV (bar mol
    per cm^3). The flags say where that pressure is not a state the method
    gives: ``below_500_bar`` (the model's range ends there), ``mechanically_
    unstable`` (dP/dV >= 0), ``not_largest_root`` (at that pressure the
    method takes a larger volume); ``valid`` where none is set. Where ``valid``
    is true the method at (T, P) gives the volume back. ``stability`` (asked
    for with ``stability=True``): the tangent-plane verdict at (T, P); where it
    is "unstable" the fluid is in two phases there and its pressure is that of
    a metastable one-phase fluid."""

    T_C: Any
    x_CO2: Any
    x_H2O: Any
    x_NaCl: Any
    V: Any
    rho: Any
    P_bar: Any
    dP_dV: Any
    below_500_bar: Any
    mechanically_unstable: Any
    not_largest_root: Any
    valid: Any
    stability: Any = None


@dataclass(frozen=True)
class ActivitiesResult:
    """Activities against the pure fluids at the same T and P: ``a_H2O`` and
    ``a_CO2`` (a_i = x_i phi_i / phi_i of pure i, with the report's method).
    NaCl is a molecule in this model and its activity is no mean ionic
    activity: ``gamma_NaCl`` is phi_NaCl over its value at infinite dilution
    in pure H2O at the same T and P (the mole-fraction scale), ``a_NaCl`` =
    x_NaCl gamma_NaCl. The reference values are given too. ``stability`` (asked
    for with ``stability=True``): where "unstable", the fluid is in two phases
    and its activities are those of a metastable one-phase fluid (a_CO2 can
    then exceed 1)."""

    T_C: Any
    P_bar: Any
    x_CO2: Any
    x_H2O: Any
    x_NaCl: Any
    a_H2O: Any
    a_CO2: Any
    gamma_NaCl: Any
    a_NaCl: Any
    phi_H2O_pure: Any
    phi_CO2_pure: Any
    phi_NaCl_infinite_dilution: Any
    in_range: Any
    stability: Any = None


@dataclass(frozen=True)
class PhaseBoundariesResult:
    """Where each bulk fluid changes between one and two phases along a path:
    the pressure at a fixed temperature (:func:`quarn.homogenization`) or the
    temperature along an isochore (:func:`quarn.homogenization_temperature`).
    The stability test's verdict is scanned every step and each change
    bisected to the tolerance; a change narrower than a step can be missed.

    Arrays over the fluids' broadcast shape and a last axis of the boundaries
    in the path's order (NaN and False past ``count``): ``T_C`` and ``P_bar``
    of each boundary (the middle of its final bracket, ``bracket`` wide, in bar
    or K), ``one_phase_above`` (the fluid is one phase on the side of higher P
    or T), ``V`` and ``rho`` of the bulk fluid on the one-phase side, and the
    incipient phase (``incipient_x_*``, ``incipient_wt_NaCl``: the trial phase
    of the stability test on the two-phase side). Over the fluids: ``count``,
    ``first`` and ``last`` (the verdicts at the ends of the path),
    ``undecided_steps`` (scanned points without a verdict: a failing model, or
    an isochore point the method does not give, below 500 bar say; no change is
    bracketed across them), ``more`` (more changes than the last axis holds),
    ``stability_tests``. :func:`quarn.homogenization_temperature` adds ``T_h_C``
    and ``P_h_bar``: the first boundary above which the fluid is one phase, the
    temperature at which it homogenizes on heating (NaN where it does not)."""

    count: Any
    T_C: Any
    P_bar: Any
    bracket: Any
    one_phase_above: Any
    V: Any
    rho: Any
    incipient_x_CO2: Any
    incipient_x_H2O: Any
    incipient_x_NaCl: Any
    incipient_wt_NaCl: Any
    first: Any
    last: Any
    undecided_steps: Any
    more: Any
    stability_tests: Any
    T_h_C: Any = None
    P_h_bar: Any = None


def _boundaries(rows: dict[str, Any], codes: dict[str, Any]) -> PhaseBoundariesResult:
    """The result from the core's numbered rows and codes."""
    most = _core.most_boundaries

    def stacked(table: dict[str, Any], name: str) -> Any:
        return np.stack([table[f"{name}_{k}"] for k in range(most)], axis=-1)

    verdicts = np.array(_core.stability_verdicts(), dtype=object)
    return PhaseBoundariesResult(
        count=codes["count"], T_C=stacked(rows, "T_K") - 273.15,
        P_bar=stacked(rows, "P_atm") * 1.01325, bracket=stacked(rows, "bracket"),
        one_phase_above=stacked(codes, "one_phase_above").astype(bool), V=stacked(rows, "V"),
        rho=stacked(rows, "rho"),
        **{f"incipient_{n}": stacked(rows, f"incipient_{n}")
           for n in ("x_CO2", "x_H2O", "x_NaCl", "wt_NaCl")},
        first=verdicts[codes["first"]], last=verdicts[codes["last"]],
        undecided_steps=codes["undecided_steps"], more=codes["more"].astype(bool),
        stability_tests=codes["stability_tests"])


def _range(name: str, bounds: Any) -> tuple[float, float]:
    low, high = (float(b) for b in bounds)
    if not low < high:
        raise ValueError(f"{name} must be a range (low, high) with low < high, not {bounds!r}")
    return low, high


def _run(call: Callable[..., None], layout: dict[str, list[str]], names: tuple[str, ...],
         values: list[Any], errors: str, threads: int | None, *options: Any
         ) -> tuple[dict[str, Any], dict[str, Any], list[Any], tuple[int, ...]]:
    """The batch call over the broadcast arguments: its rows and codes by name,
    each in the broadcast shape, with the failures raised or left NaN (answers
    without a fault code have none)."""
    if errors not in ("raise", "nan"):
        raise ValueError(f'errors must be "raise" or "nan", not {errors!r}')
    columns, shape, inputs = _columns(names, values)
    row_of, code_of = _run_core(call, layout, columns, int(np.prod(shape)), *options,
                                thread_count(threads))
    failed = np.flatnonzero(code_of.get("fault", np.zeros(0, dtype=np.int32)))
    if failed.size and errors == "raise":
        first = int(failed[0])
        raise MathError(int(code_of["fault"][first]),
                        _core.function_name(int(code_of["fault_function"][first])), first)
    for row in row_of.values():
        row[failed] = np.nan
    return ({k: v.reshape(shape) for k, v in row_of.items()},
            {k: v.reshape(shape) for k, v in code_of.items()}, inputs, shape)


def _volume(call: str, V: Any, rho: Any) -> tuple[str, Any]:
    """The fluid's volume argument, exactly one of V (cm^3/mol) and rho
    (g/cm^3): its name and its plain value."""
    if (V is None) == (rho is None):
        raise TypeError(f"{call}: give V (cm^3/mol) or rho (g/cm^3), one of them")
    if rho is None:
        return "V", plain("V", V, "cm**3/mol", "a molar volume")
    return "rho", plain("rho", rho, "g/cm**3", "a mass density")


def _molar_volume(name: str, composition: list[Any], volume: Any) -> Any:
    """V itself, or the molar volume of density rho with the standard masses."""
    if name == "V":
        return volume
    x = [_as_float_array(n, v) for n, v in zip(_COMPOSITION, composition)]
    return molar_mass(*x) / _as_float_array("rho", volume)


def _composition(x_CO2: Any, x_H2O: Any, x_NaCl: Any) -> list[Any]:
    return plain_arguments((0.0, 0.0, x_CO2, x_H2O, x_NaCl))[2:]


def molar_mass(x_CO2: Any, x_H2O: Any, x_NaCl: Any) -> Any:
    """The mass of a mole of fluid in g/mol with the standard molar masses
    (CO2 44.0095, H2O 18.01528, NaCl 58.44277), summed in that order."""
    m = STANDARD_MOLAR_MASSES
    return (np.asarray(x_CO2) * m["CO2"] + np.asarray(x_H2O) * m["H2O"]
            + np.asarray(x_NaCl) * m["NaCl"])


def mixture_parameters(T_C: Any, x_CO2: Any, x_H2O: Any, x_NaCl: Any, *, errors: str = "raise",
                       threads: int | None = None) -> MixtureParametersResult:
    """The method's Redlich-Kwong a and b of each fluid at T_C (they do not
    depend on the pressure). Broadcasts like :func:`quarn.fugacity`; a failing
    elementary function raises :class:`MathError` (``errors="nan"``: NaN)."""
    names = ("T_C", *_COMPOSITION)
    values = [plain("T_C", T_C, "degC", "a temperature"), *_composition(x_CO2, x_H2O, x_NaCl)]
    labelled = with_dataarrays(names, values, lambda v: mixture_parameters(
        *v, errors=errors, threads=threads))
    if labelled is not None:
        return labelled  # type: ignore[no-any-return]
    rows, _, inputs, _ = _run(_core.mixture_parameters, _core.mixture_parameters_layout(), names,
                              values, errors, threads)
    return MixtureParametersResult(T_C=inputs[0], x_CO2=inputs[1], x_H2O=inputs[2],
                                   x_NaCl=inputs[3], a=rows["a"], b=rows["b"])


def isochore(T_C: Any, x_CO2: Any, x_H2O: Any, x_NaCl: Any, *, V: Any = None, rho: Any = None,
             stability: bool = False, errors: str = "raise",
             threads: int | None = None) -> IsochoreResult:
    """The model's pressure of each fluid at T_C and a molar volume ``V``
    (cm^3/mol) or mass density ``rho`` (g/cm^3, with the standard molar
    masses): the points of its isochores. The Redlich-Kwong equation is
    explicit in P, so each point is one evaluation of the method's a and b;
    where no flag is set the method at (T, P) gives V back (bit for bit for a
    volume the method gave). A V or rho measured or computed with another
    equation of state is not the model's: see the README's comparison before
    turning one into a pressure. ``stability=True`` adds the tangent-plane
    verdict at (T, P) of the valid points (some two thousand evaluations each).
    Broadcasts like :func:`quarn.fugacity`."""
    given, volume = _volume("isochore", V, rho)
    names = ("T_C", *_COMPOSITION, given)
    values = [plain("T_C", T_C, "degC", "a temperature"), *_composition(x_CO2, x_H2O, x_NaCl), volume]
    labelled = with_dataarrays(names, values, lambda v: isochore(
        *v[:4], **{given: v[4]}, stability=stability, errors=errors, threads=threads))
    if labelled is not None:
        return labelled  # type: ignore[no-any-return]
    values[4] = _molar_volume(given, values[1:4], volume)
    rows, codes, inputs, shape = _run(_core.isochore, _core.isochore_layout(), names, values,
                                      errors, threads)
    flags = codes["flags"]
    V_mol = inputs[4]
    result = IsochoreResult(
        T_C=inputs[0], x_CO2=inputs[1], x_H2O=inputs[2], x_NaCl=inputs[3], V=V_mol, rho=molar_mass(*inputs[1:4]) / V_mol, P_bar=rows["P_bar"],
        dP_dV=rows["dP_dV"] * 1.01325,
        below_500_bar=(flags & _FLAGS["below_500_bar"]).astype(bool),
        mechanically_unstable=(flags & _FLAGS["mechanically_unstable"]).astype(bool),
        not_largest_root=(flags & _FLAGS["not_largest_root"]).astype(bool),
        valid=(flags == 0) & np.isfinite(rows["P_bar"]))
    if not stability:
        return result
    verdict = np.full(shape, "undecided", dtype=object)
    valid = result.valid
    if valid.any():
        verdict[valid] = stability_test(inputs[0][valid], rows["P_bar"][valid],
                                        *(x[valid] for x in inputs[1:4]), threads=threads).verdict
    return replace(result, stability=verdict)


def activities(T_C: Any, P_bar: Any, x_CO2: Any, x_H2O: Any, x_NaCl: Any, *,
               stability: bool = False, errors: str = "raise",
               threads: int | None = None) -> ActivitiesResult:
    """Activities of H2O and CO2 against the pure fluids at the same T and P,
    and NaCl's activity coefficient against infinite dilution in H2O (three
    evaluations of the model a state). Broadcasts like
    :func:`quarn.fugacity`; ``stability=True`` adds the tangent-plane
    verdict of each state."""
    names = ("T_C", "P_bar", *_COMPOSITION)
    values = plain_arguments((T_C, P_bar, x_CO2, x_H2O, x_NaCl))
    labelled = with_dataarrays(names, values, lambda v: activities(
        *v, stability=stability, errors=errors, threads=threads))
    if labelled is not None:
        return labelled  # type: ignore[no-any-return]
    rows, _, inputs, _ = _run(_core.activities, _core.activities_layout(), names, values, errors,
                              threads)
    result = ActivitiesResult(T_C=inputs[0], P_bar=inputs[1], x_CO2=inputs[2], x_H2O=inputs[3],
                              x_NaCl=inputs[4], **rows, in_range=_in_range(inputs[0], inputs[1]))
    if not stability:
        return result
    return replace(result, stability=stability_test(*inputs, threads=threads).verdict)


def homogenization(T_C: Any, x_CO2: Any, x_H2O: Any, x_NaCl: Any, *,
                   P_bar: tuple[float, float] = (500.0, 6000.0), step_bar: float = 50.0,
                   tolerance_bar: float = 0.01, salinity_cap: float = 50.0,
                   threads: int | None = None) -> PhaseBoundariesResult:
    """Every pressure in ``P_bar`` at which each bulk fluid changes between one
    and two phases at ``T_C``: its homogenization along the pressure (some
    hundred stability tests a fluid). The fluid's arguments broadcast like
    those of :func:`quarn.fugacity`. See :class:`PhaseBoundariesResult`."""
    low, high = _range("P_bar", P_bar)
    names = ("T_C", *_COMPOSITION)
    values = [plain("T_C", T_C, "degC", "a temperature"), *_composition(x_CO2, x_H2O, x_NaCl)]
    labelled = with_dataarrays(names, values, lambda v: homogenization(
        *v, P_bar=P_bar, step_bar=step_bar, tolerance_bar=tolerance_bar,
        salinity_cap=salinity_cap, threads=threads))
    if labelled is not None:
        return labelled  # type: ignore[no-any-return]
    rows, codes, _, _ = _run(_core.boundaries_along_pressure, _core.boundaries_layout(), names,
                             values, "raise", threads, low, high, float(step_bar),
                             float(tolerance_bar), float(salinity_cap))
    return _boundaries(rows, codes)


def homogenization_temperature(x_CO2: Any, x_H2O: Any, x_NaCl: Any, *, V: Any = None,
                               rho: Any = None, T_C: tuple[float, float] = (350.0, 600.0),
                               step_K: float = 5.0, tolerance_K: float = 0.01,
                               salinity_cap: float = 50.0,
                               threads: int | None = None) -> PhaseBoundariesResult:
    """Where each bulk fluid of molar volume ``V`` (cm^3/mol) or density
    ``rho`` (g/cm^3) changes between one and two phases on heating along its
    isochore through ``T_C``; ``T_h_C`` and ``P_h_bar`` are its homogenization
    temperature and pressure (the first change into one phase). Points of the
    isochore that the method does not give (below 500 bar, say: liquid-vapour
    homogenization is outside the model's range) have no verdict. See
    :class:`PhaseBoundariesResult`."""
    given, volume = _volume("homogenization_temperature", V, rho)
    low, high = _range("T_C", T_C)
    names = (*_COMPOSITION, given)
    values = [*_composition(x_CO2, x_H2O, x_NaCl), volume]
    labelled = with_dataarrays(names, values, lambda v: homogenization_temperature(
        *v[:3], **{given: v[3]}, T_C=T_C, step_K=step_K, tolerance_K=tolerance_K,
        salinity_cap=salinity_cap, threads=threads))
    if labelled is not None:
        return labelled  # type: ignore[no-any-return]
    values[3] = _molar_volume(given, values[:3], volume)
    rows, codes, _, _ = _run(_core.boundaries_along_isochore, _core.boundaries_layout(), names,
                             values, "raise", threads, low, high, float(step_K), float(tolerance_K),
                             float(salinity_cap))
    result = _boundaries(rows, codes)
    homogenizes = result.one_phase_above
    first = np.where(homogenizes.any(axis=-1), homogenizes.argmax(axis=-1), 0)[..., None]
    found = homogenizes.any(axis=-1)
    T_h = np.where(found, np.take_along_axis(result.T_C, first, axis=-1)[..., 0], np.nan)
    P_h = np.where(found, np.take_along_axis(result.P_bar, first, axis=-1)[..., 0], np.nan)
    return replace(result, T_h_C=T_h, P_h_bar=P_h)


__all__ = ["ActivitiesResult", "PhaseBoundariesResult", "homogenization",
           "homogenization_temperature", "IsochoreResult", "MixtureParametersResult", "activities",
           "isochore", "mixture_parameters", "molar_mass"]
