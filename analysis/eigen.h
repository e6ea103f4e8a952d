// Modal analysis of the frame without dampers: the generalised symmetric
// eigenproblem KR x = lambda MR x, reduced in place in AE and diagonalised
// by plane rotations.
#pragma once

#include <cstdint>

// AE (LK x LK2, column-major): on entry KR in columns 1..LK and MR in
// columns LK+1..LK2; on return the eigenvalues on the diagonal of the
// stiffness block and the mass-normalised eigenvectors as the rows of the
// mass block.
void EIGEN(double* AE, const int32_t& LK, const int32_t& LK2);

// Rotation iteration on the leading N x N block of A (N x N2), carrying the
// columns N+1..N2 along.  Ends the run with "BRAK ZBIEZNOSCI ZAGADNIENIA
// WLASNEGO" when 100 000 rotations have not converged (see eigen.cpp).
void JACOBI(double* A, const int32_t& N, const int32_t& N2);
