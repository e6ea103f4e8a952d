// Fuzz target for the drawing companion's reader: any text is either
// refused with a message that names the file, or read into a sweep whose
// curves all have one finite value per step; the curves, the CSV and the
// drawing script are then made from it.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "plot/curves.h"
#include "plot/script.h"
#include "plot/recorded.h"

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
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const plot::SweepRead r = plot::read_sweep("f", text);
    if (!r.error.empty()) {
        check(r.error.rfind("f:", 0) == 0);
        return 0;
    }
    const plot::Sweep& s = r.sweep;
    check(finite(s.lambda) && finite(s.omega));
    for (const plot::Curve& c : s.curves) {
        check(c.amp.size() == s.lambda.size() && c.ac.size() == s.lambda.size() && c.as.size() == s.lambda.size());
        check(finite(c.amp) && finite(c.ac) && finite(c.as));
    }
    if (s.lambda.empty()) return 0;
    const plot::CurvesMade m = plot::make_curves(s, {});
    check(m.error.empty());
    // The picture's points: finite, in the order of the steps, never more
    // than the thinning keeps, each panel as long as the other.
    for (const plot::Series& k : m.curves.series) {
        check(finite(k.amplitude.y) && finite(k.phase.y));
        check(k.amplitude.x.size() == k.amplitude.y.size() && k.phase.x.size() == k.phase.y.size());
        check(!k.amplitude.x.empty() && k.amplitude.x.size() <= 2 * plot::Decimator::kBins + 2);
    }
    check(m.csv.find('\n') != std::string::npos);
    check(!plot::gnuplot_script(m.curves, {}, plot::Format::svg, "out.svg").empty());
    return 0;
}
