// Fuzz target for formatted input: a line read field after field with Ew.d
// and Iw, the widths and d taken from the input, with the floating-point
// traps of the real run enabled.
#include "textio/scan.h"

#include <cfenv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const int w = 1 + data[0] % 30;
    const int d = data[1] % 11;
    const uint8_t kinds = data[2];  // bit k: field k is Iw instead of Ew.d
    const std::string_view line(reinterpret_cast<const char*>(data + 3), size - 3);

    std::size_t pos = data[0] / 30 % 3;  // start at 0, 1 or 2, as after nX
    for (int field = 0;; ++field) {
        const std::size_t start = pos;
        bool blank = true;  // the field holds nothing but blanks and tabs
        std::string text;   // the field without its blanks and tabs
        for (std::size_t k = start; k < line.size() && k < start + static_cast<std::size_t>(w); ++k) {
            const char c = line[k];
            if (c == '\r' || c == '\n' || c == ',') break;
            if (c != ' ' && c != '\t') {
                blank = false;
                text.push_back(c);
            }
        }
        if ((kinds >> (field % 8)) & 1) {
            const textio::IntScan r = textio::read_i_field(line, pos, w);
            check(r.error == textio::ScanError::none || r.error == textio::ScanError::bad_integer ||
                  r.error == textio::ScanError::integer_range);
            if (blank) check(r.error == textio::ScanError::none && r.value == 0);
        } else {
            const textio::RealScan r = textio::read_e_field(line, pos, w, d);
            check(r.error == textio::ScanError::none || r.error == textio::ScanError::bad_real ||
                  r.error == textio::ScanError::real_range);
            if (r.error == textio::ScanError::none) check(std::isfinite(r.value));
            if (blank) check(r.error == textio::ScanError::none && r.value == 0.0);
            // With a written point, or no fraction implied, the field reads as
            // its text does in free-form input.
            if (!blank && (d == 0 || text.find('.') != std::string::npos)) {
                const textio::RealScan f = textio::scan_real(text);
                check(f.error == r.error);
                check(f.error != textio::ScanError::none || f.value == r.value);
            }
        }
        // A field takes at most w characters and never goes past the line.
        check(pos >= start && pos - start <= static_cast<std::size_t>(w));
        check(pos <= line.size() || pos == start);
        if (pos == start) {
            // Nothing taken: the line (or its text before a line end) is done.
            check(start >= line.size() || line[start] == '\r' || line[start] == '\n');
            break;
        }
    }
    return 0;
}
