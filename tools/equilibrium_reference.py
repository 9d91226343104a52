"""An independent two-phase equilibrium at high precision, for the flash's test:
the model's unrounded ln phi written again from its formulas in mpmath (every
constant the double the method holds, every operation exact to 40 digits, Z
the largest real root of the cubic found by mpmath), and the phases found by
mpmath's Newton solver on equal ln f_i with the mass balance built in.

    .venv/bin/python tools/equilibrium_reference.py

prints the phases of the worked equilibrium (400 C, 2000 bar, x_CO2 = 0.2 in a
solvent of 20 wt% NaCl) as the test's table rows.
"""
import struct

from mpmath import exp, findroot, log, mp, mpf, polyroots, sqrt

mp.dps = 40
R = mpf(82.05)


def f32(v):
    """The single-precision value of a double, as the method holds it."""
    return struct.unpack("f", struct.pack("f", v))[0]


def d(v):
    """The double the method holds for a decimal constant, exactly."""
    return mpf(float(v))


def ln_phi(T_K, P_atm, x):
    """ln phi of CO2, H2O and NaCl of a brine (x_NaCl > 0, x_H2O > 0)."""
    x_CO2, x_H2O, x_NaCl = x
    T_C = T_K - d(273.15)
    R2T25 = T_K ** mpf(2.5) * R * R
    RT15 = T_K ** mpf(1.5) * R
    W = 100 * x_NaCl * d(58.448) / (d(18.016) * x_H2O + d(58.448) * x_NaCl)
    p0 = d(4.881243) + d(0.001823047) * T_C - d(1.712269e-05) * T_C**2 + d(6.479419e-09) * T_C**3
    p1 = d(0.02636494) - d(0.000536994) * T_C + d(2.687074e-06) * T_C**2 - d(4.321741e-09) * T_C**3
    p2 = d(0.006802827) - d(9.48023e-05) * T_C + d(3.770339e-07) * T_C**2 - d(5.075318e-10) * T_C**3
    p3 = d(5.235827e-05) - d(3.505272e-08) * T_C
    b_S = d(14.6) - d(0.04420283) * W
    a_S0 = 1000000 * exp(p0 + p1 * W + p2 * W**2 + p3 * W**3)
    q = sqrt(46000000 * a_S0)
    e_T = exp(-d(0.00982646) * T_C)
    a_Sp = -d(8.05658) * e_T * 1000000
    a_S = a_Sp * W + (d(111.3057) + d(50.70033) * e_T) * 1000000
    a_CO2 = (d(73.03) - mpf(f32(0.0714)) * T_C + d(2.157e-05) * T_C**2) * 1000000
    K_T = exp(5953 / T_K - d(11.071) - 2746000 / T_K**2 + 464600000 / T_K**3)
    a_X = K_T * R2T25 / 2 + q
    x_s = x_H2O + x_NaCl
    b_mix = b_S * x_s + d(29.7) * x_CO2
    a_mix = x_CO2**2 * a_CO2 + x_s**2 * a_S + 2 * x_CO2 * x_s * a_X
    RT15b = RT15 * b_mix
    B = b_mix / (T_K * R) * P_atm
    A = a_mix / RT15b * B
    roots = polyroots([1, -1, A - B - B**2, -A * B], maxsteps=200, extraprec=200)
    Z = max(mp.re(r) for r in roots if abs(mp.im(r)) < mpf(10) ** -30)

    V = T_K * R * Z / P_atm
    V_m = V - b_mix
    L_1 = log(V / V_m)
    V_p = b_mix + V
    L_2 = log(V_p / V)
    t = b_mix / V_p
    c2 = mpf(f32(18.016 / (100.0 * 58.448)))
    c3 = d(0.032442273534635885)
    pd = p1 + 2 * W * p2 + 3 * W * W * p3
    base = 2 * x_s * a_S + 2 * x_CO2 * a_X
    b = [d(29.7), b_S + d(0.04420283) * c2 * W * W * x_s / x_NaCl,
         b_S - d(0.04420283) * c3 * (100 - W) ** 2 * x_s / x_H2O]
    D = [2 * x_s * a_X + 2 * x_CO2 * a_CO2,
         base - c2 * W * W * x_s * a_Sp * x_s / x_NaCl - pd * (x_CO2 * x_s * q) * c2 * W * W / x_NaCl,
         base + c3 * (100 - W) ** 2 * a_Sp * x_s * x_s / x_H2O
         + pd * (x_CO2 * x_s * q) * c3 * (100 - W) ** 2 / x_H2O]
    Q = b_mix * b_mix * RT15
    U = L_2 - t
    return [a_mix * b[i] / Q * U + (b[i] / V_m + L_1 - L_2 * D[i] / RT15b) - log(Z)
            for i in range(3)]


def composition(x_CO2, wt_NaCl):
    salt = mpf(wt_NaCl) / d(58.448)
    water = (100 - mpf(wt_NaCl)) / d(18.016)
    s = salt / (salt + water)
    return [mpf(x_CO2), (1 - mpf(x_CO2)) * (1 - s), (1 - mpf(x_CO2)) * s]


def split(T_K, P_atm, z, v_guess):
    """Amounts v of one phase (the other z - v) with equal ln f_i."""

    def ln_f(n):
        total = sum(n)
        x = [n_i / total for n_i in n]
        return [log(x_i) + l for x_i, l in zip(x, ln_phi(T_K, P_atm, x))]

    def equations(*v):
        l = [z_i - v_i for z_i, v_i in zip(z, v)]
        return [a - b for a, b in zip(ln_f(list(v)), ln_f(l))]

    v = findroot(equations, [mpf(g) for g in v_guess], tol=mpf(10) ** -30)
    return [v[i] for i in range(3)]


def main():
    T_K = d(400.0 + 273.15)
    P_atm = d(2000.0 / 1.01325)
    z = composition(0.2, 20)
    # A start near the CO2-rich phase of the worked equilibrium (beta about 0.58).
    v = split(T_K, P_atm, z, [0.1943, 0.3796, 0.0036])
    l = [z_i - v_i for z_i, v_i in zip(z, v)]
    beta = sum(v)
    y = [v_i / beta for v_i in v]
    x = [l_i / (1 - beta) for l_i in l]
    print("// 400 C, 2000 bar, x_CO2 0.2 in a 20 wt% solvent: beta, CO2-rich x, brine x.")
    print(f"{mp.nstr(beta, 17)},")
    print("{" + ", ".join(mp.nstr(a, 17) for a in y) + "},")
    print("{" + ", ".join(mp.nstr(a, 17) for a in x) + "},")


if __name__ == "__main__":
    main()
