"""Quantities with units (pint's, or any object that converts itself with
``.to(unit)`` and has a ``.magnitude``) as the model's plain numbers: degrees
Celsius, bar and mole fractions. Plain numbers pass through as they are."""

from __future__ import annotations

from typing import Any


def _is_quantity(value: Any) -> bool:
    return all(hasattr(value, a) for a in ("to", "magnitude", "dimensionality"))


def plain(name: str, value: Any, unit: str, meaning: str) -> Any:
    """The magnitude of `value` in `unit` when it is a quantity, else `value`.
    A quantity of another dimension is a TypeError that says what was expected."""
    if not _is_quantity(value):
        return value
    try:
        return value.to(unit).magnitude
    except Exception as error:  # pint's DimensionalityError and the like
        raise TypeError(f"{name} must be {meaning}, not a quantity in {value.units} "
                        f"({value.dimensionality})") from error


# Each argument of the model: its name, the unit it is taken in, what it means.
ARGUMENT_UNITS = (
    ("T_C", "degC", "a temperature"),
    ("P_bar", "bar", "a pressure"),
    ("x_CO2", "dimensionless", "a mole fraction"),
    ("x_H2O", "dimensionless", "a mole fraction"),
    ("x_NaCl", "dimensionless", "a mole fraction"),
)


def plain_arguments(values: tuple[Any, ...]) -> list[Any]:
    return [plain(name, v, unit, meaning) for (name, unit, meaning), v in zip(ARGUMENT_UNITS, values)]


__all__ = ["plain", "plain_arguments"]
