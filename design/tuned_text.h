// A description retuned in place: the text the designer wrote, its
// comments, order and layout kept, with one tuned mass's tuning replaced.
#pragma once

#include <cstdint>
#include <string>

namespace design {

// The text of the description at path with tuned mass damper (1-based)
// tuned as frequency_ratio to the frame's mode `mode` and damping_ratio to
// its own frequency, both with six significant digits (as the data file
// carries them).  The keys that gave its spring (frequency_ratio,
// frequency or stiffness) and its dashpot (damping_ratio or damping) are
// replaced where they stand, `mode` is set or added beside the frequency
// ratio; every other byte is kept.  Throws Refused when the file cannot be
// read or parsed, holds no such tuned mass, or the edit would not read
// back as meant.
std::string tuned_text(const std::string& path, int32_t damper, int32_t mode, double frequency_ratio,
                       double damping_ratio);

// The same on a text already read; path names it in messages.
std::string tuned_text_of(const std::string& text, const std::string& path, int32_t damper, int32_t mode,
                          double frequency_ratio, double damping_ratio);

// A value with six significant digits, as a TOML number that reads back
// to the same six digits.
std::string six_digits(double v);

}  // namespace design
