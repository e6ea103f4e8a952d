// Units: the console, and the numbered units opened by name on files or
// devices.  Delivery of finished records, taking of input lines, and the
// final flush at the end of the run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace textio {

// The unit number with which statements name the console.
inline constexpr int kConsole = 0;
// Unit numbers 1..kMaxUnit can be connected.
inline constexpr int kMaxUnit = 61;
// Record buffer of a file unit.
inline constexpr std::size_t kFileBuffer = 1024;
// Longest console line, before its line end.
inline constexpr std::size_t kConsoleLine = 130;
// Longest reply to the blank-name prompt; a longer one is cut.
inline constexpr std::size_t kNameReply = 260;
// At most this many characters of a file name are used.
inline constexpr std::size_t kNameUsed = 259;

// Called once at start-up: decides whether one console unit serves input
// and output (both are terminals) and keeps the command-line arguments.
void init_units(int argc, char** argv);

// Connects unit number to the file or device called name (blanks around
// it ignored); a blank name is taken from the command line or asked for.
void open_unit(int number, std::string_view name);

// The unit's name as it appears in run-time error reports.
std::string_view unit_name(int number);

// Delivers one finished output record to the unit.
void put_record(int number, std::string_view record);

// Takes the next input line of the unit, its line end removed.  On the
// console in the one-unit mode a pending line end is written first, so
// that the user types on a line of its own.
std::string_view get_line(int number);

// Whether a read on the unit is a console read with one console unit for
// input and output (standard input and output both terminals): the reads
// that may ask a slip again.
bool interactive_console(int number);

// The 1-based number of the line last taken from a file unit (0 for the
// console and devices).
long line_number(int number);

// End of the run: writes every unit's buffer out and ends a pending
// console line.  Uses nothing but write(2), so that it can run from the
// floating-point signal handler.  Returns false when a buffer could not
// be written (the report has then been written to standard error).
bool flush_all_units();

// The unit's file is removed at the end of the run, whatever ends it, if
// this run's open made it and it then holds no record: a mistyped name or a
// run that ends early leaves no empty file behind.  Asked before the open,
// the removal is armed as the file is made, so that no interrupt falls
// between; asked after it, from then on.  Only the file the open made is
// removed, and never once release_records has put records in its place.
void remove_if_left_empty(int number);
// Does that removal; async-signal-safe, called by every ending.
void remove_empty_created_files();

// From now on the records of a regular file unit are held in memory, and
// the file keeps its earlier contents, until release_records puts the
// whole of them in its place at once (a new file beside it, on disk, then
// renamed over it).  An ending before the release leaves the file as it
// was.  Devices, pipes and other files that are not regular are written as
// the records come.
void hold_records(int number);
void release_records(int number);

// The unit is only read from now on: its descriptor is replaced by a
// read-only one on the same file, so that the writer at the other end of a
// pipe is the only one and its end of file is seen.
void read_only(int number);

bool console_line_pending();
void set_console_pending(bool pending);

// The bytes that show one record on the console or another device: its
// first character is carriage control and chooses how the previous line is
// ended; the line of the record itself is left pending.
void console_delivery(std::string_view record, bool& pending, std::string& out);

// A text as messages quote it: in apostrophes, cut after 40 characters.
std::string quoted_excerpt(std::string_view s);

// Writes bytes to a standard stream, retrying short writes; false on failure.
bool write_fd(int fd, const char* data, std::size_t size);

}  // namespace textio
