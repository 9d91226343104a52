"""Where the fluid unmixes: the flash, the stability test and the one-phase
limit over NumPy arrays of states."""

from __future__ import annotations

import importlib
from dataclasses import dataclass, fields
from typing import Any, Callable

import numpy as np

from . import _core
from ._model import (STATED_P_BAR, STATED_T_C, _as_float_array, batch_columns, broadcast_shape,
                     thread_count)
from ._labelled import with_dataarrays
from ._units import plain, plain_arguments

_PHASE_FIELDS = ("x_CO2", "x_H2O", "x_NaCl", "wt_NaCl", "phi_CO2", "phi_H2O", "phi_NaCl", "Z", "V",
                 "ln_phi_CO2", "ln_phi_H2O", "ln_phi_NaCl")
_CERTIFICATE = ("max_delta_ln_f", "max_delta_ln_f_unrounded", "mass_balance", "delta_G_RT",
                "min_tpd", "tpd_min")
FLASH_STATUSES = tuple(_core.flash_statuses())
_STATE = ("T_C", "P_bar", "x_CO2", "x_H2O", "x_NaCl")


@dataclass(frozen=True)
class PhaseArrays:
    """One phase of every state: mole fractions, the salinity of its solvent
    (wt% NaCl in H2O + NaCl), and the model's numbers for it (report-exact:
    phi, Z, V in cm^3/mol, ln phi). NaN where the flash is undecided."""

    x_CO2: Any
    x_H2O: Any
    x_NaCl: Any
    wt_NaCl: Any
    phi_CO2: Any
    phi_H2O: Any
    phi_NaCl: Any
    Z: Any
    V: Any
    ln_phi_CO2: Any
    ln_phi_H2O: Any
    ln_phi_NaCl: Any


@dataclass(frozen=True)
class FlashResult:
    """The two-phase flash of every state, each field an array of the
    broadcast shape.

    ``phases``: 1, 2 or 3, 0 where undecided. ``status``: "one phase", "brine +
    CO2-rich", "salt split" (two phases of nearly equal x_CO2 and different
    salinity: a property of the model), "three phases" (a brine, a saline
    CO2-bearing phase and a CO2-rich fluid) or "undecided"; ``undecided`` says
    why ("" where decided). ``beta``: the share of the moles in the CO2-rich
    phase (NaN for one phase); ``beta_saline``: the share in the saline
    CO2-bearing phase (NaN unless three phases); the brine has the rest.
    ``brine``, ``co2_rich`` and ``saline_co2_bearing``: the phases
    (:class:`PhaseArrays`; for one phase the first two are the bulk fluid; the
    saline phase is NaN unless three phases).

    The certificate of a two-phase answer: ``max_delta_ln_f`` (largest |ln f_i
    brine - ln f_i CO2-rich| with the report-exact method), and
    ``max_delta_ln_f_unrounded`` (with the unrounded method the solver uses),
    ``mass_balance`` (largest |sum of share times x - z|), ``delta_G_RT`` (the
    phases' Gibbs energy less the feed's, per mole, in RT), ``min_tpd`` (the
    smallest tangent-plane distance of any trial phase up to the phase salinity
    limit from the equilibrium's plane). ``max_delta_ln_f`` is over every pair
    of phases. ``tpd_min``: the stability test's smallest distance.
    ``iterations`` and ``evaluations``: the solver's Newton iterations and
    evaluations of the model. ``in_range``: the state lies in the stated range
    (350-600 C, at least 500 bar); ``beyond_cap``: a phase is saltier than the
    cap (in nature, most likely halite-saturated); ``normalised``: the feed's
    mole fractions did not sum to 1 and were scaled to.
    """

    T_C: Any
    P_bar: Any
    x_CO2: Any
    x_H2O: Any
    x_NaCl: Any
    phases: Any
    status: Any
    undecided: Any
    beta: Any
    brine: PhaseArrays
    co2_rich: PhaseArrays
    beta_saline: Any
    saline_co2_bearing: PhaseArrays
    max_delta_ln_f: Any
    max_delta_ln_f_unrounded: Any
    mass_balance: Any
    delta_G_RT: Any
    min_tpd: Any
    tpd_min: Any
    iterations: Any
    evaluations: Any
    in_range: Any
    beyond_cap: Any
    normalised: Any

    def to_dataframe(self) -> Any:
        """A pandas DataFrame with one row per state; the phases' columns are
        prefixed brine_, co2_rich_ and saline_co2_bearing_ (needs pandas)."""
        try:
            pandas = importlib.import_module("pandas")
        except ImportError:
            raise ImportError("to_dataframe needs pandas: pip install pandas (or, in the source, "
                              "pip install '.[pandas]')") from None
        return pandas.DataFrame(self.columns())

    def columns(self) -> dict[str, Any]:
        """Every field as a flat array, the phases' prefixed brine_, co2_rich_
        and saline_co2_bearing_."""
        out: dict[str, Any] = {}
        for f in fields(self):
            value = getattr(self, f.name)
            if isinstance(value, PhaseArrays):
                for name in _PHASE_FIELDS:
                    out[f"{f.name}_{name}"] = np.asarray(getattr(value, name)).ravel()
            else:
                out[f.name] = np.asarray(value).ravel()
        return out


