#ifndef MVT_TRACE_DURATION_STATS_H
#define MVT_TRACE_DURATION_STATS_H

#include <cstdint>

#include "analysis/quantile_sketch.h"
#include "common/saturating.h"

namespace mvt_trace {

// The statistics of a set of execution durations, gathered one duration at
// a time in constant memory: count, total (in 128 bits, so that the mean is
// right for any durations), minimum, maximum and the sum of squares exactly
// in 128 bits, so that the mean and standard deviation are exact but for
// their final rounding; the median and 95th percentile come from a quantile
// sketch (within 1%).
//
// Durations near 2^64 (a damaged or forged trace) would overflow the exact
// sum of squares; from the first duration that would, the spread is kept
// instead as the sum of squared deviations from the running mean, in
// floating point (Welford's method, with each distance from the mean taken
// in integers first), which keeps some 18 digits and cannot overflow.
class duration_stats {
public:
    void add(std::uint64_t duration);
    // As if every duration of `other` had been added here.
    void merge(const duration_stats& other);

    std::uint64_t count() const { return count_; }
    // Held at 2^64 - 1 when the true total is larger.
    std::uint64_t total() const { return total_.saturated(); }
    std::uint64_t min() const { return count_ ? min_ : 0; }
    std::uint64_t max() const { return max_; }
    // Rounded to whole nanoseconds; 0 with no durations.
    std::uint64_t mean() const { return total_.mean(count_); }
    // Of the durations as a whole population (divided by the count).
    std::uint64_t stddev() const;
    // From the sketch, kept within [min, max].
    std::uint64_t p50() const { return percentile(0.50); }
    std::uint64_t p95() const { return percentile(0.95); }

private:
    __extension__ using wide = unsigned __int128;

    std::uint64_t percentile(double q) const;
    wide squares() const { return static_cast<wide>(squares_high_) << 64 | squares_low_; }
    void set_squares(wide squares);
    // The sum of squared deviations from the mean.
    long double deviations() const;
    void set_deviations(long double value);
    bool exact_with(const wide_total& total, wide squares, wide more) const;

    std::uint64_t count_ = 0;
    wide_total total_;
    std::uint64_t min_ = 0;
    std::uint64_t max_ = 0;
    // The sum of the squared durations, in two words: a 128-bit member would
    // align the whole to 16 bytes, and a run keeps one per node. Once
    // approximate_, the two words hold the deviations (a long double).
    std::uint64_t squares_low_ = 0;
    std::uint64_t squares_high_ = 0;
    bool approximate_ = false;
    quantile_sketch sketch_;
};

}  // namespace mvt_trace

#endif
