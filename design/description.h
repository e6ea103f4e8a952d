// The designer's description of a frame with its dampers, read from TOML
// and checked key by key.  A description that cannot become a data file of
// the program is refused with the file, the line and the key named.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace design {

// A description, a command line or a computation that cannot go on: the
// message names where and what.
struct Refused : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// "FILE:LINE: KEY: what" (LINE left out when unknown).
std::string where(const std::string& file, int line, const std::string& key, const std::string& what);

struct TunedMass {
    int32_t storey = 0;  // 1-based
    double mass = 0.0;
    enum class Tuning { frequency_ratio, frequency, stiffness } tuning = Tuning::frequency_ratio;
    double tuning_value = 0.0;
    int32_t mode = 1;  // the frame's mode frequency_ratio refers to
    enum class Damping { damping_ratio, damping } damping = Damping::damping_ratio;
    double damping_value = 0.0;
    int line = 0;
};

struct Dashpot {
    int32_t storey = 0;
    double damping = 0.0;
};

struct Description {
    std::string path;  // as given, for messages
    std::string title;
    int32_t LK = 0;
    bool shear_frame = false;         // given by masses and stiffnesses
    std::vector<double> masses;       // shear frame only
    std::vector<double> stiffnesses;  // shear frame only
    std::vector<double> MR, KR;       // LK x LK, column-major, as written
    double GAMMA1 = 0.0, GAMMA2 = 0.0;
    std::vector<TunedMass> tmds;
    std::vector<Dashpot> dashpots;
    std::vector<double> PC, PS;
    double from = 0.0, to = 0.0, step = 0.0;
    std::vector<int32_t> plot;  // plotted unknowns, 1..3 of them
    std::string data, results, plot_file;
    int frame_line = 0;  // for refusals about the frame as a whole
    int range_line = 0;
};

// Reads and checks the description at path; throws Refused.
Description read_description(const std::string& path);

// Whether the program would take name as a device rather than a file.
bool names_device(const std::string& name);

}  // namespace design
