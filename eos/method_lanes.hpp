// The method on several states at once, one per SIMD lane, for the evaluation
// loops built once per instruction set (eos/batch_avx2.cpp and the like). The
// method's code is the scalar one (eos/method.hpp), instantiated with lane
// values and these operations; each lane meets the same IEEE operations in the
// same order as the scalar call. Where the scalar call would branch the lanes
// compute both ways and keep each lane's own.
//
// A lane is declined, and its state evaluated again by the scalar code, where
// an elementary function's fast path does not prove its rounding or does not
// take the argument (NaN, zero, infinities, overflow: every fault goes this
// way), where a square root's argument is negative, where a temperature term
// fails, and where the cubic has three real roots. The lanes kept are exactly
// the scalar results.
//
// Everything here is a template on the lane set S, which each instruction
// set's translation unit defines in an anonymous namespace: no code built for
// one instruction set can stand in for another's.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "elementary/lane_kernels.hpp"
#include "eos/batch_slice.hpp"
#include "eos/method.hpp"
#include "eos/mixture_parameters.hpp"

namespace quarn::batch {

namespace el = elementary::lanes;

template <class S>
struct LaneOps {
  using V = typename S::D;
  using Mask = typename S::I;
  Mask declined = {};

  static V Constant(double c) { return el::Splat<S>(c); }
  static V Abs(V x) { return el::Abs<S>(x); }
  // Both ways, each lane keeping its own; a lane is declined only by the way
  // it takes.
  template <class F, class G>
  [[gnu::always_inline]] V Choose(Mask c, F f, G g) {
    const Mask before = declined;
    const V taken = f();
    const Mask after_taken = before | (declined & c);
    declined = before;
    const V other = g();
    declined = after_taken | (declined & ~c);
    return c ? taken : other;
  }
  [[gnu::always_inline]] V Exp(V x) { return el::Exp<S>(x, declined); }
  [[gnu::always_inline]] V Log(V x) { return el::Log<S>(x, declined); }
  [[gnu::always_inline]] V Sqrt(V x) {
    declined |= x < 0.0;
    return S::Sqrt(x);
  }
  [[gnu::always_inline]] V CubeRoot(V x) {
    const V sign = x >= 0.0 ? Constant(1.0) : Constant(-1.0);
    return sign * el::OneThirdPower<S>(Abs(x), declined);
  }
  [[gnu::always_inline]] void HalfIntegerPowers(V T, V& power_2_5, V& power_1_5) {
    el::SquareRootPowers<S>(T, power_1_5, power_2_5, declined);
  }
  static V RoundToSingle(V x) { return el::RoundToSingle<S>(x); }
  // A failing temperature term declines its lanes where it is computed.
  template <class Terms>
  void NotePowersFault(const Terms&) {}
  template <class Terms>
  void NoteExponentialsFault(const Terms&) {}
  // Z = 1 and the three-root branch: the scalar code's.
  V OtherLargestRoot(V, V, V, V, V) {
    declined = ~Mask{};
    return Constant(1.0);
  }
};

// The temperature terms with one value per lane.
template <class V>
using TemperatureLanes = internal::TemperatureValues<V>;

template <class S>
struct LaneKernel {
  using V = typename S::D;
  static constexpr int kLanes = S::kLanes;

  static std::uint64_t BitsOf(double x) {
    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
  }

  static V Load(const InColumn& c, std::size_t i) {
    if (c.stride == 0) return el::Splat<S>(c.data[0]);
    V v;
    if (c.stride == 1) {
      std::memcpy(&v, c.data + i, sizeof v);
    } else {
      for (int k = 0; k < kLanes; ++k) v[k] = c.data[(i + k) * c.stride];
    }
    return v;
  }

  // Every term in every lane: the terms are alike, so they go as an array.
  static TemperatureLanes<V> Broadcast(const TemperatureTerms& t) {
    using Doubles = std::array<double, internal::kTemperatureValueCount>;
    using Lanes = std::array<V, internal::kTemperatureValueCount>;
    static_assert(sizeof(internal::TemperatureValues<double>) == sizeof(Doubles) &&
                  sizeof(TemperatureLanes<V>) == sizeof(Lanes));
    const Doubles values =
        std::bit_cast<Doubles>(static_cast<const internal::TemperatureValues<double>&>(t));
    Lanes lanes;
    for (std::size_t k = 0; k < internal::kTemperatureValueCount; ++k)
      lanes[k] = el::Splat<S>(values[k]);
    return std::bit_cast<TemperatureLanes<V>>(lanes);
  }

  // Every lane's value of an output, at once where the column is contiguous.
  static void Put(const OutColumn& c, std::size_t i, const V& values) {
    if (!c.data) return;
    if (c.stride == 1) {
      std::memcpy(c.data + i, &values, sizeof values);
    } else {
      for (int k = 0; k < kLanes; ++k) c.data[(i + k) * c.stride] = values[k];
    }
  }

  static void Store(const Slice& s, std::size_t i, const StateOf<V>& state) {
    for (int j = 0; j < 3; ++j) {
      Put(s.phi[j], i, state.phi[j]);
      Put(s.ln_phi[j], i, state.ln_phi[j]);
    }
    Put(s.Z, i, state.Z);
    Put(s.V_cm3_per_mol, i, state.V_cm3_per_mol);
    for (int k = 0; k < kLanes; ++k) s.faults[i + k] = Fault{};
  }

  // The scalar terms of the last temperature shared by a whole block.
  struct SharedTemperature {
    TemperatureTerms terms{};
    std::uint64_t bits = 0;
    bool known = false;
    TemperatureLanes<V> lanes{};
  };

