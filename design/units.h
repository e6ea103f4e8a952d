// The units a description declares, named in the text outputs and the
// pictures' axes.  Without a declared system lengths, masses and forces
// stay unnamed; frequencies are always rad/s or Hz.
#pragma once

#include <string>

#include "design/description.h"

namespace design {

enum class Dimension { length, acceleration, force, stiffness, mass, ratio, frequency, hz };

// The unit's symbol ("m", "kN", ...), empty when it cannot be named.
std::string unit_of(Units u, Dimension d);

// " [symbol]", or empty.
std::string in_brackets(Units u, Dimension d);

// What a curve or row of response, peaks and random measures, by its
// column name (amplitude_k, acceleration_k, stroke_t, drift_k,
// drift_ratio_k, base_shear).
Dimension dimension_of(const std::string& curve);

// The name of the unit system for the outputs' headings, empty for none.
std::string system_name(Units u);

}  // namespace design