@dataclass(frozen=True)
class StabilityResult:
    """The stability test of every state: ``verdict`` ("stable", "unstable",
    "undecided"), ``tpd_min`` (the smallest tangent-plane distance found, in RT
    per mole of trial phase), the trial phase where it lies (``trial_x_CO2``,
    ``trial_x_H2O``, ``trial_x_NaCl``, ``trial_wt_NaCl``), ``evaluations`` and
    ``in_range``."""

    verdict: Any
    tpd_min: Any
    trial_x_CO2: Any
    trial_x_H2O: Any
    trial_x_NaCl: Any
    trial_wt_NaCl: Any
    evaluations: Any
    in_range: Any


@dataclass(frozen=True)
class OnePhaseLimitResult:
    """The one-phase limit of every section of constant solvent salinity:
    ``x_CO2``, the lowest bulk x_CO2 at which the fluid unmixes (NaN where none
    was found), to within ``tolerance``; ``status`` ("found", "no limit": one
    phase up to x_CO2 0.999, "undecided"); the incipient phase (``incipient_x_CO2``,
    ``incipient_x_H2O``, ``incipient_x_NaCl``, ``incipient_wt_NaCl``);
    ``evaluations`` and ``in_range``."""

    x_CO2: Any
    tolerance: Any
    status: Any
    incipient_x_CO2: Any
    incipient_x_H2O: Any
    incipient_x_NaCl: Any
    incipient_wt_NaCl: Any
    evaluations: Any
    in_range: Any


def _columns(names: tuple[str, ...], values: list[Any]) -> tuple[list[Any], tuple[int, ...], list[Any]]:
    arrays = [_as_float_array(n, v) for n, v in zip(names, values)]
    shape = broadcast_shape(names, arrays)
    return batch_columns(arrays, shape), shape, [np.broadcast_to(a, shape) for a in arrays]


def _check_cap(salinity_cap: float, phase_salinity_limit: float | None = None) -> None:
    if not 0.0 < salinity_cap < 100.0:
        raise ValueError(f"salinity_cap must lie between 0 and 100 wt%, not {salinity_cap!r}")
    if phase_salinity_limit is not None and not salinity_cap <= phase_salinity_limit < 100.0:
        raise ValueError("phase_salinity_limit must lie between salinity_cap and 100 wt%, not "
                         f"{phase_salinity_limit!r}")


def _in_range(T_C: Any, P_bar: Any) -> Any:
    return (T_C >= STATED_T_C[0]) & (T_C <= STATED_T_C[1]) & (P_bar >= STATED_P_BAR)


