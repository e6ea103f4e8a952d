// Statements: one formatted write, one formatted read or one free-form
// read on a unit.  The small surface every other part of the system uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "textio/units.h"

namespace textio {

// An output item: a 32-bit integer or a 64-bit real.
struct Out {
    enum Kind : uint8_t { integer, real } kind;
    int32_t i = 0;
    double r = 0.0;
    constexpr Out() : kind(real) {}
    constexpr Out(int32_t v) : kind(integer), i(v) {}  // NOLINT: items convert implicitly
    constexpr Out(double v) : kind(real), r(v) {}      // NOLINT
};

// An input item: where a value goes.
struct In {
    enum Kind : uint8_t { integer, real, chars } kind;
    void* p;
    int32_t len = 0;  // length of a character variable
    In() : kind(real), p(nullptr) {}
    In(int32_t& v) : kind(integer), p(&v) {}  // NOLINT: items convert implicitly
    In(double& v) : kind(real), p(&v) {}      // NOLINT
    In(char* s, int32_t n) : kind(chars), p(s), len(n) {}
};

// Output statement: performs fmt over the items and delivers its records.
void write_fmt(int unit, std::string_view fmt, const Out* items, std::size_t count);
inline void write_fmt(int unit, std::string_view fmt, std::initializer_list<Out> items = {}) {
    write_fmt(unit, fmt, items.begin(), items.size());
}

// Formatted input statement.
void read_fmt(int unit, std::string_view fmt, const In* items, std::size_t count);
inline void read_fmt(int unit, std::string_view fmt, std::initializer_list<In> items) {
    read_fmt(unit, fmt, items.begin(), items.size());
}

// Free-form (list-directed) input statement; with no items it takes one
// line and discards it.
void read_free(int unit, const In* items, std::size_t count);
inline void read_free(int unit, std::initializer_list<In> items = {}) {
    read_free(unit, items.begin(), items.size());
}

// Where a message about an input value says it stood: " in line " and the
// number of the line last taken from a file unit; nothing on the console.
std::string in_line(int unit);

}  // namespace textio
