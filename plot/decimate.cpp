#include "plot/decimate.h"

namespace plot {

void Decimator::add(double x, double y) {
    const Point p{count_++, x, y};
    if (p.step == 0) first_ = p;
    last_ = p;
    if (in_open_ == 0) {
        open_ = {p, p};
    } else {
        // Ties keep the earlier point: the largest value marked is its first step.
        if (y < open_.low.y) open_.low = p;
        if (y > open_.high.y) open_.high = p;
    }
    if (++in_open_ == width_) close_bin();
}

void Decimator::close_bin() {
    bins_.push_back(open_);
    in_open_ = 0;
    if (bins_.size() < capacity_) return;
    std::size_t kept = 0;
    for (std::size_t i = 0; i + 1 < bins_.size(); i += 2) {
        const Bin& a = bins_[i];
        const Bin& b = bins_[i + 1];
        bins_[kept++] = {b.low.y < a.low.y ? b.low : a.low, b.high.y > a.high.y ? b.high : a.high};
    }
    if (bins_.size() % 2 != 0) bins_[kept++] = bins_.back();
    bins_.resize(kept);
    width_ *= 2;
}

std::vector<Decimator::Point> Decimator::points() const {
    std::vector<Point> out;
    if (count_ == 0) return out;
    const auto put = [&](const Point& p) {
        if (out.empty() || p.step > out.back().step) out.push_back(p);
    };
    put(first_);
    const auto bin = [&](const Bin& b) {
        put(b.low.step < b.high.step ? b.low : b.high);
        put(b.low.step < b.high.step ? b.high : b.low);
    };
    for (const Bin& b : bins_) bin(b);
    if (in_open_ > 0) bin(open_);
    put(last_);
    return out;
}

std::vector<double> Decimator::xs() const {
    std::vector<double> v;
    for (const Point& p : points()) v.push_back(p.x);
    return v;
}

std::vector<double> Decimator::ys() const {
    std::vector<double> v;
    for (const Point& p : points()) v.push_back(p.y);
    return v;
}

}  // namespace plot
