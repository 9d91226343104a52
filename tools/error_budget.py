#!/usr/bin/env python3
"""The error budget of the elementary functions' fast paths, derived again.

Each fast path accepts its double-double result hi + lo only where the
interval hi + lo +- bound rounds to one double; the bound must exceed the
path's whole error, or a wrong double slips through. Here every step's error
is worked out again: approximation and table errors from mpmath at 200 bits,
over the whole reduced interval or every table row; the roundings of the steps
from 2^-53 times the step's largest magnitude, which is itself worked out from
the interval. The steps are summed to each core's error, which must lie within
the constant the rounding test uses (elementary/fast_path_constants.hpp, read
from the source); the finer bound that the code's comments argue for each core
is shown beside it.

    error_budget.py            prints each budget, step by step
    error_budget.py --check    the same, quiet; exits 1 where a constant is
                               below its derived error (too tight: wrong bits
                               can pass)
    error_budget.py --hard-cases FOLDER
                               writes FOLDER/<function>.txt: arguments every
                               correct fast path must decline, each certified
                               here (its exact value lies within the bound,
                               less the core's error, of a rounding boundary,
                               or on one: a midpoint)
"""
from __future__ import annotations

import argparse
import re
import sys
from fractions import Fraction
from pathlib import Path

import mpmath
from mpmath import mpf

ROOT = Path(__file__).resolve().parent.parent
mpmath.mp.prec = 200
U = mpf(2) ** -53  # the unit roundoff


def log2(v) -> float:
    return float(mpmath.log(v, 2)) if v > 0 else float("-inf")


def hex_floats(text: str) -> list[float]:
    return [float.fromhex(h) for h in re.findall(r"-?0x[0-9a-fA-F.]+p[+-]?\d+", text)]


def constants() -> dict[str, float]:
    """The fast paths' named constants, as the C++ source states them."""
    text = (ROOT / "elementary/fast_path_constants.hpp").read_text()
    found = {}
    for name, value in re.findall(r"inline constexpr double (k\w+) = ([^;]+);", text):
        found[name] = float(eval(value.replace("0x1p", "2**"), {"__builtins__": {}}))  # noqa: S307
    for name, values in re.findall(r"inline constexpr double (k\w+)\[\d+\] = \{([^}]*)\}", text):
        for i, value in enumerate(v.strip() for v in values.split(",")):
            found[f"{name}{i}"] = float.fromhex(value) if "0x" in value else float(value)
    return found


def table(name: str, columns: int) -> list[list[float]]:
    text = (ROOT / "elementary/tables.inc").read_text()
    start = text.index(f"inline constexpr double {name}[")
    body = text[text.index("{", start) + 1:text.index("};", start)]
    values = hex_floats(body)
    return [values[i:i + columns] for i in range(0, len(values), columns)]


def scalar(name: str) -> float:
    text = (ROOT / "elementary/tables.inc").read_text()
    return hex_floats(re.search(rf"inline constexpr double {name} = ([^;]+);", text).group(1))[0]


class Budget:
    """A path's error, step by step: each step's bound relative to the result."""

    def __init__(self, name: str):
        self.name, self.steps = name, []

    def add(self, step: str, error) -> None:
        self.steps.append((step, mpf(error)))

    def total(self):
        return sum((e for _, e in self.steps), mpf(0))

    def show(self) -> str:
        lines = [f"{self.name}:"]
        lines += [f"  2^{log2(e):7.2f}  {step}" for step, e in self.steps]
        lines.append(f"  2^{log2(self.total()):7.2f}  total")
        return "\n".join(lines)


def max_over(f, low, high, points=400):
    """The largest |f| over [low, high], sampled densely (the functions here are
    smooth and monotone in |r| or nearly so: the ends and the samples agree)."""
    return max(abs(f(low + (high - low) * mpf(i) / points)) for i in range(points + 1))