  // A block of kLanes states on their way through the method. Its
  // temperature terms are the shared ones where the shared ones serve it,
  // else its own: a block points at them rather than copying 14 vectors.
  struct Block {
    std::size_t i;
    bool one_temperature;
    std::uint64_t T_bits;  // the block's temperature, where it has one
    LaneOps<S> ops;
    const TemperatureLanes<V>* t;
    TemperatureLanes<V> own_t;
    V P_atm;
    std::array<V, 3> x;
    MixtureParametersOf<V> parameters;
    StateOf<V> state;
  };

  // The temperature terms: the shared ones where the block has one
  // temperature, worked out once per run of it; else one set per lane. And
  // the block's pressures and compositions. The shared terms are replaced
  // only while no block of the group (shared_in_use) still points at them: a
  // block whose one temperature differs from terms an earlier block of its
  // group uses works out its own in lanes, as a block of several does.
  static void Prepare(const Slice& s, SharedTemperature& shared, bool& shared_in_use, Block& b) {
    const V T_K = Load(s.T_K, b.i);
    b.one_temperature = true;
    if (s.T_K.stride != 0)
      for (int k = 1; k < kLanes; ++k) b.one_temperature &= BitsOf(T_K[k]) == BitsOf(T_K[0]);
    const bool shared_fit = shared.known && BitsOf(T_K[0]) == shared.bits;
    if (shared_in_use && !shared_fit) b.one_temperature = false;
    b.ops = {};
    if (b.one_temperature) {
      if (!shared_fit) {
        shared.terms = ComputeTemperatureTerms(T_K[0]);
        shared.bits = BitsOf(T_K[0]);
        shared.lanes = Broadcast(shared.terms);
        shared.known = true;
      }
      shared_in_use = true;
      b.T_bits = shared.bits;
      b.t = &shared.lanes;
      if (shared.terms.powers_fault || shared.terms.exponentials_fault)
        b.ops.declined = ~b.ops.declined;
    } else {
      TemperatureTermsT(b.ops, b.ops, T_K, b.own_t);
      b.t = &b.own_t;
    }
    b.P_atm = Load(s.P_atm, b.i);
    b.x = {Load(s.x_CO2, b.i), Load(s.x_H2O, b.i), Load(s.x_NaCl, b.i)};
  }

  // The method's four stages, as StateT runs them: the mixture's
  // coefficients, its Z (the unrounded method with the cancellation-free
  // root), the fugacity terms, and phi.
  [[gnu::always_inline]] static void CoefficientStage(Block& b) {
    b.parameters = MixtureCoefficientsT(b.ops, *b.t, b.x);
  }
  template <bool kRounded>
  [[gnu::always_inline]] static void RootStage(Block& b) {
    b.parameters.Z = MixtureZT<!kRounded>(b.ops, *b.t, b.P_atm, b.parameters);
  }
  template <bool kRounded>
  [[gnu::always_inline]] static void FugacityStage(Block& b) {
    const FugacityTermsOf<V> terms =
        FugacityTermsT<kRounded>(b.ops, *b.t, b.P_atm, b.x, b.parameters);
    b.state.ln_phi = terms.ln_phi;
    b.state.Z = b.parameters.Z;
    b.state.V_cm3_per_mol = terms.V_cm3_per_mol;
  }
  [[gnu::always_inline]] static void PhiStage(Block& b) {
    for (int j = 0; j < 3; ++j) b.state.phi[j] = b.ops.Exp(b.state.ln_phi[j]);
  }

  // Every lane is stored, then the declined ones are evaluated again by the
  // scalar code, which overwrites them.
  static void Finish(const Slice& s, const SharedTemperature& shared, const Block& b) {
    Store(s, b.i, b.state);
    const unsigned declined = S::Mask(b.ops.declined);
    for (int k = 0; declined != 0 && k < kLanes; ++k) {
      if (!(declined & (1u << k))) continue;
      if (b.one_temperature && shared.known && b.T_bits == shared.bits) {
        EvaluatePointScalar(s, b.i + k, shared.terms);
      } else {
        EvaluateScalar(s, b.i + k, b.i + k + 1);
      }
    }
  }

  // Blocks go through the method in groups, each stage over the whole group
  // before the next: the stages' long chains of dependent operations
  // (the elementary functions' kernels) of several blocks then overlap in the
  // processor. Each lane still meets its operations in the method's order.
  static constexpr int kGroup = 8;

  template <bool kRounded>
  static void EvaluateMethod(const Slice& s, std::size_t begin, std::size_t end) {
    SharedTemperature shared;
    std::array<Block, kGroup> blocks;
    std::size_t i = begin;
    while (i + kLanes <= end) {
      int count = 0;
      bool shared_in_use = false;
      for (; count < kGroup && i + kLanes <= end; ++count, i += kLanes) {
        blocks[count].i = i;
        Prepare(s, shared, shared_in_use, blocks[count]);
      }
      for (int b = 0; b < count; ++b) CoefficientStage(blocks[b]);
      for (int b = 0; b < count; ++b) RootStage<kRounded>(blocks[b]);
      for (int b = 0; b < count; ++b) FugacityStage<kRounded>(blocks[b]);
      for (int b = 0; b < count; ++b) PhiStage(blocks[b]);
      for (int b = 0; b < count; ++b) Finish(s, shared, blocks[b]);
    }
    if (i < end) EvaluateScalar(s, i, end);
  }

  static void Evaluate(const Slice& s, std::size_t begin, std::size_t end) {
    if (s.method == Method::kUnrounded) {
      EvaluateMethod<false>(s, begin, end);
    } else {
      EvaluateMethod<true>(s, begin, end);
    }
  }
};

}  // namespace quarn::batch
