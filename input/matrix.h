// Matrix entry at the console, matrix listings in the results file, and
// the row records of the data file.
#pragma once

#include <cstdint>
#include <string_view>

#include "layouts/layouts.h"

// Units of the run.
inline constexpr int kDataUnit = 1;
inline constexpr int kResultsUnit = 2;
inline constexpr int kPlotUnit = 3;

// The layout of one matrix row or one vector in the data file.
inline constexpr std::string_view kRowRecord = layouts::kDataRow;

// The rule of plus signs between the parts of the results file.
inline constexpr const char* kSeparator = "(2X,70('+'))";

// Enters the N x M matrix A at the console by its matrix type code.
void MATIN(const int32_t& N, const int32_t& M, double* A);

// Lists the N x M matrix A in the results file, four columns to a band.
void MATOUT(const double* A, const int32_t& N, const int32_t& M);

// Reads the N x M matrix A from the data file as N row records.
void MATRD(const int32_t& N, const int32_t& M, double* A);

// Row I (1-based) of the N x M matrix A: written to the data file as one
// row record, or read from it.
void write_row(const double* A, int32_t N, int32_t M, int32_t I);
void read_row(double* A, int32_t N, int32_t M, int32_t I);

// A vector of n values as one statement of fmt on unit.
void write_vector(int unit, std::string_view fmt, const double* v, int32_t n);