def exp_core() -> Budget:
    """e^x = 2^(k/1024) e^r, |r| <= ln2/2048 (and a hair: k from a rounded
    product), e^r - 1 by its Taylor polynomial of degree 5 with double
    coefficients; the table 2^(j/1024) as a double-double."""
    b = Budget("exp core (relative)")
    hi, lo = scalar("kLn2Over1024Hi"), scalar("kLn2Over1024Lo")
    R = mpmath.log(2) / 2048 * (1 + mpf(2) ** -40)
    coefficients = [mpf(1), mpf(1), mpf(0.5), mpf(1.0 / 6.0), mpf(1.0 / 24.0), mpf(1.0 / 120.0)]
    polynomial = lambda r: sum(c * r**i for i, c in enumerate(coefficients))  # noqa: E731
    b.add("Taylor polynomial of degree 5 over |r| <= ln2/2048",
          max_over(lambda r: (polynomial(r) - mpmath.exp(r)) / mpmath.exp(r), -R, R))
    b.add("2^(j/1024) as a double-double, worst row",
          max(abs((mpf(t0) + mpf(t1)) / mpf(2) ** (mpf(j) / 1024) - 1)
              for j, (t0, t1) in enumerate(table("kExp2", 2))))
    k_max = mpmath.ceil(746 * 1024 / mpmath.log(2))
    b.add("k ln2/1024 from the constant's two parts, |x| <= 746",
          k_max * abs(mpf(hi) + mpf(lo) - mpmath.log(2) / 1024))
    # rl, the reduced argument's low part, below 2^-63 for a double argument:
    # its product with rh is left out, and its pair with rh errs by 2^-74.
    b.add("rl rh left out (|rl| < 2^-63)", mpf(2) ** -63 * R)
    b.add("the reduced pair (fused), 2^-53 of 4 |k l|", U * 4 * k_max * mpf(lo))
    poly_size = mpf(0.5) + R / 6 + R**2 / 24 + R**3 / 120
    b.add("r^2 rounded", U * R**2 * poly_size * 2)
    b.add("the polynomial's three roundings", 3 * U * R**2 * poly_size * 2)
    b.add("t0 r^2 rounded", U * R**2 * poly_size * 2)
    rest = 2 * R**2 * poly_size + 2 * mpf(2) ** -52
    b.add("rest rounded (three fused steps)", 3 * U * rest)
    b.add("lo = sum.lo + rest rounded", U * (rest + 4 * U))
    b.add("t0 + t0 rh as a pair (2^-104)", mpf(2) ** -104)
    return b


