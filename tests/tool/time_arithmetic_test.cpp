#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/duration_stats.h"
#include "common/saturating.h"

namespace {

using namespace mvt_trace;

constexpr std::uint64_t top = UINT64_MAX;

TEST(tool_time_arithmetic, saturating_arithmetic_stops_at_the_ends_of_the_range) {
    static_assert(saturating_add(top - 1, 1) == top && saturating_add(top, top) == top && saturating_add(2, 3) == 5);
    static_assert(saturating_sub(5, 7) == 0 && saturating_sub(top, 0) == top && saturating_sub(7, 5) == 2);
    static_assert(saturating_mul(top, 2) == top && saturating_mul(1ull << 32, 1ull << 32) == top &&
                  saturating_mul((1ull << 32) - 1, 1ull << 32) == top - (1ull << 32) + 1 && saturating_mul(0, top) == 0);
    static_assert(ceil_div(top, 2) == (1ull << 63) && ceil_div(top, top) == 1 && ceil_div(0, 3) == 0);
    EXPECT_EQ(saturating_round(18446744073709551615.0L), top);
    EXPECT_EQ(saturating_round(1e30L), top);
    EXPECT_EQ(saturating_round(9223372036854775808.0L), 1ull << 63);  // where llround gives up
    EXPECT_EQ(saturating_round(-3), 0u);
    EXPECT_EQ(saturating_round(2.5L), 3u);

    struct layout_case {
        std::uint64_t span, at_most, width, count;
    };
    for (const layout_case& c : std::vector<layout_case>{
             {0, 10, 1, 0}, {10, 10, 1, 10}, {11, 10, 2, 6}, {top, 1, top, 1}, {top, 2, 1ull << 63, 2},
             {top, 0, top, 1}, {top - 1, 3, 6148914691236517205ull, 3}}) {
        const bucket_layout got = buckets_for(c.span, c.at_most);
        EXPECT_EQ(got.width, c.width) << c.span << " / " << c.at_most;
        EXPECT_EQ(got.count, c.count) << c.span << " / " << c.at_most;
        EXPECT_GE(static_cast<wide_total::wide>(got.width) * got.count, c.span);
    }
    EXPECT_EQ(bucket_end(1, 1ull << 63), top);  // the last of two buckets over the whole range
    EXPECT_EQ(bucket_end(2, 5), 15u);

    wide_total sum;
    for (int i = 0; i < 4; ++i) sum.add(top);
    EXPECT_FALSE(sum.fits_64());
    EXPECT_EQ(sum.saturated(), top);
    EXPECT_EQ(sum.mean(4), top);
    EXPECT_TRUE(sum.get() == static_cast<wide_total::wide>(top) * 4);
}

// A mean that halves, a standard deviation from a wrapped sum of squares, or
// a median past 2^63 turned negative: each showed in a report of a trace
// with durations near 2^64.
TEST(tool_time_arithmetic, duration_statistics_stay_right_near_2_to_the_64) {
    duration_stats huge;
    for (std::uint64_t d : {top, top, top - 2}) huge.add(d);
    EXPECT_EQ(huge.count(), 3u);
    EXPECT_EQ(huge.total(), top);  // held, not wrapped
    EXPECT_EQ(huge.mean(), top - 1);
    EXPECT_EQ(huge.stddev(), 1u);  // sqrt(8/9)
    EXPECT_GE(huge.p50(), huge.min());
    EXPECT_EQ(huge.max(), top);

    duration_stats wide;
    wide.add(0);
    wide.add(top);
    EXPECT_EQ(wide.mean(), 1ull << 63);
    EXPECT_NEAR(static_cast<double>(wide.stddev()), 9.223372036854775807e18, 1e4);

    // Merging parts gives what adding every value would, in either mode.
    duration_stats left, right, all;
    for (std::uint64_t d : {std::uint64_t{1} << 62, std::uint64_t{3} << 61, std::uint64_t{5}}) {
        left.add(d);
        all.add(d);
    }
    for (std::uint64_t d : {top, top - 1000, std::uint64_t{7}}) {
        right.add(d);
        all.add(d);
    }
    left.merge(right);
    EXPECT_EQ(left.count(), all.count());
    EXPECT_EQ(left.mean(), all.mean());
    EXPECT_NEAR(static_cast<double>(left.stddev()), static_cast<double>(all.stddev()), 1e-12 * static_cast<double>(all.stddev()));
    EXPECT_EQ(left.p95(), all.p95());

    // Ordinary durations keep their exact spread: 2, 4, 4, 4, 5, 5, 7, 9 has
    // a standard deviation of exactly 2.
    duration_stats exact;
    for (std::uint64_t d : {2, 4, 4, 4, 5, 5, 7, 9}) exact.add(d * 1'000'000'000'000ull);
    EXPECT_EQ(exact.stddev(), 2'000'000'000'000ull);
    EXPECT_EQ(exact.mean(), 5'000'000'000'000ull);
}

}  // namespace
