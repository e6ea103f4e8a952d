// The records of the file units on their way to the files: the one part of
// the layer that the interrupt handler may write out, so nothing in it but
// fixed storage, atomics and write(2).
//
// Its invariants, for each unit:
// - bytes[0, committed) are complete records, each ending in CR LF.  A
//   record is copied in first and counted after a signal fence, so that
//   the handler, whenever it comes, sees whole records only.
// - committed goes back to 0 only once those bytes have been handed to
//   write(2), written or given up.
// - While records are being written to a file an interrupt is held, and
//   raised again once the write is over: the handler never writes a record
//   that is being written, nor one twice.
// - fd is -1 while the unit is no file.
// Only the main thread writes units, and it is the one that takes the
// interrupts (other threads keep them blocked).
#pragma once

#include <cstddef>
#include <string_view>

namespace textio {

// A unit's records go to its file when its 1024-character buffer
// (kFileBuffer) is full, which a dialogue shows: a write that fails does so
// before the next prompt.  While a GatheredRecords lives (the sweep, whose
// steps write millions of records and ask nothing) they are gathered in
// blocks of kRecordBlock instead: a small model's sweep then makes a
// system call every few hundred steps rather than every few records.
// Every end of a run (an interrupt, a report, a stop) writes the records
// gathered first, and a failed write leaves whole records only, as with
// the smaller buffer.
inline constexpr std::size_t kRecordBlock = std::size_t{64} * 1024;
class GatheredRecords {
public:
    GatheredRecords();
    ~GatheredRecords();
    GatheredRecords(const GatheredRecords&) = delete;
    GatheredRecords& operator=(const GatheredRecords&) = delete;
};

// The unit's records now go to fd (none buffered), keep going to the new
// fd (the buffered ones with them), or go nowhere (fd -1).
void attach_buffer(int number, int fd);
void move_buffer(int number, int fd);
int buffer_fd(int number);

// Adds one record and its CR LF; a full buffer is written at once, and a
// record longer than the buffer goes straight to the file.  False when a
// write failed.
bool buffer_record(int number, std::string_view record);

// Writes the unit's records out; false when the write failed.  A regular
// file is then cut back to the end of its last whole record.
bool flush_buffer(int number);

// Whether a failed write has cut a file back.
bool file_cut_back();

// Runs write() with the interrupts held.
void begin_held_writes();
void end_held_writes();
template <class Write>
bool with_interrupts_held(Write write) {
    begin_held_writes();
    const bool ok = write();
    end_held_writes();
    return ok;
}

// For the interrupt handler, both async-signal-safe.  hold_interrupt:
// while records are being written the interrupt sig is held (true), and
// raised again as soon as that write is over.  write_committed_records:
// writes, for every file unit, the complete records still in its buffer,
// and nothing of a record being built.
bool hold_interrupt(int sig);
void write_committed_records();

}  // namespace textio
