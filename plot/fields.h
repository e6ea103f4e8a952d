// The fields of one record of the program's files read back strictly:
// every field must be there and hold a number, because a blank or missing
// field that input editing would take as 0.0 means a file that was cut or
// altered, and a curve drawn through invented zeros would mislead.  The
// numbers are read with the program's own Ew.d and Iw input editing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "layouts/layouts.h"
#include "textio/scan.h"

namespace plot::fields {

// One field of a record: two blanks, then twelve characters (Ew.d) or
// three (Iw), as the writer's formats lay them out.
using layouts::kGap;
using layouts::kIntWidth;
using layouts::kRealDigits;
using layouts::kRealField;
using layouts::kRealWidth;

struct Line {
    std::string_view text;  // without its line end
    long number;            // 1-based
};

// The lines of a file; a line end is CR LF, LF or CR.  A last line without
// a line end was cut off while it was being written: it is left out.
// Without the blanks and tabs around it (a plain scan: every line of a
// large file passes here).
inline std::string_view trim(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    std::size_t b = 0, e = s.size();
    while (b < e && blank(s[b])) ++b;
    while (e > b && blank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

// A piece of a line as a message shows it: in quotes, long ones cut.
inline std::string quoted(std::string_view s) {
    constexpr std::size_t kShown = 60;
    std::string q = "\"";
    q += s.substr(0, kShown);
    if (s.size() > kShown) q += "...";
    return q + "\"";
}

// Where a message points: "NAME:LINE: ".
class Reporter {
public:
    explicit Reporter(std::string_view name) : name_(name) {}
    std::string at(const Line& l, const std::string& what) const {
        return std::string(name_) + ":" + std::to_string(l.number) + ": " + what;
    }
    std::string whole(const std::string& what) const { return std::string(name_) + ": " + what; }

private:
    std::string_view name_;
};

inline const char* scan_error_text(textio::ScanError e) {
    switch (e) {
    case textio::ScanError::real_range: return "number out of range";
    case textio::ScanError::integer_range: return "integer out of range";
    case textio::ScanError::bad_integer: return "invalid integer";
    default: return "invalid real number";
    }
}

// Reads the fields of one line at pos; the first failure is kept as the
// message of the whole line.
class FieldReader {
public:
    FieldReader(const Line& line, const Reporter& rep) : line_(line), rep_(rep) {}
    FieldReader(Line&&, const Reporter&) = delete;  // it keeps a reference to the line

    double real() { return field<double>(kRealWidth); }
    int32_t integer() { return field<int32_t>(kIntWidth); }
    bool at_end() const { return pos_ == line_.text.size(); }

    // n blanks that stand between fields.
    void blanks(std::size_t n) {
        if (!error_.empty()) return;
        if (line_.text.size() < pos_ + n || !trim(line_.text.substr(pos_, n)).empty()) {
            error_ = rep_.at(line_, "expected blanks at column " + std::to_string(pos_ + 1) + ": " +
                                        quoted(line_.text));
            return;
        }
        pos_ += n;
    }
    const std::string& error() const { return error_; }

private:
    template <class T>
    T field(int width) {
        if (!error_.empty()) return T{};
        const std::string_view t = line_.text;
        const std::size_t w = static_cast<std::size_t>(width);
        if (t.size() < pos_ + kGap + w || trim(t.substr(pos_, kGap)).size() != 0) {
            error_ = rep_.at(line_, "expected a field of " + std::to_string(width) +
                                        " characters behind two blanks at column " +
                                        std::to_string(pos_ + 1) + ": " + quoted(t));
            return T{};
        }
        pos_ += kGap;
        const std::string_view text = t.substr(pos_, w);
        if (trim(text).empty()) {
            error_ = rep_.at(line_, "blank field at column " + std::to_string(pos_ + 1) + ": " + quoted(t));
            return T{};
        }
        std::size_t p = pos_;
        T value{};
        textio::ScanError e;
        if constexpr (std::is_same_v<T, double>) {
            const textio::RealScan r = textio::read_e_field(t, p, width, kRealDigits);
            value = r.value;
            e = r.error;
        } else {
            const textio::IntScan r = textio::read_i_field(t, p, width);
            value = r.value;
            e = r.error;
        }
        // A comma would end the field early: the field is then not the number written there.
        if (e == textio::ScanError::none && p != pos_ + w) e = textio::ScanError::bad_real;
        if (e != textio::ScanError::none) {
            error_ = rep_.at(line_, std::string(scan_error_text(e)) + " " + quoted(trim(text)));
            return T{};
        }
        pos_ += w;
        return value;
    }

    const Line& line_;
    const Reporter& rep_;
    std::size_t pos_ = 0;
    std::string error_;
};

}  // namespace plot::fields
