// The table of units that the rooms of the layer share: what a connected
// unit holds, and the few things every room needs of it.  Inside the
// layer only.
#pragma once

#include <atomic>
#include <climits>
#include <cstddef>
#include <string>
#include <string_view>
#include <sys/types.h>

#include "textio/units.h"

namespace textio {

enum class UnitKind { none, file, console, err, null };

struct Unit {
    UnitKind kind = UnitKind::none;
    char name[kNameUsed + 1] = {};
    std::size_t name_len = 0;
    int fd = -1;
    bool regular = false;
    dev_t dev = 0;
    ino_t ino = 0;
    // Output: whether the file has been cut at its position since the open
    // or the last input (the records themselves wait in the record buffer).
    bool writing = false;
    bool err_pending = false;  // the standard-error device's own line end
    bool can_read = true;      // false when the file could be opened for writing only
    bool can_write = true;     // false when it could be opened for reading only
    bool created = false;      // the open made the file: it did not exist before
    // Records held in memory until release_records: the file keeps its
    // earlier contents until the whole of them can replace it at once.
    bool held = false;
    std::string held_bytes;
    // Input: raw bytes read ahead, lines taken so far and the file position
    // just behind the last line taken.
    std::string ibuf;
    std::size_t ipos = 0;
    bool at_eof = false;
    // A pipe read through a read-only descriptor: until its first bytes
    // have come, its end of file only means that no writer has come yet.
    bool await_writer = false;
    off_t consumed = 0;
    long lineno = 0;
    std::string line;
};

// A file made by this run's open, removed at the end of the run if it then
// holds no record.  Fixed storage: the interrupt handler reads it.
struct Transient {
    std::atomic<bool> armed{false};
    char path[PATH_MAX] = {};
};

Unit& unit_at(int number);
Transient& transient_at(int number);
bool is_console(int number);
std::string_view name_of(int number);
inline constexpr std::string_view kConsoleName = "CON";

std::string_view trim(std::string_view s);

// Whether one console unit serves input and output (both terminals).
bool one_console();
void set_one_console(bool one);

// Console and device records, and console lines (the console's room).
void put_device_record(int fd, std::string_view record, bool& pending, int number);
void put_console_record(int number, std::string_view record);
std::string_view get_console_line(int number);

// A console line as the statements see it, or false for the end of input
// and for a line ending in Ctrl-Z.
bool console_line(int number, std::string& out);

// Reads more of fd into buf, dropping what is before pos; false at the end
// of input.
bool fill(int fd, std::string& buf, std::size_t& pos, bool& at_eof, int number);

// The report of a write to a file unit that failed.
[[noreturn]] void write_error(int number);

}  // namespace textio
