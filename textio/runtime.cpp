#include "textio/runtime.h"

#include <cstdlib>
#include <unistd.h>

namespace textio {
// Minimal end of run until the units exist.
void start_run(int, char**) {}
[[noreturn]] void stop_run() { std::_Exit(kExitNormal); }
[[noreturn]] void stop_text(std::string_view text) {
    (void)!write(1, text.data(), text.size());
    std::_Exit(kExitStopText);
}
[[noreturn]] void stop_code(int code) { std::_Exit(code); }
[[noreturn]] void io_error(IoError, IoOp, std::string_view, std::string_view) {
    std::_Exit(kExitError);
}
}  // namespace textio
