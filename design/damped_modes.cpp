#include "design/damped_modes.h"

#include <Eigen/Cholesky>
#include <Eigen/Eigenvalues>
#include <algorithm>
#include <cmath>
#include <complex>

namespace design {

std::vector<DampedMode> damped_modes(int32_t NU, const std::vector<double>& MS, const std::vector<double>& CS,
                                     const std::vector<double>& KS) {
    using Eigen::MatrixXd;
    const Eigen::Map<const MatrixXd> M(MS.data(), NU, NU), C(CS.data(), NU, NU), K(KS.data(), NU, NU);
    // The first-order form z' = A z with z = (x, x'): A = [0, I; -M^-1 K, -M^-1 C].
    const Eigen::LLT<MatrixXd> llt(M);
    if (llt.info() != Eigen::Success) return {};
    MatrixXd A = MatrixXd::Zero(2 * NU, 2 * NU);
    A.topRightCorner(NU, NU).setIdentity();
    A.bottomLeftCorner(NU, NU) = -llt.solve(K);
    A.bottomRightCorner(NU, NU) = -llt.solve(C);
    const Eigen::EigenSolver<MatrixXd> solver(A, false);
    if (solver.info() != Eigen::Success) return {};
    std::vector<DampedMode> modes;
    for (const std::complex<double>& s : solver.eigenvalues()) {
        // A pair's lower member is its conjugate; a real root stands alone
        // (the real Schur form leaves its imaginary part exactly zero).
        if (s.imag() < 0) continue;
        DampedMode m;
        m.frequency = std::abs(s);
        m.damping_ratio = m.frequency > 0 ? -s.real() / m.frequency : 1.0;
        m.damped_frequency = s.imag();
        m.decay_rate = -s.real();
        m.overdamped = s.imag() == 0;
        modes.push_back(m);
    }
    std::stable_sort(modes.begin(), modes.end(),
                     [](const DampedMode& a, const DampedMode& b) { return a.frequency < b.frequency; });
    return modes;
}

}  // namespace design
