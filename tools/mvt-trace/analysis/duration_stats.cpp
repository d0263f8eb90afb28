#include "analysis/duration_stats.h"

#include <algorithm>
#include <cmath>

namespace mvt_trace {

void duration_stats::add(std::uint64_t duration) {
    ++count_;
    total_ += duration;
    min_ = count_ == 1 ? duration : std::min(min_, duration);
    max_ = std::max(max_, duration);
    const double value = static_cast<double>(duration);
    const double delta = value - mean_;
    mean_ += delta / static_cast<double>(count_);
    squares_ += delta * (value - mean_);
    sketch_.add(duration);
}

void duration_stats::merge(const duration_stats& other) {
    if (other.count_ == 0) return;
    if (count_ == 0) {
        *this = other;
        return;
    }
    // The pairwise update of Chan, Golub and LeVeque.
    const double n = static_cast<double>(count_), m = static_cast<double>(other.count_);
    const double delta = other.mean_ - mean_;
    mean_ += delta * m / (n + m);
    squares_ += other.squares_ + delta * delta * n * m / (n + m);
    count_ += other.count_;
    total_ += other.total_;
    min_ = std::min(min_, other.min_);
    max_ = std::max(max_, other.max_);
    sketch_.merge(other.sketch_);
}

std::uint64_t duration_stats::mean() const {
    // From the exact total, so that one execution's mean is its duration.
    return count_ == 0 ? 0 : (total_ + count_ / 2) / count_;
}

std::uint64_t duration_stats::stddev() const {
    if (count_ < 2) return 0;
    return static_cast<std::uint64_t>(std::llround(std::sqrt(std::max(0.0, squares_ / static_cast<double>(count_)))));
}

std::uint64_t duration_stats::percentile(double q) const {
    if (count_ == 0) return 0;
    return std::clamp(sketch_.quantile(q), min_, max_);
}

}  // namespace mvt_trace
