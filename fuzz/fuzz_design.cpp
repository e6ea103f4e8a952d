// Fuzz target for the designer's description: any text is either refused
// with a message that names the file, or read into a description that the
// model building either refuses the same way or turns into a data file
// and its answers.  Nothing is written to disk: the text is read from a
// file that lives in memory only.
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "design/datafile.h"
#include "design/description.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

bool finite(const std::vector<double>& v) {
    for (const double x : v)
        if (!std::isfinite(x)) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const int fd = memfd_create("description", MFD_CLOEXEC);
    if (fd < 0) return 0;
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, data + done, size - done);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    try {
        const design::Description d = design::read_description(path);
        check(d.LK >= 1 && d.LK <= 20);
        check(d.PC.size() == static_cast<std::size_t>(d.LK) && d.PS.size() == static_cast<std::size_t>(d.LK));
        check(!d.plot.empty() && d.plot.size() <= 3);
        check(!d.data.empty() && d.data.size() <= 8 && d.data != d.results && d.data != d.plot_file);
        const design::Model m = design::build_model(d);
        check(m.LK == d.LK && m.NU == m.LK + m.LPT);
        check(finite(m.MR) && finite(m.KR) && finite(m.PC) && finite(m.PS));
        check(!m.data_text.empty());
        const std::string answers = design::replay_answers(d);
        check(answers.find(d.data) != std::string::npos);
    } catch (const design::Refused& r) {
        check(std::string(r.what()).rfind(path + ":", 0) == 0);
    }
    close(fd);
    return 0;
}
