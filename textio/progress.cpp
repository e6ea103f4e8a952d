#include "textio/progress.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>

#include "textio/units.h"

namespace textio {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kShowAfter{2000};
constexpr std::chrono::milliseconds kRedrawEvery{250};
// The line never takes more than this many characters.
constexpr std::size_t kMaxLine = 100;

struct Sweep {
    bool active = false;
    bool stdout_terminal = false;
    long steps = 0;
    std::size_t width = kMaxLine;
    Clock::time_point start;
    Clock::time_point next_draw;
    ProgressText text = nullptr;
} g_sweep;

// Characters of the line on the screen now (0: none).
volatile sig_atomic_t g_shown = 0;

std::chrono::milliseconds show_after() {
    const char* text = std::getenv("VARNOSTIK_PROGRESS_AFTER_MS");
    if (text == nullptr || *text == '\0') return kShowAfter;
    char* end = nullptr;
    const long ms = std::strtol(text, &end, 10);
    return *end == '\0' && ms >= 0 ? std::chrono::milliseconds(ms) : kShowAfter;
}

// Room on the terminal's line, one column kept free so that the line never
// wraps.
std::size_t line_width() {
    winsize ws{};
    if (ioctl(2, TIOCGWINSZ, &ws) != 0 || ws.ws_col < 2) return kMaxLine;
    return std::min<std::size_t>(kMaxLine, ws.ws_col - 1u);
}

std::string line_text(long step, double value, Clock::duration elapsed) {
    const double per_step = std::chrono::duration<double>(elapsed).count() / static_cast<double>(step);
    const long left = static_cast<long>(per_step * static_cast<double>(g_sweep.steps - step) + 0.5);
    std::string line = g_sweep.text(step, g_sweep.steps, value, left < 0 ? 0 : left);
    if (line.size() > g_sweep.width) line.resize(g_sweep.width);
    return line;
}

void draw(const std::string& line) {
    const std::size_t shown = static_cast<std::size_t>(g_shown);
    std::string out = "\r" + line;
    // Blanks over the rest of a longer line drawn before.
    if (shown > line.size()) out.append(shown - line.size(), ' ');
    if (!write_fd(2, out.data(), out.size())) return;
    g_shown = static_cast<sig_atomic_t>(line.size() > shown ? line.size() : shown);
}

}  // namespace

std::string clock_text(long seconds) {
    auto two = [](long v) { return std::string(v < 10 ? "0" : "") + std::to_string(v); };
    const long h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
    return h > 0 ? std::to_string(h) + ":" + two(m) + ":" + two(s) : std::to_string(m) + ":" + two(s);
}

void progress_start(long steps, ProgressText text) {
    g_sweep = Sweep{};
    if (isatty(2) != 1 || text == nullptr) return;
    g_sweep.text = text;
    g_sweep.active = true;
    g_sweep.stdout_terminal = isatty(1) == 1;
    g_sweep.steps = steps;
    g_sweep.width = line_width();
    g_sweep.start = Clock::now();
    g_sweep.next_draw = g_sweep.start + show_after();
}

void progress_step(long step, double value) {
    if (!g_sweep.active || step < 1) return;
    const Clock::time_point now = Clock::now();
    if (now < g_sweep.next_draw) return;
    g_sweep.next_draw = now + kRedrawEvery;
    // A console line still open on the same screen would be overwritten.
    if (g_sweep.stdout_terminal && console_line_pending()) return;
    draw(line_text(step, value, now - g_sweep.start));
}

void progress_end() {
    progress_erase();
    g_sweep.active = false;
}

void progress_erase() {
    const std::size_t n = static_cast<std::size_t>(g_shown);
    if (n == 0) return;
    g_shown = 0;
    char out[kMaxLine + 2];
    out[0] = '\r';
    std::memset(out + 1, ' ', n);
    out[n + 1] = '\r';
    write_fd(2, out, n + 2);
}

}  // namespace textio
