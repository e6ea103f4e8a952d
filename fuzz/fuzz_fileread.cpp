// Fuzz target for input statements over a file unit: arbitrary bytes (CR,
// LF and CR LF mixed, Ctrl-Z, lines around 1024 characters) in a file read
// by a sequence of the statements the data file meets: "(10(2X,E12.6))",
// free-form integers and reals, and "(A1024)", which shows each line as the
// unit took it.  The file is split into lines here on its own, and every
// statement's values, lines taken and error are checked against what its
// rules give on those lines.
#include <algorithm>
#include <cfenv>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <type_traits>
#include <unistd.h>
#include <vector>

#include "textio/io.h"
#include "textio/runtime.h"
#include "textio/scan.h"

// The run's ending is replaced: an error report becomes an exception that
// the target catches, so that one input's error does not end the fuzzing.
namespace textio {
struct Failure {
    IoError code;
};
void io_error(IoError code, IoOp, std::string_view, std::string_view) { throw Failure{code}; }
void report_write_failure(std::string_view) {}
}  // namespace textio

namespace {

using textio::IoError;

void check(bool ok) {
    if (!ok) std::abort();
}

// The file: in memory, named by its descriptor's path.
int g_file = -1;
std::string g_path;

// The file's bytes: 0xFF n c stands for (n % 128 + 1) * 8 copies of c, so
// that short inputs make long lines and files longer than one read.
std::string expand(const uint8_t* p, std::size_t n) {
    std::string out;
    for (std::size_t k = 0; k < n; ++k) {
        if (p[k] == 0xFF && k + 2 < n) {
            out.append((p[k + 1] % 128 + 1) * 8u, static_cast<char>(p[k + 2]));
            k += 2;
        } else {
            out.push_back(static_cast<char>(p[k]));
        }
    }
    return out;
}

// Lines end at CR LF, LF or CR; a last line without a line end counts.
std::vector<std::string> split(const std::string& bytes) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t k = 0; k < bytes.size(); ++k) {
        if (bytes[k] != '\r' && bytes[k] != '\n') continue;
        lines.push_back(bytes.substr(start, k - start));
        if (bytes[k] == '\r' && k + 1 < bytes.size() && bytes[k + 1] == '\n') ++k;
        start = k + 1;
    }
    if (start < bytes.size()) lines.push_back(bytes.substr(start));
    return lines;
}

IoError io_code(textio::ScanError e) {
    switch (e) {
    case textio::ScanError::bad_integer: return IoError::bad_integer;
    case textio::ScanError::integer_range: return IoError::integer_range;
    case textio::ScanError::bad_real: return IoError::bad_real;
    case textio::ScanError::real_range: return IoError::real_range;
    case textio::ScanError::zero_repeat: return IoError::zero_repeat;
    case textio::ScanError::repeat_range: return IoError::repeat_range;
    case textio::ScanError::string_value: return IoError::string_value;
    case textio::ScanError::pair_value: return IoError::pair_value;
    case textio::ScanError::none: break;
    }
    std::abort();
}

// What a statement should do: the lines it takes from the next one on, its
// values, or the error that ends it.
struct Expect {
    const std::vector<std::string>& lines;
    std::size_t next = 0;  // the next line to take
    std::optional<IoError> error;

    const std::string* take() {
        if (next >= lines.size()) {
            error = IoError::eof_file;
            return nullptr;
        }
        if (lines[next].size() > 1024) {
            error = IoError::record_too_long;
            return nullptr;
        }
        return &lines[next++];
    }
};

// "(10(2X,E12.6))" with count reals: ten fields to a line.
void expect_row_record(Expect& x, double* v, int count) {
    const std::string* line = nullptr;
    std::size_t pos = 0;
    for (int k = 0; k < count; ++k) {
        if (k % 10 == 0) {
            if (!(line = x.take())) return;
            pos = 0;
        }
        pos = std::min(line->size(), pos + 2);
        const textio::RealScan r = textio::read_e_field(*line, pos, 12, 6);
        if (r.error != textio::ScanError::none) {
            x.error = io_code(r.error);
            return;
        }
        v[k] = r.value;
    }
}

