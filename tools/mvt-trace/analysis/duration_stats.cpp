#include "analysis/duration_stats.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace mvt_trace {

void duration_stats::set_squares(wide squares) {
    squares_low_ = static_cast<std::uint64_t>(squares);
    squares_high_ = static_cast<std::uint64_t>(squares >> 64);
}

static_assert(sizeof(long double) <= 2 * sizeof(std::uint64_t), "the deviations live in the squares' two words");

void duration_stats::set_deviations(long double value) {
    std::uint64_t words[2] = {0, 0};
    std::memcpy(words, &value, sizeof value);
    squares_low_ = words[0];
    squares_high_ = words[1];
}

namespace {

// The mean of n values summing to total, as its integer part and the
// fraction's numerator over n: exact, where a floating-point total near
// 2^66 would be a few units off.
struct exact_mean {
    std::uint64_t whole = 0;
    std::uint64_t remainder = 0;
    std::uint64_t n = 1;

    exact_mean(const wide_total& total, std::uint64_t count) {
        if (count == 0) return;
        n = count;
        whole = static_cast<std::uint64_t>(total.get() / count);  // no more than the largest value
        remainder = static_cast<std::uint64_t>(total.get() % count);
    }
    long double fraction() const { return static_cast<long double>(remainder) / static_cast<long double>(n); }
};

// a - b for two means, or a value and a mean, with the large parts
// subtracted in integers first.
long double difference(const exact_mean& a, const exact_mean& b) {
    const long double whole = a.whole >= b.whole ? static_cast<long double>(a.whole - b.whole)
                                                 : -static_cast<long double>(b.whole - a.whole);
    return whole + (a.fraction() - b.fraction());
}

exact_mean value_as_mean(std::uint64_t value) {
    wide_total one;
    one.add(value);
    return exact_mean(one, 1);
}

}  // namespace

// Exact while the total fits in 64 bits (its square then fits in 128) and
// the sum of squares in 128.
bool duration_stats::exact_with(const wide_total& total, wide squares, wide more) const {
    return !approximate_ && total.fits_64() && squares + more >= squares;
}

long double duration_stats::deviations() const {
    if (approximate_) {
        const std::uint64_t words[2] = {squares_low_, squares_high_};
        long double stored = 0;
        std::memcpy(&stored, words, sizeof stored);
        return stored;
    }
    if (count_ < 2) return 0;
    // n variance = sum of squares - total^2 / n, with the division done
    // exactly in integers (quotient and remainder) so that no cancellation
    // loses digits.
    const wide total = total_.get(), n = count_;
    const wide squared_total = total * total;
    const wide spread = squares() - squared_total / n;
    return static_cast<long double>(spread) -
           static_cast<long double>(squared_total % n) / static_cast<long double>(n);
}

void duration_stats::add(std::uint64_t duration) {
    min_ = count_ == 0 ? duration : std::min(min_, duration);
    max_ = std::max(max_, duration);
    sketch_.add(duration);
    const wide square = static_cast<wide>(duration) * duration;
    wide_total grown = total_;
    grown.add(duration);
    if (exact_with(grown, squares(), square)) {
        ++count_;
        total_ = grown;
        set_squares(squares() + square);
        return;
    }
    const long double before = deviations();
    const exact_mean value = value_as_mean(duration);
    const long double from_old_mean = difference(value, exact_mean(total_, count_));
    ++count_;
    total_ = grown;
    approximate_ = true;
    set_deviations(before + from_old_mean * difference(value, exact_mean(total_, count_)));
}

void duration_stats::merge(const duration_stats& other) {
    if (other.count_ == 0) return;
    if (count_ == 0) {
        *this = other;
        return;
    }
    wide_total total = total_;
    total.add(other.total_);
    if (!other.approximate_ && exact_with(total, squares(), other.squares())) {
        set_squares(squares() + other.squares());
    } else {
        // The deviations of two parts joined: each part's own, plus what the
        // distance between their means adds.
        const long double n = static_cast<long double>(count_), m = static_cast<long double>(other.count_);
        const long double apart = difference(exact_mean(other.total_, other.count_), exact_mean(total_, count_));
        const long double joined = deviations() + other.deviations() + apart * apart * n * m / (n + m);
        approximate_ = true;
        set_deviations(joined);
    }
    count_ += other.count_;
    total_ = total;
    min_ = std::min(min_, other.min_);
    max_ = std::max(max_, other.max_);
    sketch_.merge(other.sketch_);
}

std::uint64_t duration_stats::stddev() const {
    if (count_ < 2) return 0;
    const long double variance = std::max(0.0L, deviations()) / static_cast<long double>(count_);
    return saturating_round(std::sqrt(variance));
}

std::uint64_t duration_stats::percentile(double q) const {
    if (count_ == 0) return 0;
    return std::clamp(sketch_.quantile(q), min_, max_);
}

}  // namespace mvt_trace
