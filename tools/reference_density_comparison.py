"""The model's densities of pure H2O and pure CO2 against reference equations
of state: IAPWS-95 for water (the iapws package) and the CO2 reference
equation of Span and Wagner (CoolProp), printed as the README's tables of
100 (rho_model - rho_reference) / rho_reference, in percent.

Those packages serve this script only, never the package at run time:

    .venv/bin/python -m pip install iapws CoolProp
    .venv/bin/python tools/reference_density_comparison.py
"""

import numpy as np

import quarn

T_C = [350.0, 400.0, 450.0, 500.0, 550.0, 600.0]
P_BAR = [500.0, 1000.0, 2000.0, 3000.0, 5000.0]


def water_density(T_C, P_bar):
    from iapws import IAPWS95
    return IAPWS95(T=T_C + 273.15, P=P_bar / 10.0).rho / 1000.0


def carbon_dioxide_density(T_C, P_bar):
    from CoolProp.CoolProp import PropsSI
    return PropsSI("D", "T", T_C + 273.15, "P", P_bar * 1e5, "CO2") / 1000.0


def table(name, x, reference):
    lines = [f"| {name} | " + " | ".join(f"{p:g} bar" for p in P_BAR) + " |",
             "|---|" + "---|" * len(P_BAR)]
    for T in T_C:
        model = quarn.fugacity(T, np.array(P_BAR), *x).rho
        cells = [f"{100.0 * (m - r) / r:+.1f}" for m, r in
                 zip(model, (reference(T, P) for P in P_BAR))]
        lines.append(f"| {T:g} °C | " + " | ".join(cells) + " |")
    return "\n".join(lines)


def main():
    print(table("H2O against IAPWS-95, %", (0.0, 1.0, 0.0), water_density))
    print()
    print(table("CO2 against Span-Wagner, %", (1.0, 0.0, 0.0), carbon_dioxide_density))


if __name__ == "__main__":
    main()
