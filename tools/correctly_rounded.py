"""exp, log, pow, cos and acos correctly rounded to double (to nearest, ties to
even, subnormals included), from mpmath at 300 bits: the independent reference
of the model's own elementary functions. The hardest cases of these functions
lie at least 2^-170 or so from a rounding boundary, well inside 300 bits; the
exact results and midpoints of pow are found with rational arithmetic.
"""
import math
from fractions import Fraction

import mpmath

PRECISION = 300


def nearest_double(value):
    """The double nearest to an mpmath number or a Fraction (ties to even)."""
    if isinstance(value, Fraction):
        if value == 0:
            return 0.0
        sign = -1.0 if value < 0 else 1.0
        value = abs(value)
        e = value.numerator.bit_length() - value.denominator.bit_length()
        while Fraction(2) ** e > value:
            e -= 1
        while Fraction(2) ** (e + 1) <= value:
            e += 1
        lowest = max(e - 52, -1074)
        scaled = value / Fraction(2) ** lowest
        n = scaled.numerator // scaled.denominator
        rest = scaled - n
        if rest > Fraction(1, 2) or (rest == Fraction(1, 2) and n % 2 == 1):
            n += 1
        return sign * _scaled(n, lowest)
    if not mpmath.isfinite(value):
        return float(value)
    if value == 0:
        return 0.0
    sign, man, exp, _ = value._mpf_
    bits = man.bit_length()
    lowest = max(exp + bits - 1 - 52, -1074)
    shift = lowest - exp
    if shift <= 0:
        n = man << -shift
    else:
        n = man >> shift
        rest = man & ((1 << shift) - 1)
        half = 1 << (shift - 1)
        if rest > half or (rest == half and n & 1):
            n += 1
    return (-1.0 if sign else 1.0) * _scaled(n, lowest)


def _scaled(n, e):
    try:
        return math.ldexp(n, e)  # exact: n has at most 53 bits, or overflows
    except OverflowError:
        return math.inf


def _at_precision(function, *args):
    with mpmath.workprec(PRECISION):
        return nearest_double(function(*[mpmath.mpf(a) for a in args]))


def exp(x):
    if math.isnan(x):
        return x
    if x > 710:
        return math.inf
    if x < -746:
        return 0.0
    return 1.0 if x == 0 else _at_precision(mpmath.exp, x)


def log(x):
    if math.isnan(x) or x < 0:
        return math.nan
    if x == 0:
        return -math.inf
    return 0.0 if x == 1 else _at_precision(mpmath.log, x)


def cos(x):
    return math.nan if not math.isfinite(x) else _at_precision(mpmath.cos, x)


def acos(x):
    if not -1 <= x <= 1:
        return math.nan
    return 0.0 if x == 1 else _at_precision(mpmath.acos, x)


def _exact_root(q, k):
    """q^(1/2^k) when it is rational, else None."""
    for _ in range(k):
        n, d = math.isqrt(q.numerator), math.isqrt(q.denominator)
        if n * n != q.numerator or d * d != q.denominator:
            return None
        q = Fraction(n, d)
    return q


def pow(x, y):  # noqa: A001 - the function's own name
    """x^y for x >= 0 (NaN and infinities as C's pow)."""
    if x == 1 or y == 0:
        return 1.0
    if math.isnan(x) or math.isnan(y):
        return math.nan
    assert x >= 0, "negative bases are not needed here"
    if x == 0 or math.isinf(x) or math.isinf(y):
        return math.pow(x, y)  # 0, inf or exact by C's rules
    fy = Fraction(y)
    k = fy.denominator.bit_length() - 1  # y = a / 2^k
    if k <= 64 and abs(fy.numerator) <= 4096:
        root = _exact_root(Fraction(x), k)
        if root is not None:
            return nearest_double(root ** fy.numerator)
    with mpmath.workprec(PRECISION):
        z = mpmath.mpf(y) * mpmath.log(mpmath.mpf(x))
        if z > 710:
            return math.inf
        if z < -746:
            return 0.0
        return nearest_double(mpmath.exp(z))
