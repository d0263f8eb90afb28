#include "analysis/duration_stats.h"

#include <algorithm>
#include <cmath>

namespace mvt_trace {

void duration_stats::add(std::uint64_t duration) {
    ++count_;
    total_ += duration;
    min_ = count_ == 1 ? duration : std::min(min_, duration);
    max_ = std::max(max_, duration);
    add_squares(static_cast<wide>(duration) * duration);
    sketch_.add(duration);
}

void duration_stats::add_squares(wide squares) {
    const wide sum = this->squares() + squares;
    squares_low_ = static_cast<std::uint64_t>(sum);
    squares_high_ = static_cast<std::uint64_t>(sum >> 64);
}

void duration_stats::merge(const duration_stats& other) {
    if (other.count_ == 0) return;
    if (count_ == 0) {
        *this = other;
        return;
    }
    add_squares(other.squares());
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
    // n variance = sum of squares - total^2 / n, with the division done
    // exactly in integers (quotient and remainder) so that no cancellation
    // loses digits.
    const wide total = total_, n = count_;
    const wide squared_total = total * total;
    const wide spread = squares() - squared_total / n;  // n variance, plus the remainder's share below
    const long double variance =
        (static_cast<long double>(spread) - static_cast<long double>(squared_total % n) / static_cast<long double>(n)) /
        static_cast<long double>(n);
    return static_cast<std::uint64_t>(std::llround(std::sqrt(std::max(0.0L, variance))));
}

std::uint64_t duration_stats::percentile(double q) const {
    if (count_ == 0) return 0;
    return std::clamp(sketch_.quantile(q), min_, max_);
}

}  // namespace mvt_trace
