#include "plot/labels.h"

#include <algorithm>
#include <iterator>

namespace plot {
namespace {

struct Box {
    double left, right, bottom, top;
    bool overlaps(const Box& o) const { return left < o.right && o.left < right && bottom < o.top && o.bottom < top; }
    bool inside() const { return left >= 0.0 && right <= 1.0 && bottom >= 0.0 && top <= 1.0; }
};

// The heights tried beside a point, nearest first, in lines.
constexpr double kLifts[] = {0.6, -0.6, 1.7, -1.7, 2.8, -2.8, 3.9, -3.9, 5.0, -5.0};
// Room around a text, in characters, and the point's own mark.
constexpr double kPad = 0.3;
constexpr double kMark = 0.6;

Box box_of(const PeakText& t, const Placement& p, double char_w, double line_h) {
    const double ax = t.gx + p.dx * char_w, ay = t.gy + p.dy * line_h;
    const double w = (static_cast<double>(t.chars) + kPad) * char_w;
    const double half = 0.5 * line_h + kPad * char_w;
    return {p.right_aligned ? ax - w : ax, p.right_aligned ? ax : ax + w, ay - half, ay + half};
}

}  // namespace

std::vector<Placement> place_texts(const std::vector<PeakText>& texts, const std::vector<Mark>& marks, double char_w,
                                   double line_h) {
    std::vector<Placement> out;
    // Every point's mark is kept clear as well as the texts placed before.
    std::vector<Box> taken;
    for (const Mark& t : marks)
        taken.push_back({t.gx - kMark * char_w, t.gx + kMark * char_w, t.gy - kMark * line_h, t.gy + kMark * line_h});
    for (const PeakText& t : texts) {
        bool placed = false;
        for (const double lift : kLifts) {
            for (const bool right : {false, true}) {
                const Placement p{true, right ? -1.0 : 1.0, lift, right, 0.0, 0.0};
                const Box b = box_of(t, p, char_w, line_h);
                if (!b.inside() || std::any_of(taken.begin(), taken.end(), [&](const Box& o) { return o.overlaps(b); }))
                    continue;
                taken.push_back(b);
                out.push_back(p);
                placed = true;
                break;
            }
            if (placed) break;
        }
        if (placed) continue;
        // No room beside the points: every text in a column of its own
        // rows, which cannot cover one another.
        out.clear();
        for (std::size_t i = 0; i < texts.size(); ++i) {
            Placement p;
            p.beside = false;
            p.right_aligned = true;
            p.gx = 0.99;
            p.gy = 0.97 - (0.5 + static_cast<double>(i)) * 1.2 * line_h;
            out.push_back(p);
        }
        return out;
    }
    return out;
}

}  // namespace plot
