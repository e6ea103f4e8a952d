// Modal analysis of the frame without dampers: the generalised symmetric
// eigenproblem KR x = lambda MR x, reduced in place in AE and diagonalised
// by plane rotations.
#pragma once

#include <cstdint>

// How the rotation iteration ended.  Not converging is a result, not a
// stop: the phase that asked for the modes decides what the run does.
enum class EigenStatus { converged, not_converged };

// AE (LK x LK2, column-major) set up for EIGEN: KR in columns 1..LK, MR in
// columns LK+1..LK2.
void load_eigenproblem(double* AE, const double* KR, const double* MR, int32_t LK);

// AE (LK x LK2, column-major): on entry KR in columns 1..LK and MR in
// columns LK+1..LK2; on return the eigenvalues on the diagonal of the
// stiffness block and the mass-normalised eigenvectors as the rows of the
// mass block.  Writes nothing; returns JACOBI's status.
[[nodiscard]] EigenStatus EIGEN(double* AE, const int32_t& LK, const int32_t& LK2);

// Rotation iteration on the leading N x N block of A (N x N2), carrying the
// columns N+1..N2 along.  Returns not_converged when 100 000 rotations
// have not settled it (see eigen.cpp); writes nothing.
[[nodiscard]] EigenStatus JACOBI(double* A, const int32_t& N, const int32_t& N2);
