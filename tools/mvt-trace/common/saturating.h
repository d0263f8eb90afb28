#ifndef MVT_TRACE_SATURATING_H
#define MVT_TRACE_SATURATING_H

// Arithmetic on nanosecond timestamps and durations that cannot wrap.
//
// A trace holds whatever 64-bit numbers its writer put there: a clock stepped
// back makes an end earlier than its begin, and a damaged or forged file can
// hold timestamps near 2^64. Plain unsigned arithmetic then wraps, and a
// duration of -1 ns becomes 584 years, or a total of two long executions
// becomes a short one. These helpers stop at the ends of the range instead,
// which keeps every answer on the right side of the truth.

#include <cstdint>
#include <limits>

namespace mvt_trace {

inline constexpr std::uint64_t u64_max = std::numeric_limits<std::uint64_t>::max();

constexpr std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) { return a > u64_max - b ? u64_max : a + b; }

// a - b, or 0 when b is larger: an end before its begin lasted no time.
constexpr std::uint64_t saturating_sub(std::uint64_t a, std::uint64_t b) { return a > b ? a - b : 0; }

constexpr std::uint64_t saturating_mul(std::uint64_t a, std::uint64_t b) {
    return a != 0 && b > u64_max / a ? u64_max : a * b;
}

// a / b rounded up, for b > 0, without the a + b - 1 that wraps.
constexpr std::uint64_t ceil_div(std::uint64_t a, std::uint64_t b) { return a / b + (a % b != 0 ? 1 : 0); }

// A nonnegative floating-point value rounded to the nearest integer, held to
// [0, 2^64 - 1]; NaN gives 0. std::llround stops at 2^63 and is undefined
// past it.
constexpr std::uint64_t saturating_round(long double value) {
    if (!(value > 0)) return 0;
    if (value >= 18446744073709551615.0L) return u64_max;
    const long double rounded = value + 0.5L;
    return rounded >= 18446744073709551615.0L ? u64_max : static_cast<std::uint64_t>(rounded);
}

// Equal buckets over [0, span): at most `at_most` of them (at least one is
// asked for), each `width` >= 1 nanoseconds wide, and count x width >= span.
struct bucket_layout {
    std::uint64_t width = 1;
    std::uint64_t count = 0;
};

constexpr bucket_layout buckets_for(std::uint64_t span, std::uint64_t at_most) {
    if (at_most == 0) at_most = 1;
    bucket_layout layout;
    layout.width = span == 0 ? 1 : ceil_div(span, at_most);
    layout.count = ceil_div(span, layout.width);
    return layout;
}

// Where bucket `index` of `width` ends, held to u64_max: the last bucket of a
// span near 2^64 ends past the range.
constexpr std::uint64_t bucket_end(std::uint64_t index, std::uint64_t width) {
    return saturating_mul(saturating_add(index, 1), width);
}

// A sum of 64-bit values that is exact for any count a trace can hold: 2^64
// values of up to 2^64 - 1 fit in 128 bits. Kept as two words so that an
// array of structures holding it is not aligned to 16 bytes.
class wide_total {
public:
    __extension__ using wide = unsigned __int128;

    constexpr void add(std::uint64_t value) { set(get() + value); }
    constexpr void add(const wide_total& other) { set(get() + other.get()); }

    constexpr wide get() const { return static_cast<wide>(high_) << 64 | low_; }
    // The sum, or u64_max when it does not fit in 64 bits.
    constexpr std::uint64_t saturated() const { return high_ != 0 ? u64_max : low_; }
    constexpr bool fits_64() const { return high_ == 0; }
    // The sum divided by `count`, rounded to nearest; 0 for no values. Never
    // more than the largest value added, so it always fits.
    constexpr std::uint64_t mean(std::uint64_t count) const {
        if (count == 0) return 0;
        const wide sum = get();
        return static_cast<std::uint64_t>(sum / count + (sum % count >= count - count / 2 ? 1 : 0));
    }

private:
    constexpr void set(wide value) {
        low_ = static_cast<std::uint64_t>(value);
        high_ = static_cast<std::uint64_t>(value >> 64);
    }

    std::uint64_t low_ = 0;
    std::uint64_t high_ = 0;
};

}  // namespace mvt_trace

#endif
