// Fuzz target for the format parser: any text either parses into a program
// whose groups are balanced and whose jumps stay inside it, or is an error
// value; nothing crashes or loops.
#include "textio/format.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    textio::FormatProgram p = textio::parse_format(text);
    check(!p.ops.empty() && p.ops.back().kind == textio::FormatOp::finish);
    const int32_t n = static_cast<int32_t>(p.ops.size());
    if (!p.error.empty()) return 0;
    check(p.reversion >= 0 && p.reversion < n);
    int depth = 0;
    for (int32_t k = 0; k < n; ++k) {
        const textio::FormatOp& op = p.ops[k];
        if (op.kind == textio::FormatOp::group_begin) {
            ++depth;
            check(depth <= textio::kMaxGroupDepth && op.n >= 1);
            check(op.jump > k && op.jump < n && p.ops[op.jump].kind == textio::FormatOp::group_end);
            check(p.ops[op.jump].jump == k);
        } else if (op.kind == textio::FormatOp::group_end) {
            --depth;
            check(depth >= 0);
        } else if (op.kind == textio::FormatOp::finish) {
            check(k == n - 1);
        }
    }
    check(depth == 0);
    (void)textio::describe(p);
    return 0;
}