// Free-form: three integers or three reals.
template <class T>
void expect_free(Expect& x, T* v) {
    textio::FreeTokenizer tok;
    tok.start_statement();
    const std::string* line = x.take();
    if (!line) return;
    tok.start_line(*line);
    int k = 0;
    while (k < 3) {
        const textio::FreeToken t = tok.next();
        if (t.kind == textio::FreeToken::end_of_line) {
            if (!(line = x.take())) return;
            tok.start_line(*line);
        } else if (t.kind == textio::FreeToken::slash) {
            return;
        } else if (t.kind == textio::FreeToken::error) {
            x.error = io_code(t.fault);
            return;
        } else if (t.kind == textio::FreeToken::null) {
            k = t.repeat >= 3 - k ? 3 : k + t.repeat;
        } else {
            for (int32_t c = 0; c < t.repeat && k < 3; ++c, ++k) {
                if constexpr (std::is_same_v<T, int32_t>) {
                    const textio::IntScan r = textio::scan_int(t.text);
                    if (r.error != textio::ScanError::none) return void(x.error = io_code(r.error));
                    v[k] = r.value;
                } else {
                    const textio::RealScan r = textio::scan_real(t.text);
                    if (r.error != textio::ScanError::none) return void(x.error = io_code(r.error));
                    v[k] = r.value;
                }
            }
        }
    }
}

// Runs one statement and checks it against its expectation; false when it
// ended with its (expected) error.
bool statement(int kind, int count, Expect& x) {
    double want_r[25] = {}, got_r[25] = {};
    int32_t want_i[3] = {7, 7, 7}, got_i[3] = {7, 7, 7};
    char want_a[1024], got_a[1024];
    std::optional<IoError> error;
    try {
        switch (kind) {
        case 0: {
            textio::In items[25];
            for (int k = 0; k < count; ++k) items[k] = textio::In(got_r[k]);
            expect_row_record(x, want_r, count);
            textio::read_fmt(1, "(10(2X,E12.6))", items, static_cast<std::size_t>(count));
            break;
        }
        case 1:
            expect_free(x, want_i);
            textio::read_free(1, {got_i[0], got_i[1], got_i[2]});
            break;
        case 2:
            expect_free(x, want_r);
            textio::read_free(1, {got_r[0], got_r[1], got_r[2]});
            break;
        default: {
            const std::string* line = x.take();
            std::memset(want_a, ' ', sizeof want_a);
            if (line) std::memcpy(want_a, line->data(), line->size());
            textio::read_fmt(1, "(A1024)", {textio::In(got_a, 1024)});
            break;
        }
        }
    } catch (const textio::Failure& f) {
        error = f.code;
    }
    check(error == x.error);
    if (error) return false;
    check(textio::line_number(1) == static_cast<long>(x.next));
    for (int k = 0; k < 25; ++k) check(std::memcmp(&want_r[k], &got_r[k], sizeof(double)) == 0);
    check(std::memcmp(want_i, got_i, sizeof want_i) == 0);
    if (kind == 3) check(std::memcmp(want_a, got_a, sizeof want_a) == 0);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
    g_file = memfd_create("fuzz_fileread", 0);
    check(g_file >= 0);
    g_path = "/proc/self/fd/" + std::to_string(g_file);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    // Two bits per statement choose its kind; the third byte the count of
    // reals of the row-record statement.
    const unsigned program = data[0] | data[1] << 8u;
    const int count = data[2] % 25 + 1;
    const std::string bytes = expand(data + 3, size - 3);
    check(ftruncate(g_file, 0) == 0);
    check(pwrite(g_file, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()));

    textio::open_unit(1, g_path);
    const std::vector<std::string> lines = split(bytes);
    Expect x{lines, 0, std::nullopt};
    // Every statement takes at least one line, so the file's end comes.
    for (int k = 0;; ++k) {
        check(k <= static_cast<int>(lines.size()));
        if (!statement((program >> (2 * (k % 8))) & 3, count, x)) break;
    }
    return 0;
}
