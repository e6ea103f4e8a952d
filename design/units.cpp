#include "design/units.h"

namespace design {

std::string unit_of(Units u, Dimension d) {
    if (d == Dimension::frequency) return "rad/s";
    if (d == Dimension::hz) return "Hz";
    if (u == Units::none || d == Dimension::ratio) return "";
    const bool si = u == Units::N_kg_m_s;
    switch (d) {
        case Dimension::length: return "m";
        case Dimension::acceleration: return "m/s²";
        case Dimension::force: return si ? "N" : "kN";
        case Dimension::stiffness: return si ? "N/m" : "kN/m";
        case Dimension::mass: return si ? "kg" : "t";
        default: return "";
    }
}

std::string in_brackets(Units u, Dimension d) {
    const std::string s = unit_of(u, d);
    return s.empty() ? s : " [" + s + "]";
}

Dimension dimension_of(const std::string& curve) {
    if (curve.rfind("acceleration_", 0) == 0) return Dimension::acceleration;
    if (curve.rfind("drift_ratio_", 0) == 0) return Dimension::ratio;
    if (curve == "base_shear") return Dimension::force;
    return Dimension::length;
}

std::string system_name(Units u) {
    switch (u) {
        case Units::kN_t_m_s: return "kN-t-m-s";
        case Units::N_kg_m_s: return "N-kg-m-s";
        default: return "";
    }
}

}  // namespace design
