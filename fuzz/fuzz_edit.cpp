// Fuzz target for output editing: Iw and Ew.d of arbitrary values and
// widths, each field compared with one built here by other means: the
// integer's text from the standard library, and the real's digits from its
// exact decimal expansion (std::to_chars with more digits than any double
// has), cut to 18 digits, the 18th rounding the 17th half up, then rounded
// half up to the digits shown.  Every real field that is not asterisks
// must also read back, with Ew.d input, to the double nearest its text.
// The step records' layouts, performed by their flat form, must give the
// general interpreter's records.
#include "layouts/layouts.h"
#include "textio/edit.h"
#include "textio/format.h"
#include "textio/scan.h"
#include "textio/statement.h"

#include <algorithm>
#include <bit>
#include <cfenv>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

std::string right_justified(const std::string& text, int w) {
    if (w <= 0) return "";
    if (text.size() > static_cast<std::size_t>(w)) return std::string(static_cast<std::size_t>(w), '*');
    return std::string(static_cast<std::size_t>(w) - text.size(), ' ') + text;
}

// Adds one to the last digit of s, carrying leftwards; true when the carry
// runs out of the first digit (s is then all zeros).
bool round_up(std::string& s) {
    for (std::size_t i = s.size(); i-- > 0;) {
        if (s[i] != '9') {
            ++s[i];
            return false;
        }
        s[i] = '0';
    }
    return true;
}

// The digits D1 D2 ... and exponent e of magnitude = 0.D1D2... x 10^e, to
// at most 17 digits, from the exact expansion.
void seventeen_digits(double magnitude, std::string& digits, int& e) {
    if (magnitude == 0.0) {
        digits = "0";
        e = 0;
        return;
    }
    char buf[1000];
    const auto r = std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::scientific, 800);
    check(r.ec == std::errc());
    const std::string text(buf, r.ptr);
    const std::size_t at = text.find('e');
    std::string all = text.substr(0, 1) + text.substr(2, at - 2);  // "d.ddd" without the point
    e = std::atoi(text.c_str() + at + 1) + 1;
    digits = all.substr(0, 17);
    if (all[17] >= '5' && round_up(digits)) {
        digits = "1" + std::string(16, '0');
        ++e;
    }
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
}

std::string expected_exp(double v, int w, int d) {
    if (w <= 0) return "";
    const uint64_t bits = std::bit_cast<uint64_t>(v);
    if (!std::isfinite(v)) {
        std::string t = std::isinf(v)                          ? "1#INF"
                        : bits == 0xFFF8000000000000u          ? "1#IND"
                        : (bits & 0x0008000000000000u) == 0    ? "1#SNAN"
                                                               : "1#QNAN";
        if (t.size() > static_cast<std::size_t>(w)) return std::string(static_cast<std::size_t>(w), '*');
        return t + std::string(static_cast<std::size_t>(w) - t.size(), '.');
    }
    const bool negative = v != 0.0 && std::signbit(v);
    // d digits, the point, four of the exponent and the sign: too wide is all asterisks.
    if (d < 1 || int64_t{d} + 5 + (negative ? 1 : 0) > w) return std::string(static_cast<std::size_t>(w), '*');
    std::string digits;
    int e = 0;
    seventeen_digits(std::fabs(v), digits, e);
    const std::size_t n = static_cast<std::size_t>(std::min(d, 16));
    if (digits.size() > n) {
        const bool up = digits[n] >= '5';
        digits.resize(n);
        if (up && round_up(digits)) {
            digits = "1" + std::string(n - 1, '0');
            ++e;
        }
    }
    std::string text = negative ? "-." : ".";
    text += digits + std::string(static_cast<std::size_t>(d) - digits.size(), '0');
    const int mag = std::abs(e);
    const std::string num = std::to_string(mag);
    text += mag <= 99 ? std::string("E") + (e < 0 ? "-" : "+") + (mag < 10 ? "0" : "") + num
                      : std::string(e < 0 ? "-" : "+") + num;
    return right_justified(text, w);
}

// The double nearest the text of a field ("-.ddddE+xx" or "-.dddd+xxx").
bool nearest(const std::string& field, double& value) {
    std::string t = field.substr(field.find_first_not_of(' '));
    const bool negative = t[0] == '-';
    if (negative) t.erase(0, 1);
    const std::size_t sign = t.find_first_of("+-", 1);
    std::string number = "0" + t.substr(0, t[sign - 1] == 'E' ? sign - 1 : sign) + "e" + t.substr(sign);
    const auto r = std::from_chars(number.data(), number.data() + number.size(), value);
    if (r.ec != std::errc() || r.ptr != number.data() + number.size()) return false;
    if (negative) value = -value;
    return true;
}

class Records final : public textio::RecordSink {
public:
    void put(std::string_view record) override { all.emplace_back(record); }
    std::vector<std::string> all;
};

// Items for a layout from the fuzzer's value: reals around it (its bits
// turned a little) and, where plot_row says, the unknowns' numbers.
void check_layouts(double v, int64_t i, std::size_t count) {
    // The data file's row record beside the layouts of the step records.
    static constexpr std::string_view kLayouts[] = {layouts::kValueList, "(10(2X,E12.6))", layouts::kPlotRow,
                                                    layouts::kStepHeading};
    for (std::size_t layout = 0; layout < std::size(kLayouts); ++layout) {
        const bool plot_row = layout == 2;
        std::vector<textio::Out> items;
        for (std::size_t k = 0; k < count; ++k) {
            if (plot_row && k % 4 == 0 && k > 0)
                items.emplace_back(static_cast<int32_t>(i >> (k % 32)));
            else
                items.emplace_back(std::bit_cast<double>(std::bit_cast<uint64_t>(v) ^ (k * 0x9E3779B97F4A7C15u >> 40)));
        }
        const textio::FormatProgram p = textio::parse_format(kLayouts[layout]);
        check(p.flat.has_value() && textio::flat_fits(*p.flat, items.data(), items.size()));
        Records flat, general;
        textio::format_flat(*p.flat, items.data(), items.size(), flat);
        check(!textio::format_interpreted(p, items.data(), items.size(), general).has_value());
        check(flat.all == general.all);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 18) return 0;
    double v;
    int64_t i;
    std::memcpy(&v, data, 8);
    std::memcpy(&i, data + 8, 8);
    const int w = data[16] % 72 - 1;                               // -1 to 70
    const int d = data[17] == 255 ? 1000000 : data[17] % 40 - 1;  // -1 to 38, or the largest a format takes

    std::string rec = "x";
    textio::edit_int(rec, i, w);
    check(rec == "x" + right_justified(std::to_string(i), w));

    rec = "x";
    textio::edit_exp(rec, v, w, d);
    const std::string want = expected_exp(v, w, d);
    check(rec == "x" + want);

    double shown = 0.0;
    if (std::isfinite(v) && !want.empty() && want.back() != '*' && nearest(want, shown)) {
        std::size_t pos = 0;
        const textio::RealScan r = textio::read_e_field(want, pos, w, d);
        check(r.error == textio::ScanError::none && r.value == shown && pos == want.size());
    }
    check_layouts(v, i, data[16] % 24);
    return 0;
}