def log_core() -> tuple[Budget, Budget, mpf]:
    """ln x = n ln2 - ln c' + log1p(r), r = m c - 1 exact, log1p by its Taylor
    series to degree 8 with double coefficients. Two budgets: relative where
    the table's term and n are 0 (ln x = log1p r, x near 1), absolute elsewhere
    (and the least |ln x| there, which turns it into a relative one)."""
    rows = table("kLogTable", 4)
    ln2_hi, ln2_lo = scalar("kLn2Hi"), scalar("kLn2Lo")
    r_max = mpf(0)
    least_far = mpf(10)
    for j, (c, w, t0, t1) in enumerate(rows):
        low, high = 1 + mpf(j) / 1024, 1 + mpf(j + 1) / 1024
        r_row = max(abs(low * mpf(c) - 1), abs(high * mpf(c) - 1))
        r_max = max(r_max, r_row)
        for e in (-1, 0):  # n = e + w; the least |ln x| away from 1 is at n 0 or 1
            n = e + w
            if n == 0 and t0 == 0:
                continue
            least_far = min(least_far, abs(n * mpmath.log(2) - mpmath.log(mpf(c))) - 2 * r_row)
    coefficients = [mpf(0), mpf(1), mpf(-0.5), mpf(1.0 / 3.0), mpf(-0.25), mpf(0.2),
                    mpf(-1.0 / 6.0), mpf(1.0 / 7.0), mpf(-0.125)]
    series = lambda r: sum(c * r**i for i, c in enumerate(coefficients))  # noqa: E731
    truncation = max_over(lambda r: (series(r) - mpmath.log1p(r)) / r if r else 0, -r_max, r_max)
    cubic = r_max**3 * (mpf(1) / 3 + r_max)
    near = Budget("log core near 1 (relative)")
    near.add(f"log1p series to degree 8 over |r| <= 2^{log2(r_max):.2f}", truncation)
    near.add("r - r^2/2 as a pair (2^-106)", mpf(2) ** -106)
    near.add("cubic and higher terms: five roundings", 5 * U * cubic / (r_max * (1 - r_max)))
    near.add("the low parts summed: two roundings", 2 * U * (r_max / 2 * U * 2 + cubic) / r_max)
    far = Budget("log core away from 1 (absolute)")
    far.add("log1p series", truncation * r_max)
    far.add("-ln c' as a double-double, worst row",
            max(abs(mpf(t0) + mpf(t1) + mpmath.log(mpf(c)) + w * mpmath.log(2))
                for c, w, t0, t1 in rows))
    far.add("n ln2 from the constant's two parts, |n| <= 1075",
            1075 * abs(mpf(ln2_hi) + mpf(ln2_lo) - mpmath.log(2)))
    far.add("n ln2_lo + t1 rounded", U * (1075 * abs(mpf(ln2_lo)) + mpf(2) ** -60))
    far.add("big's pair and low part rounded", U * U * 1075)
    far.add("cubic and higher terms: five roundings", 5 * U * cubic)
    far.add("the low parts summed: two roundings", 2 * U * (U * 1075 + cubic))
    return near, far, least_far


def cube_root() -> Budget:
    """x^y for the double y nearest 1/3: x^(1/3) as a double-double from a
    quartic start, one third-order step and one correction from the exact
    residual; x^-d = 1 - d ln x, d = 1/3 - y, with a rough ln x."""
    k = constants()
    b = Budget("cube root (relative)")
    c = [mpf(k[f"kInverseCubeRootStart{i}"]) for i in range(5)]
    start = lambda m: c[0] + c[1] * m + m * m * (c[2] + c[3] * m + c[4] * m * m)  # noqa: E731
    h_max = max_over(lambda m: 1 - m * start(m) ** 3, mpf(1), mpf(2)) * (1 + 8 * U) + 8 * U
    # After the step y (1 + h/3 + 2h^2/9 + 14h^3/81) the relative error is
    # (35/243) h^4 and its roundings; c = a y^2 then errs by twice that.
    y_error = mpf(35) / 243 * h_max**4 + 6 * U
    c_error = 2 * y_error + 2 * U
    # c + (a - c^3)/(3 c^2): the correction's own error is about (c_error)^2
    # and the roundings of the residual's terms and of the product with y^2/3.
    b.add(f"start to 2^{log2(h_max):.2f}, one third-order step, one correction",
          3 * c_error**2 + 4 * U * c_error)
    b.add("the residual (exact products) rounded", 2 * U * U)
    ln_x_max = 1075 * mpmath.log(2)
    d = mpf(k["kOneThirdShortfall"])
    b.add("d as a double", abs(d - (mpf(1) / 3 - mpf(k["kStoredOneThird"]))) * ln_x_max)
    b.add("x^-d = 1 - d ln x: the square term left out", (d * ln_x_max) ** 2 / 2)
    rough_ln = (mpf(2) ** -10) ** 3 / 3 + 1075 * abs(scalar("kLn2Hi") - mpmath.log(2)) + 2**-50
    b.add(f"the rough ln x (to 2^{log2(rough_ln):.1f}) times d", d * rough_ln)
    b.add("lo = -c d ln x + correction rounded", 2 * U * d * ln_x_max)
    return b


