// Fuzz target for the free-form reader: the input is split into the lines of
// one statement, tokenized, and every value is converted both ways, with the
// floating-point traps of the real run enabled.
#include "textio/scan.h"

#include <cfenv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

bool is_separator(char c) {
    return c == ' ' || c == '\t' || c == ',' || c == '/' || c == '\r' || c == '\n';
}

bool within(std::string_view part, std::string_view whole) {
    return part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size();
}

void convert(std::string_view text) {
    const textio::IntScan i = textio::scan_int(text);
    check(i.error == textio::ScanError::none || i.error == textio::ScanError::bad_integer ||
          i.error == textio::ScanError::integer_range);
    const textio::RealScan r = textio::scan_real(text);
    check(r.error == textio::ScanError::none || r.error == textio::ScanError::bad_real ||
          r.error == textio::ScanError::real_range);
    if (r.error == textio::ScanError::none) check(std::isfinite(r.value));
    // A decimal integer is a real of the same value (every 32-bit integer is
    // a double exactly).
    if (i.error == textio::ScanError::none && text.find('#') == std::string_view::npos) {
        check(r.error == textio::ScanError::none);
        check(r.value == static_cast<double>(i.value));
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    textio::FreeTokenizer tk;
    tk.start_statement();
    std::size_t begin = 0;
    while (begin <= input.size()) {
        std::size_t end = input.find('\n', begin);
        if (end == std::string_view::npos) end = input.size();
        const std::string_view line = input.substr(begin, end - begin);
        begin = end + 1;

        tk.start_line(line);
        // Every token but the line end takes at least one character.
        std::size_t budget = line.size() + 1;
        for (;;) {
            check(budget-- > 0);
            const textio::FreeToken t = tk.next();
            if (t.kind == textio::FreeToken::end_of_line) {
                check(tk.next().kind == textio::FreeToken::end_of_line);
                break;
            }
            if (t.kind == textio::FreeToken::slash) return 0;
            if (t.kind == textio::FreeToken::error) {
                check(t.fault != textio::ScanError::none);
                check(!t.text.empty() && within(t.text, line));
                return 0;
            }
            check(t.repeat >= 1);
            if (t.kind == textio::FreeToken::null) continue;
            check(t.kind == textio::FreeToken::value);
            check(!t.text.empty() && within(t.text, line));
            check(t.text.front() != '\'' && t.text.front() != '"' && t.text.front() != '(');
            for (const char c : t.text) check(!is_separator(c));
            // The text ends at a separator or at the line's end.
            const std::size_t after = static_cast<std::size_t>(t.text.data() - line.data()) + t.text.size();
            check(after == line.size() || is_separator(line[after]));
            convert(t.text);
        }
    }
    return 0;
}
