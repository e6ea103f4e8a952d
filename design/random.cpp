#include "design/random.h"

#include <Eigen/Cholesky>
#include <Eigen/Eigenvalues>
#include <cmath>
#include <complex>
#include <numbers>

#include "design/damped_modes.h"
#include "design/plot_link.h"
#include "design/response.h"

namespace design {

namespace {

// A mode whose damping ratio is at or below this is undamped: its
// variance under white noise is infinite (or, rounded, meaninglessly
// large).
constexpr double kUndamped = 1e-10;

}  // namespace

Eigen::MatrixXd lyapunov(const Eigen::MatrixXd& A, const Eigen::MatrixXd& Q) {
    using CM = Eigen::MatrixXcd;
    const Eigen::Index n = A.rows();
    // A = U T U*, T upper triangular: T Y + Y T* = F with F = -U* Q U and
    // X = U Y U*.  Column j of Y T* takes columns j..n-1 of Y, so the
    // columns are found from the last: (T + conj(t_jj) I) y_j =
    // f_j - sum_{k>j} conj(t_jk) y_k, a triangular solve each.
    const Eigen::ComplexSchur<Eigen::MatrixXd> schur(A);
    if (schur.info() != Eigen::Success) return {};
    const CM& T = schur.matrixT();
    const CM& U = schur.matrixU();
    const CM F = -(U.adjoint() * Q.cast<std::complex<double>>() * U);
    CM Y = CM::Zero(n, n);
    for (Eigen::Index j = n - 1; j >= 0; --j) {
        Eigen::VectorXcd rhs = F.col(j);
        for (Eigen::Index k = j + 1; k < n; ++k) rhs -= std::conj(T(j, k)) * Y.col(k);
        CM S = T;
        S.diagonal().array() += std::conj(T(j, j));
        Y.col(j) = S.triangularView<Eigen::Upper>().solve(rhs);
    }
    Eigen::MatrixXd X = (U * Y * U.adjoint()).real();
    if (!X.allFinite()) return {};
    return (X + X.transpose()) / 2;
}

RandomResponse random_response(const Model& m, const std::string& file) {
    using Eigen::MatrixXd;
    const Eigen::Index NU = m.NU, LK = m.LK, n = 2 * NU;
    const std::vector<DampedMode> modes = damped_modes(m.NU, m.MS, m.CS, m.KS);
    if (modes.empty()) throw Refused(file + ": the modes of the damped system could not be computed");
    for (std::size_t i = 0; i < modes.size(); ++i)
        if (!(modes[i].damping_ratio > kUndamped))
            throw Refused(file + ": mode " + std::to_string(i + 1) + " of the damped system (frequency " +
                          shortest_text(modes[i].frequency) +
                          " rad/s) is undamped: its variance under white noise is infinite");

    const Eigen::Map<const MatrixXd> M(m.MS.data(), NU, NU), C(m.CS.data(), NU, NU), K(m.KS.data(), NU, NU);
    const Eigen::LLT<MatrixXd> llt(M);
    const MatrixXd MiK = llt.solve(K), MiC = llt.solve(C);
    MatrixXd A = MatrixXd::Zero(n, n);
    A.topRightCorner(NU, NU).setIdentity();
    A.bottomLeftCorner(NU, NU) = -MiK;
    A.bottomRightCorner(NU, NU) = -MiC;

    // The noise enters the velocities: B W B^T with W = 2 pi diag(S).
    MatrixXd B, W;
    MatrixXd loads;  // M^-1 L: how force noise reaches the accelerations
    if (m.random_ground) {
        B = MatrixXd::Zero(n, 1);
        for (Eigen::Index i = 0; i < NU; ++i) B(NU + i, 0) = -m.influence[static_cast<std::size_t>(i)];
        W = MatrixXd::Constant(1, 1, 2 * std::numbers::pi * m.ground_psd);
    } else {
        MatrixXd L = MatrixXd::Zero(NU, LK);
        L.topRows(LK).setIdentity();
        loads = llt.solve(L);
        B = MatrixXd::Zero(n, LK);
        B.bottomRows(NU) = loads;
        W = MatrixXd::Zero(LK, LK);
        for (Eigen::Index j = 0; j < LK; ++j) W(j, j) = 2 * std::numbers::pi * m.force_psd[static_cast<std::size_t>(j)];
    }
    const MatrixXd P = lyapunov(A, B * W * B.transpose());
    if (P.size() == 0) throw Refused(file + ": the covariance of the response could not be computed");

    RandomResponse r;
    auto row = [&](const std::string& name, const Eigen::RowVectorXd& c) {
        const double var = c * P * c.transpose();
        r.rows.push_back({name, std::sqrt(std::max(var, 0.0))});
    };
    auto unit = [&](Eigen::Index i) {
        Eigen::RowVectorXd c = Eigen::RowVectorXd::Zero(n);
        if (i >= 0) c(i) = 1.0;
        return c;
    };
    for (Eigen::Index k = 0; k < NU; ++k) row("amplitude_" + std::to_string(k + 1), unit(k));
    // The absolute acceleration -M^-1 (K u + C u') under ground noise, and
    // the same plus M^-1 L w under force noise: white where the noise
    // reaches it, so of infinite variance.
    double largest = 0.0;
    for (Eigen::Index i = 0; i < loads.size(); ++i) largest = std::max(largest, std::fabs(loads.data()[i]));
    for (Eigen::Index k = 0; k < NU; ++k) {
        const std::string name = "acceleration_" + std::to_string(k + 1);
        bool white = false;
        for (Eigen::Index j = 0; j < loads.cols(); ++j)
            white = white || (std::fabs(loads(k, j)) > 1e-12 * largest && W(j, j) > 0);
        if (white) {
            r.left_out.push_back(name);
            continue;
        }
        Eigen::RowVectorXd c(n);
        c << -MiK.row(k), -MiC.row(k);
        row(name, c);
    }
    for (std::size_t t = 0; t < m.tmd_storey.size(); ++t)
        row("stroke_" + std::to_string(t + 1), unit(LK + static_cast<Eigen::Index>(t)) - unit(m.tmd_storey[t] - 1));
    if (m.shear_frame) {
        for (Eigen::Index k = 0; k < LK; ++k) row("drift_" + std::to_string(k + 1), unit(k) - unit(k - 1));
        for (Eigen::Index k = 0; k < static_cast<Eigen::Index>(m.heights.size()); ++k)
            row("drift_ratio_" + std::to_string(k + 1),
                (unit(k) - unit(k - 1)) / m.heights[static_cast<std::size_t>(k)]);
    }
    if (!m.influence.empty()) {
        const Eigen::Map<const Eigen::VectorXd> rv(m.influence.data(), NU);
        Eigen::RowVectorXd c(n);
        c << rv.transpose() * K, rv.transpose() * C;
        row("base_shear", c);
    }
    return r;
}

std::string random_csv(const RandomResponse& r) {
    std::string out = "quantity,rms\n";
    for (const RandomRow& row : r.rows) out += row.quantity + "," + shortest_text(row.rms) + "\n";
    return out;
}

}  // namespace design
