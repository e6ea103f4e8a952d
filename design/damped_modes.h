// The modes of the damped system, frame and dampers together: the roots s
// of (s^2 MS + s CS + KS) x = 0.
#pragma once

#include <cstdint>
#include <vector>

namespace design {

// A conjugate pair s = -decay_rate +- i damped_frequency, or a real root
// s = -decay_rate: an overdamped motion, no vibration at all.
struct DampedMode {
    double frequency = 0.0;         // |s|, rad/s: the undamped-equivalent frequency
    double damping_ratio = 0.0;     // -Re(s) / |s| (1 for a real root)
    double damped_frequency = 0.0;  // Im(s), rad/s; 0 for a real root
    double decay_rate = 0.0;        // -Re(s), 1/s
    bool overdamped = false;        // a real root
};

// One mode per conjugate pair (Im s > 0) and one per real root, in
// ascending frequency.  MS must be positive definite; the matrices are
// NU x NU, column-major.  Empty when the eigenvalues could not be found.
std::vector<DampedMode> damped_modes(int32_t NU, const std::vector<double>& MS, const std::vector<double>& CS,
                                     const std::vector<double>& KS);

}  // namespace design
