#ifndef MVT_TRACE_ANALYSIS_RANK_TEST_H
#define MVT_TRACE_ANALYSIS_RANK_TEST_H

#include <cstdint>
#include <vector>

namespace mvt_trace {

// The Mann-Whitney U test of two samples of durations, two-sided: does one
// tend to take longer than the other? It compares ranks, not values, so one
// execution delayed by a page fault or a preempted thread moves it no more
// than any other slower execution would; and it assumes no shape of the
// distributions, which for execution times is rarely normal.
struct rank_test {
    enum class method : std::uint8_t {
        // Even if every execution of one sample were slower than every one
        // of the other, the test could not reach its level: nothing is said.
        too_few,
        // The exact distribution of U (no ties, and few enough to count).
        exact,
        // The normal approximation, corrected for ties and for continuity.
        normal,
    };

    method how = method::too_few;
    // U of the second sample: the pairs (first, second) in which the second
    // is longer, ties counting one half. Of m x n pairs; more than half
    // means the second tends to be slower.
    double u = 0;
    std::uint64_t pairs = 0;
    // Two-sided; also given when there are too few for a verdict.
    double p_value = 1;
    bool significant = false;  // p_value < alpha; never with too_few

    // The share of pairs in which the second is longer (ties one half).
    double second_slower_share() const { return pairs == 0 ? 0.5 : u / static_cast<double>(pairs); }
};

// Tests `second` against `first` at level `alpha` (0.01 is 1 %). The
// samples need not be sorted.
rank_test mann_whitney(std::vector<std::uint64_t> first, std::vector<std::uint64_t> second, double alpha = 0.01);

// The smallest two-sided p-value that samples of m and n values can give:
// 2 / C(m + n, m), when one lies wholly above the other; 1 when either is
// empty.
double smallest_p_value(std::uint64_t m, std::uint64_t n);

}  // namespace mvt_trace

#endif
