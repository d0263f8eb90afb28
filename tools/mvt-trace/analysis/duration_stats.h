#ifndef MVT_TRACE_DURATION_STATS_H
#define MVT_TRACE_DURATION_STATS_H

#include <cstdint>

#include "analysis/quantile_sketch.h"

namespace mvt_trace {

// The statistics of a set of execution durations, gathered one duration at
// a time in constant memory: count, total, minimum, maximum and the sum of
// squares exactly (in 128 bits, which hold it whenever the total fits in
// 64), so that the mean and standard deviation are exact but for their final
// rounding; the median and 95th percentile come from a quantile sketch
// (within 1%).
class duration_stats {
public:
    void add(std::uint64_t duration);
    // As if every duration of `other` had been added here.
    void merge(const duration_stats& other);

    std::uint64_t count() const { return count_; }
    std::uint64_t total() const { return total_; }
    std::uint64_t min() const { return count_ ? min_ : 0; }
    std::uint64_t max() const { return max_; }
    // Rounded to whole nanoseconds; 0 with no durations.
    std::uint64_t mean() const;
    // Of the durations as a whole population (divided by the count).
    std::uint64_t stddev() const;
    // From the sketch, kept within [min, max].
    std::uint64_t p50() const { return percentile(0.50); }
    std::uint64_t p95() const { return percentile(0.95); }

private:
    std::uint64_t percentile(double q) const;

    __extension__ using wide = unsigned __int128;
    wide squares() const { return static_cast<wide>(squares_high_) << 64 | squares_low_; }
    void add_squares(wide squares);

    std::uint64_t count_ = 0;
    std::uint64_t total_ = 0;
    std::uint64_t min_ = 0;
    std::uint64_t max_ = 0;
    // The sum of the squared durations, in two words: a 128-bit member would
    // align the whole to 16 bytes, and a run keeps one per node.
    std::uint64_t squares_low_ = 0;
    std::uint64_t squares_high_ = 0;
    quantile_sketch sketch_;
};

}  // namespace mvt_trace

#endif
