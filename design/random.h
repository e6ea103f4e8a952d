// The stationary response to white noise: the standard deviation of every
// curve of the response (displacements relative to the ground, absolute
// accelerations, strokes, drifts, drift ratios, base shear), from the
// covariance of the state-space form of the whole damped system.
//
// Convention: two-sided spectral densities per rad/s.  A load of density
// S0 has a variance equal to the integral of S0 over all frequencies, and
// a response's variance is the integral of |H(lambda)|^2 S0 over all
// frequencies.
#pragma once

#include <string>
#include <vector>

#include <Eigen/Dense>

#include "design/model.h"

namespace design {

// X solving A X + X A^T + Q = 0 for a stable A (every eigenvalue with a
// negative real part) and a symmetric Q, by Bartels and Stewart's method
// on the complex Schur form of A.  Empty when it cannot be solved.
Eigen::MatrixXd lyapunov(const Eigen::MatrixXd& A, const Eigen::MatrixXd& Q);

struct RandomRow {
    std::string quantity;  // response's column name
    double rms = 0.0;
};

struct RandomResponse {
    std::vector<RandomRow> rows;
    // The absolute accelerations left out: a storey loaded by force noise
    // has infinite variance there.
    std::vector<std::string> left_out;
};

// Throws Refused (naming file) for a system with an undamped mode.
RandomResponse random_response(const Model& m, const std::string& file);

// CSV quantity,rms.
std::string random_csv(const RandomResponse& r);

}  // namespace design