def _names(codes: Any, names: list[str]) -> Any:
    """The names of an enumeration's codes, as an array of str objects."""
    return np.array(names, dtype=object)[codes]


def _run(call: Callable[..., None], layout: dict[str, list[str]], columns: list[Any], n: int,
         *options: Any) -> tuple[dict[str, Any], dict[str, Any]]:
    """A batch call of the compiled core into arrays it fills: its rows and
    codes by the names its layout gives them."""
    rows = np.empty((len(layout["rows"]), n))
    codes = np.zeros((len(layout["codes"]), n), dtype=np.int32)
    call(*columns, rows, codes, *options)
    return dict(zip(layout["rows"], rows)), dict(zip(layout["codes"], codes))


def flash(T_C: Any, P_bar: Any, x_CO2: Any, x_H2O: Any, x_NaCl: Any, *,
          salinity_cap: float = 50.0, phase_salinity_limit: float = 85.0,
          threads: int | None = None) -> FlashResult:
    """The isothermal-isobaric two-phase flash of H2O-CO2-NaCl fluids, NaCl
    partitioning freely between a brine and a CO2-rich fluid.

    The arguments broadcast together like those of :func:`quarn.fugacity`
    (NumPy's rules; xarray DataArrays by their dimension names, coordinates
    kept, Dask-backed ones computed; pint quantities converted): the temperature in degrees
    Celsius, the pressure in bar and the bulk mole fractions. Feeds must lie
    within ``salinity_cap`` (wt% NaCl of the solvent). Each state gets a
    stability test over trial compositions up to ``phase_salinity_limit`` (or
    less below about 400 C, where the model's ln phi runs away at lower
    salinities), and where it is unstable the split into two or three phases,
    checked against the same trial phases: the answer is global over that
    domain. An equilibrium phase saltier than the cap is flagged in
    ``beyond_cap``. Nothing raises for a
    state: a state without an answer that passed every check is "undecided",
    with the reason. ``threads`` limits the threads (default: all cores); the
    answers never depend on it, nor on the order of the points: the trial
    phases of each distinct T and P are evaluated once, whichever axis varies
    fastest. Ctrl-C interrupts within a fraction of a second.
    """
    _check_cap(salinity_cap, phase_salinity_limit)
    thread_count(threads)
    values = plain_arguments((T_C, P_bar, x_CO2, x_H2O, x_NaCl))
    labelled = with_dataarrays(_STATE, values, lambda v: flash(
        *v, salinity_cap=salinity_cap, phase_salinity_limit=phase_salinity_limit, threads=threads))
    if labelled is not None:
        return labelled  # type: ignore[no-any-return]
    columns, shape, inputs = _columns(_STATE, values)
    rows, codes = _run(_core.flash, _core.flash_layout(), columns, int(np.prod(shape)),
                       float(salinity_cap), float(phase_salinity_limit), thread_count(threads))
    phases = codes["phases"]
    # Numbers that do not apply are NaN: every number of an undecided state, the
    # CO2-rich share and the split's certificate of one phase (its stability
    # test's tpd_min stays), the saline phase of fewer than three.
    for name, row in rows.items():
        row[phases == 0] = np.nan
        if (name in _CERTIFICATE and name != "tpd_min") or name == "beta":
            row[phases == 1] = np.nan
        if name.startswith("saline_co2_bearing_") or name == "beta_saline":
            row[phases != 3] = np.nan
    out = {name: row.reshape(shape) for name, row in rows.items()}

    def phase(prefix: str) -> PhaseArrays:
        return PhaseArrays(**{f: out[f"{prefix}_{f}"] for f in _PHASE_FIELDS})

    domain = codes["domain"]
    bits = _core.domain_bits()
    return FlashResult(
        T_C=inputs[0], P_bar=inputs[1], x_CO2=inputs[2], x_H2O=inputs[3], x_NaCl=inputs[4],
        phases=phases.reshape(shape),
        status=_names(codes["status"], _core.flash_statuses()).reshape(shape),
        undecided=_names(codes["undecided"], _core.undecided_reasons()).reshape(shape),
        beta=out["beta"], brine=phase("brine"), co2_rich=phase("co2_rich"),
        beta_saline=out["beta_saline"], saline_co2_bearing=phase("saline_co2_bearing"),
        **{name: out[name] for name in _CERTIFICATE},
        iterations=codes["iterations"].reshape(shape), evaluations=codes["evaluations"].reshape(shape),
        in_range=_in_range(inputs[0], inputs[1]),
        beyond_cap=(domain & bits["phase_beyond_cap"]).astype(bool).reshape(shape),
        normalised=(domain & bits["feed_normalised"]).astype(bool).reshape(shape))


