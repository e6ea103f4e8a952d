// The one view of the model's matrices: column-major, numbered from 1 as
// the routines of the model number rows and columns.
#pragma once

#include <cstddef>

// Element (i, j) of a matrix of rows rows stored column by column at base;
// T is double or const double.  A view: it owns nothing.
template <class T>
class MatrixView {
public:
    MatrixView(T* base, std::ptrdiff_t rows) : base_(base), rows_(rows) {}
    T& operator()(std::ptrdiff_t i, std::ptrdiff_t j) const { return base_[(j - 1) * rows_ + (i - 1)]; }
    // Column j, from its first row.
    T* column(std::ptrdiff_t j) const { return base_ + (j - 1) * rows_; }

private:
    T* base_;
    std::ptrdiff_t rows_;
};

// Element (i, j) of the matrix of rows rows at a, for a single access.
template <class T>
T& at(T* a, std::ptrdiff_t rows, std::ptrdiff_t i, std::ptrdiff_t j) {
    return MatrixView<T>(a, rows)(i, j);
}
