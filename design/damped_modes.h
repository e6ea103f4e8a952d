// The modes of the damped system, frame and dampers together: the roots s
// of (s^2 MS + s CS + KS) x = 0.
#pragma once

#include <cstdint>
#include <vector>

namespace design {

struct DampedMode {
    double frequency = 0.0;      // |s|, rad/s
    double damping_ratio = 0.0;  // -Re(s) / |s|
};

// One mode per conjugate pair (Im s > 0) and one per real root, in
// ascending frequency.  MS must be positive definite; the matrices are
// NU x NU, column-major.  Empty when the eigenvalues could not be found.
std::vector<DampedMode> damped_modes(int32_t NU, const std::vector<double>& MS, const std::vector<double>& CS,
                                     const std::vector<double>& KS);

}  // namespace design