def square_root_power() -> Budget:
    """x^1.5 and x^2.5: x or x^2 (exact as a pair) times the root as a pair
    (the rounded root and its Newton correction)."""
    b = Budget("x^1.5 and x^2.5 (relative)")
    b.add("the root's Newton correction: its own error and roundings", 4 * U * U)
    # x^2 as a pair is exact.
    b.add("the products' low parts and their sum: three roundings", 3 * U * (2 * U))
    b.add("power.lo * root and power.hi * root_lo left at double", 2 * U * U)
    return b


def pow_general(exp: Budget, near: Budget, far: Budget) -> tuple[Budget, Budget]:
    """x^y = e^(y ln x): the exp core's error on z, and the error in z itself,
    absolute, per unit of |y|: the log core's absolute error and the product's."""
    z = Budget("pow: y ln x (absolute, per unit |y|)")
    z.add("the log core's error, absolute (|ln x| up to 745)",
          max(near.total() * 2**-10, far.total()))
    z.add("y l.lo and the product's low part rounded", 2 * U * U * 745)
    e = Budget("pow: exp of a double-double (relative)")
    for step, error in exp.steps:
        if not step.startswith("rl rh"):
            e.add(step, error)
    # rl up to 2^-40 for a double-double argument: rl (1 + rh + rh^2/2) rounded.
    e.add("rl (1 + rh + rh^2/2) rounded, |rl| <= 2^-40", 2 * U * mpf(2) ** -40)
    return e, z


def budgets() -> tuple[list[tuple[str, object, object]], dict[str, float]]:
    """Each constant's name, its derived error (a Budget, or for log the two
    budgets, the relative error over both and the least |ln x| away from 1) and
    the bound the source's comments argue; and the constants."""
    k = constants()
    exp = exp_core()
    near, far, least_far = log_core()
    pow_exp, pow_z = pow_general(exp, near, far)
    log_relative = max(near.total(), far.total() / least_far)
    return [
        ("kExpErrorBound", exp, mpf(2) ** -71),
        ("kLogErrorBound", (near, far, log_relative, least_far), mpf(2) ** -72),
        ("kPowExpErrorBound", pow_exp, mpf(2) ** -71),
        ("kLogAbsoluteErrorBound", pow_z, mpf(2) ** -77),
        ("kCubeRootErrorBound", cube_root(), mpf(2) ** -76),
        ("kSquareRootPowerErrorBound", square_root_power(), mpf(2) ** -101),
    ], k


def check(verbose: bool) -> list[str]:
    problems = []
    rows, k = budgets()
    for name, budget, claim in rows:
        if isinstance(budget, tuple):
            near, far, derived, least = budget
            text = near.show() + "\n" + far.show() + \
                f"\n  (away from 1 |ln x| >= 2^{log2(least):.2f}: relative 2^{log2(far.total() / least):.2f})"
        else:
            derived, text = budget.total(), budget.show()
        if verbose:
            print(text)
            print(f"  {name} = 2^{log2(mpf(k[name])):.0f}; the comments claim 2^{log2(claim):.0f}\n")
        if verbose and derived > claim:
            print(f"  (this count, step by step and coarse, exceeds the comments' 2^{log2(claim):.0f})\n")
        if mpf(k[name]) < derived:
            problems.append(f"{name} = 2^{log2(mpf(k[name])):.0f} is below the derived error "
                            f"2^{log2(derived):.2f}: too tight, wrong bits can pass")
    return problems


# The hard cases: arguments every correct fast path must decline.

def boundary_distance(value) -> mpf:
    """The distance of a positive exact value from the nearest rounding boundary
    of doubles (a midpoint between two neighbours), relative to the value: 0 for
    a midpoint, half an ulp for a double."""
    e = int(mpmath.floor(mpmath.log(value, 2)))
    ulp = mpf(2) ** (e - 52)
    scaled = value / ulp  # in [2^52, 2^53)
    return abs(scaled - mpmath.floor(scaled) - mpf(0.5)) * ulp / value


