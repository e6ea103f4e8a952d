// The designer's description of a frame with its dampers, read from TOML
// and checked key by key.  A description that cannot become a data file of
// the program is refused with the file, the line and the key named.
#pragma once

#include <cstdint>
#include <map>
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

// The unit system a description declares; none: lengths, masses and
// forces unnamed.
enum class Units { none, kN_t_m_s, N_kg_m_s };

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
    // The frame's influence vector (1 per storey for a shear frame; empty
    // for a frame given by matrices without `influence`), storey heights
    // (shear frames, optional).
    std::vector<double> influence, heights;
    Units units = Units::none;
    // The harmonic load: storey forces [force], or the ground's
    // acceleration A cos + B sin [ground]; neither when the description
    // has no such table.
    bool has_force = false, has_ground = false;
    std::vector<double> PC, PS;
    double ground_cos = 0.0, ground_sin = 0.0;
    int load_line = 0;
    // White noise [random]: storey forces' densities, or the ground's.
    bool has_random = false;
    std::vector<double> force_psd;
    double ground_psd = 0.0;
    bool random_ground = false;
    int random_line = 0;
    bool has_sweep = false;
    double from = 0.0, to = 0.0, step = 0.0;
    std::vector<int32_t> plot;  // plotted unknowns, 1..3 of them
    std::string data, results, plot_file;
    int frame_line = 0;  // for refusals about the frame as a whole
    int range_line = 0;
    // The lines of the frame's keys and the sweep's step ("frame.masses",
    // "sweep.step"), for later refusals that name one of them.
    std::map<std::string, int> key_lines;
    int line_of(const std::string& key) const {
        const auto it = key_lines.find(key);
        return it == key_lines.end() ? 0 : it->second;
    }
    // What the description most likely means otherwise, said on standard
    // error while the command goes on ("FILE:LINE: KEY: what").
    std::vector<std::string> warnings;
};

// Reads and checks the description at path; throws Refused.
Description read_description(const std::string& path);

// Refuses a description that lacks the table a command needs ("sweep",
// "force", "load" for [force] or [ground], "random").
void require_table(const Description& d, const std::string& table);

// Whether the program would take name as a device rather than a file.
bool names_device(const std::string& name);

}  // namespace design
