#include "equilibrium/phase_model.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quarn::equilibrium {

double SaltFractionOfSolvent(double W) {
  const double salt = W / kMolarMassNaCl;
  const double water = (100.0 - W) / kMolarMassH2O;
  return salt / (salt + water);
}

Species PresentIn(const Vector& z) {
  Species s;
  for (int i = 0; i < 3; ++i) {
    s.present[i] = z[i] > 0.0;
    if (s.present[i]) s.index[s.count++] = i;
  }
  return s;
}

bool Model::LnFugacity(const Vector& y, const Species& species, Vector& ln_f, Vector& ln_phi) {
  ++evaluations;
  const Evaluation e = conditions_.Evaluate(ToComposition(y), Method::kUnrounded);
  if (e.fault) {
    if (!fault) fault = e.fault;
    return false;
  }
  for (int i = 0; i < 3; ++i) {
    ln_phi[i] = e.result.ln_phi[i];
    ln_f[i] = species.present[i] ? elementary::CorrectlyRoundedLog(y[i]) + ln_phi[i]
                                 : -std::numeric_limits<double>::infinity();
    if (species.present[i] && !std::isfinite(ln_f[i])) return false;
  }
  return true;
}

Evaluation Model::ReportExact(const Vector& y) const {
  return conditions_.Evaluate(ToComposition(y), Method::kReportExact);
}

bool Model::LnPhiDerivatives(const Vector& y, const Species& species, Matrix& derivatives) {
  ++evaluations;
  const EvaluationWithDerivatives e = conditions_.EvaluateWithDerivatives(ToComposition(y));
  if (e.evaluation.fault) {
    if (!fault) fault = e.evaluation.fault;
    return false;
  }
  // With x = n / N over the present species, d ln phi_i / d ln n_j =
  // x_j (d_j - sum_k x_k d_k) ln phi_i, d_k the partial derivative in x_k.
  derivatives = {};
  for (int r = 0; r < species.count; ++r) {
    const int i = species.index[r];
    const auto& d = e.d_ln_phi_d_x[i];
    double mean = 0.0;
    for (int c = 0; c < species.count; ++c) mean += y[species.index[c]] * d[species.index[c]];
    for (int c = 0; c < species.count; ++c) {
      const int j = species.index[c];
      derivatives[i][j] = y[j] * (d[j] - mean);
      if (!std::isfinite(derivatives[i][j])) return false;
    }
  }
  return true;
}

}  // namespace quarn::equilibrium