def stability(T_C: Any, P_bar: Any, x_CO2: Any, x_H2O: Any, x_NaCl: Any, *,
              salinity_cap: float = 50.0, threads: int | None = None) -> StabilityResult:
    """The tangent-plane stability test of every state (broadcasting as
    :func:`flash` does): whether any trial phase up to the phase salinity
    limit (85 wt%, or less below about 400 C where the model's ln phi runs
    away) lies below the fluid's tangent plane. A feed saltier than
    ``salinity_cap`` is "undecided"."""
    _check_cap(salinity_cap)
    values = plain_arguments((T_C, P_bar, x_CO2, x_H2O, x_NaCl))
    labelled = with_dataarrays(_STATE, values,
                               lambda v: stability(*v, salinity_cap=salinity_cap, threads=threads))
    if labelled is not None:
        return labelled  # type: ignore[no-any-return]
    columns, shape, inputs = _columns(_STATE, values)
    rows, codes = _run(_core.stability, _core.stability_layout(), columns, int(np.prod(shape)),
                       float(salinity_cap), thread_count(threads))
    return StabilityResult(
        verdict=_names(codes["verdict"], _core.stability_verdicts()).reshape(shape),
        **{name: row.reshape(shape) for name, row in rows.items()},
        evaluations=codes["evaluations"].reshape(shape), in_range=_in_range(inputs[0], inputs[1]))


def one_phase_limit(T_C: Any, P_bar: Any, wt_NaCl: Any, *, salinity_cap: float = 50.0,
                    threads: int | None = None) -> OnePhaseLimitResult:
    """The one-phase limit of sections of constant solvent salinity ``wt_NaCl``
    (wt% NaCl in H2O + NaCl) at T and P: the lowest bulk x_CO2 at which the
    fluid unmixes, and the phase that appears there. Broadcasts like
    :func:`flash`."""
    _check_cap(salinity_cap)
    values = [plain("T_C", T_C, "degC", "a temperature"), plain("P_bar", P_bar, "bar", "a pressure"),
              plain("wt_NaCl", wt_NaCl, "percent", "a weight percent")]
    labelled = with_dataarrays(("T_C", "P_bar", "wt_NaCl"), values,
                               lambda v: one_phase_limit(*v, salinity_cap=salinity_cap,
                                                         threads=threads))
    if labelled is not None:
        return labelled  # type: ignore[no-any-return]
    columns, shape, inputs = _columns(("T_C", "P_bar", "wt_NaCl"), values)
    rows, codes = _run(_core.one_phase_limit, _core.limit_layout(), columns, int(np.prod(shape)),
                       float(salinity_cap), thread_count(threads))
    return OnePhaseLimitResult(
        **{name: row.reshape(shape) for name, row in rows.items()},
        status=_names(codes["status"], _core.limit_statuses()).reshape(shape),
        evaluations=codes["evaluations"].reshape(shape), in_range=_in_range(inputs[0], inputs[1]))


__all__ = ["FlashResult", "OnePhaseLimitResult", "PhaseArrays", "StabilityResult", "flash",
           "one_phase_limit", "stability"]
