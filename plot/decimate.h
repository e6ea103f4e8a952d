// A curve of any length thinned for a picture in bounded memory.  The
// points are taken in bins of consecutive steps, and each bin keeps its
// lowest and its highest point: every peak and every trough of the full
// curve that stands out of its bin survives, the largest value of all among
// them, and the drawn curve spans exactly what the full one spans.  When
// the bins are full, neighbours are merged pairwise (the lowest of the two
// lows, the highest of the two highs) and every bin takes twice the steps.
#pragma once

#include <cstddef>
#include <vector>

namespace plot {

class Decimator {
public:
    // At most 2 * bins + 2 points are kept; a curve of up to bins steps is
    // kept whole.
    explicit Decimator(std::size_t bins = kBins) : capacity_(bins < 2 ? 2 : bins) {}

    void add(double x, double y);

    // The kept points in the order of the steps.
    std::vector<double> xs() const;
    std::vector<double> ys() const;
    long size() const { return count_; }  // steps taken

    static constexpr std::size_t kBins = 2048;

private:
    struct Point {
        long step;
        double x, y;
    };
    struct Bin {
        Point low, high;
    };
    std::vector<Point> points() const;
    void close_bin();

    std::size_t capacity_;
    std::vector<Bin> bins_;
    Bin open_{};           // the bin being filled
    long in_open_ = 0;     // its steps
    long width_ = 1;       // the steps of a whole bin
    long count_ = 0;
    Point first_{}, last_{};
};

}  // namespace plot
