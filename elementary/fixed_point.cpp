#include "elementary/fixed_point.hpp"

#include <bit>

#include "elementary/double_double.hpp"

namespace quarn::elementary {
namespace {

__extension__ using U128 = unsigned __int128;
using Words = std::array<std::uint64_t, Fixed::kWords>;
constexpr int kN = Fixed::kWords;

int CompareMagnitude(const Words& a, const Words& b) {
  for (int i = 0; i < kN; ++i)
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  return 0;
}

Words AddMagnitude(const Words& a, const Words& b) {
  Words r{};
  std::uint64_t carry = 0;
  for (int i = kN - 1; i >= 0; --i) {
    const U128 s = static_cast<U128>(a[i]) + b[i] + carry;
    r[i] = static_cast<std::uint64_t>(s);
    carry = static_cast<std::uint64_t>(s >> 64);
  }
  return r;
}

// a - b for a >= b.
Words SubtractMagnitude(const Words& a, const Words& b) {
  Words r{};
  std::uint64_t borrow = 0;
  for (int i = kN - 1; i >= 0; --i) {
    const U128 d = static_cast<U128>(a[i]) - b[i] - borrow;
    r[i] = static_cast<std::uint64_t>(d);
    borrow = static_cast<std::uint64_t>(d >> 64) != 0 ? 1 : 0;
  }
  return r;
}

Fixed Normalized(Fixed f) {
  if (f.IsZero()) f.negative = false;
  return f;
}

// Bit `position` (0 the lowest of the 384) of the magnitude; 0 outside them.
bool BitAt(const Words& w, int position) {
  if (position < 0 || position >= 64 * kN) return false;
  const int word = kN - 1 - position / 64;
  return (w[word] >> (position % 64)) & 1u;
}

bool AnyBitBelow(const Words& w, int position) {
  for (int p = 0; p < position; ++p)  // only on the rare final rounding
    if (BitAt(w, p)) return true;
  return false;
}

// The magnitude as an integer, shifted right by `shift` bits (shift >= 0), its
// low 64 bits.
std::uint64_t BitsFrom(const Words& w, int shift) {
  std::uint64_t r = 0;
  for (int i = 63; i >= 0; --i) r = (r << 1) | (BitAt(w, shift + i) ? 1u : 0u);
  return r;
}

int HighestBit(const Words& w) {
  for (int i = 0; i < kN; ++i)
    if (w[i] != 0) return (kN - 1 - i) * 64 + 63 - std::countl_zero(w[i]);
  return -1;
}

// The rounding of a nonnegative magnitude times 2^(scale - 320) to a double.
double RoundMagnitude(const Words& w, int scale) {
  const int top = HighestBit(w);
  if (top < 0) return 0.0;
  const int exponent = top - Fixed::kFractionBits + scale;  // of the leading bit
  int lowest = exponent - 52;                               // the weight of the result's last bit
  if (lowest < -1074) lowest = -1074;
  const int shift = lowest + Fixed::kFractionBits - scale;  // that weight's bit position
  std::uint64_t n;
  if (shift <= 0) {
    n = BitsFrom(w, 0) << -shift;  // exact: at most 53 bits
  } else {
    n = BitsFrom(w, shift);
    const bool half = BitAt(w, shift - 1);
    const bool rest = AnyBitBelow(w, shift - 1);
    if (half && (rest || (n & 1u))) ++n;
  }
  if (n == (std::uint64_t{1} << 53)) {
    n >>= 1;
    ++lowest;
  }
  if (n < (std::uint64_t{1} << 52)) return FromBits(n);  // subnormal (lowest is -1074)
  const int biased = lowest + 52 + 1023;
  if (biased >= 2047) return FromBits(0x7ff0000000000000u);
  return FromBits((static_cast<std::uint64_t>(biased) << 52) | (n - (std::uint64_t{1} << 52)));
}

}  // namespace

bool Fixed::IsZero() const {
  for (std::uint64_t w : words)
    if (w != 0) return false;
  return true;
}

Fixed FixedFromDouble(double x) {
  Fixed f;
  const std::uint64_t bits = Bits(x);
  f.negative = (bits >> 63) != 0;
  const int biased = static_cast<int>((bits >> 52) & 0x7ff);
  std::uint64_t m = bits & ((std::uint64_t{1} << 52) - 1);
  int e = biased - 1075;  // x = m * 2^e
  if (biased == 0)
    e = -1074;
  else
    m |= std::uint64_t{1} << 52;
  // Place m at bit position e + 320, cutting bits below position 0.
  const int position = e + Fixed::kFractionBits;
  for (int i = 0; i < 53; ++i) {
    if (!((m >> i) & 1u)) continue;
    const int p = position + i;
    if (p < 0 || p >= 64 * kN) continue;
    f.words[kN - 1 - p / 64] |= std::uint64_t{1} << (p % 64);
  }
  return Normalized(f);
}

Fixed FixedFromWords(const std::uint64_t (&words)[Fixed::kWords]) {
  Fixed f;
  for (int i = 0; i < kN; ++i) f.words[i] = words[i];
  return f;
}

Fixed FixedUnit(int bits) {
  Fixed f;
  const int p = Fixed::kFractionBits - bits;
  f.words[kN - 1 - p / 64] = std::uint64_t{1} << (p % 64);
  return f;
}

Fixed Add(const Fixed& a, const Fixed& b) {
  Fixed r;
  if (a.negative == b.negative) {
    r.words = AddMagnitude(a.words, b.words);
    r.negative = a.negative;
  } else if (CompareMagnitude(a.words, b.words) >= 0) {
    r.words = SubtractMagnitude(a.words, b.words);
    r.negative = a.negative;
  } else {
    r.words = SubtractMagnitude(b.words, a.words);
    r.negative = b.negative;
  }
  return Normalized(r);
}

Fixed Subtract(const Fixed& a, const Fixed& b) {
  Fixed negated = b;
  negated.negative = !b.negative;
  return Add(a, negated);
}

Fixed Multiply(const Fixed& a, const Fixed& b) {
  // The full product of the 384-bit magnitudes, then its bits 320 .. 703.
  std::array<std::uint64_t, 2 * kN> product{};  // least significant first
  for (int i = 0; i < kN; ++i) {
    std::uint64_t carry = 0;
    const std::uint64_t ai = a.words[kN - 1 - i];
    for (int j = 0; j < kN; ++j) {
      const U128 t = static_cast<U128>(ai) * b.words[kN - 1 - j] + product[i + j] + carry;
      product[i + j] = static_cast<std::uint64_t>(t);
      carry = static_cast<std::uint64_t>(t >> 64);
    }
    product[i + kN] = carry;
  }
  Fixed r;
  constexpr int kDrop = Fixed::kFractionBits / 64;  // 320 bits are 5 words
  for (int i = 0; i < kN; ++i) r.words[kN - 1 - i] = product[i + kDrop];
  r.negative = a.negative != b.negative;
  return Normalized(r);
}

Fixed DivideBySmall(const Fixed& a, std::uint32_t n) {
  // Long division by 32-bit halves, so that each step is a 64-bit division.
  Fixed r;
  std::uint64_t remainder = 0;
  for (int i = 0; i < kN; ++i) {
    const std::uint64_t upper = (remainder << 32) | (a.words[i] >> 32);
    remainder = upper % n;
    const std::uint64_t lower = (remainder << 32) | (a.words[i] & 0xffffffffu);
    remainder = lower % n;
    r.words[i] = ((upper / n) << 32) | (lower / n);
  }
  r.negative = a.negative;
  return Normalized(r);
}

Fixed ShiftRight(const Fixed& a, int bits) {
  Fixed r;
  const int word_shift = bits / 64, bit_shift = bits % 64;
  for (int i = kN - 1; i >= 0; --i) {
    const int source = i - word_shift;
    if (source < 0) continue;
    std::uint64_t v = a.words[source] >> bit_shift;
    if (bit_shift != 0 && source > 0) v |= a.words[source - 1] << (64 - bit_shift);
    r.words[i] = v;
  }
  r.negative = a.negative;
  return Normalized(r);
}

Fixed ShiftLeft(const Fixed& a, int bits) {
  Fixed r;
  const int word_shift = bits / 64, bit_shift = bits % 64;
  for (int i = 0; i < kN; ++i) {
    const int source = i + word_shift;
    if (source >= kN) continue;
    std::uint64_t v = a.words[source] << bit_shift;
    if (bit_shift != 0 && source + 1 < kN) v |= a.words[source + 1] >> (64 - bit_shift);
    r.words[i] = v;
  }
  r.negative = a.negative;
  return Normalized(r);
}

double ApproximateDouble(const Fixed& a) {
  const double magnitude =
      static_cast<double>(a.words[0]) + static_cast<double>(a.words[1]) * 0x1p-64;
  return a.negative ? -magnitude : magnitude;
}

bool RoundFixed(const Fixed& v, const Fixed& error, int scale_exponent, double& result) {
  const Fixed low = Subtract(v, error), high = Add(v, error);
  if (low.negative != high.negative && !low.IsZero() && !high.IsZero()) return false;
  const double a = RoundMagnitude(low.words, scale_exponent);
  const double b = RoundMagnitude(high.words, scale_exponent);
  if (a != b) return false;
  result = v.negative ? -a : a;
  return true;
}

}  // namespace quarn::elementary