FUNCTIONS = {
    "exp": (lambda x: mpmath.exp(x), "kExpErrorBound"),
    "log": (lambda x: abs(mpmath.log(x)), "kLogErrorBound"),
    "one_third_power": (lambda x: mpf(x) ** (mpf(1.0 / 3.0)), "kCubeRootErrorBound"),
    "power_1_5": (lambda x: mpf(x) ** mpf(1.5), "kSquareRootPowerErrorBound"),
    "power_2_5": (lambda x: mpf(x) ** mpf(2.5), "kSquareRootPowerErrorBound"),
}


def derived_errors() -> dict[str, mpf]:
    rows, _ = budgets()
    return {name: b[2] if isinstance(b, tuple) else b.total() for name, b, _ in rows}


def certified(function: str, x: float, k: dict[str, float], derived: dict[str, mpf]) -> bool:
    """Whether every correct fast path declines x: its exact value lies closer to
    a rounding boundary than the bound less the core's largest (derived) error."""
    f, constant = FUNCTIONS[function]
    value = f(mpf(x))
    return value != 0 and boundary_distance(abs(value)) < mpf(k[constant]) - derived[constant]


def midpoint_powers() -> dict[str, list[float]]:
    """x = m^2 for odd m with m^3 (or m^5) of 54 bits: x^1.5 (or x^2.5) is a
    midpoint between two doubles, which the fast path must leave to the slow
    path (and its rule of ties to even)."""
    cases = {"power_1_5": [], "power_2_5": []}
    for name, power, roots in (("power_1_5", 3, (208065, 220001, 233333, 250001, 262143)),
                               ("power_2_5", 5, (1553, 1601, 1701, 1781))):
        for m in roots:
            assert (m**power).bit_length() == 54 and m % 2 == 1
            for scale in (Fraction(1), Fraction(1, 2**20), Fraction(2**30), Fraction(1, 2**90)):
                root = m * scale
                cases[name].append(float(root * root))  # exact: 36 bits at most
    return cases


def hard_cases(folder: Path) -> None:
    k = constants()
    derived = derived_errors()
    rows = [line.split() for line in (ROOT / "tests/data/slow_path_arguments.txt").read_text().splitlines()
            if line and not line.startswith("#")]
    found = {name: [] for name in FUNCTIONS}
    for name, x, y in rows:
        x, y = float.fromhex(x), float.fromhex(y)
        function = {"exp": "exp", "log": "log"}.get(name) or \
            ("one_third_power" if name == "pow" and y == 1.0 / 3.0 else None)
        if function and certified(function, x, k, derived):
            found[function].append(x)
    for name, xs in midpoint_powers().items():
        found[name] += [x for x in xs if boundary_distance(FUNCTIONS[name][0](mpf(x))) == 0]
    folder.mkdir(parents=True, exist_ok=True)
    for name, xs in found.items():
        xs = sorted(set(xs))
        constant = FUNCTIONS[name][1]
        margin = mpf(k[constant]) - derived[constant]
        header = (f"# {name}: arguments whose exact value lies within 2^{log2(margin):.2f}"
                  " (the rounding test's bound less the derived error) of a rounding boundary, or is"
                  " a midpoint: every correct fast path declines them. Written by"
                  " tools/error_budget.py --hard-cases, each checked with mpmath.\n")
        (folder / f"{name}.txt").write_text(header + "".join(f"{x.hex()}\n" for x in xs))
        print(f"{name}: {len(xs)} hard cases")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true", help="quiet; exit 1 on a problem")
    parser.add_argument("--hard-cases", type=Path, metavar="FOLDER")
    args = parser.parse_args()
    if args.hard_cases:
        hard_cases(args.hard_cases)
        return 0
    problems = check(verbose=not args.check)
    for p in problems:
        print(f"error_budget: {p}", file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
