#include "analysis/quantile_sketch.h"

#include <algorithm>
#include <cmath>

#include "common/saturating.h"

namespace mvt_trace {

namespace {

// Where each bucket of an octave begins, as a fraction of the octave's
// first value: 2^(b/35) for b = 0..35.
// first_below[i] is the last bucket that begins at or before 1 + i / 256:
// a fraction's bucket is that of its 256th, or one of the next few.
struct octave_bounds {
    static constexpr int cells = 256;
    double start[quantile_sketch::buckets_per_octave + 1];
    double inverse_octave[64];  // 2^-octave
    int first_below[cells];
    octave_bounds() {
        for (int b = 0; b <= quantile_sketch::buckets_per_octave; ++b)
            start[b] = std::exp2(static_cast<double>(b) / quantile_sketch::buckets_per_octave);
        for (int octave = 0; octave < 64; ++octave) inverse_octave[octave] = std::ldexp(1.0, -octave);
        for (int i = 0; i < cells; ++i) {
            const double cell = 1.0 + static_cast<double>(i) / cells;
            int b = 0;
            while (b + 1 < quantile_sketch::buckets_per_octave && start[b + 1] <= cell) ++b;
            first_below[i] = b;
        }
    }
};

const octave_bounds bounds;
const double gamma_ = bounds.start[1];

}  // namespace

// The octave from the highest bit set, the bucket within it from a table
// and a comparison or two with its bounds: no logarithm per value.
int quantile_sketch::bucket_of(std::uint64_t value) {
    const int octave = 63 - __builtin_clzll(value);
    const double fraction = static_cast<double>(value) * bounds.inverse_octave[octave];
    const int cell = std::min(octave_bounds::cells - 1, static_cast<int>((fraction - 1.0) * octave_bounds::cells));
    int bucket = bounds.first_below[cell];
    while (bucket + 1 < buckets_per_octave && fraction >= bounds.start[bucket + 1]) ++bucket;
    return octave * buckets_per_octave + bucket;
}

std::uint64_t quantile_sketch::value_of(int bucket) {
    const int octave = bucket / buckets_per_octave;
    const double lower = std::ldexp(bounds.start[bucket % buckets_per_octave], octave);
    // The top octave's values lie past 2^63, where llround cannot go.
    return saturating_round(2 * lower * gamma_ / (1 + gamma_));
}

quantile_sketch::quantile_sketch(const quantile_sketch& other)
    : zeros_(other.zeros_),
      single_count_(other.single_count_),
      counts_(other.counts_),
      spilled_(other.spilled_ ? std::make_unique<spill_map>(*other.spilled_) : nullptr),
      single_bucket_(other.single_bucket_),
      first_bucket_(other.first_bucket_) {}

quantile_sketch& quantile_sketch::operator=(const quantile_sketch& other) {
    if (this != &other) *this = quantile_sketch(other);
    return *this;
}

std::uint64_t quantile_sketch::count() const {
    std::uint64_t n = saturating_add(zeros_, single_count_);
    for (std::size_t i = 0; i < counts_.size(); ++i) n = saturating_add(n, in_bucket(i));
    return n;
}

void quantile_sketch::add(std::uint64_t value) {
    if (value == 0)
        ++zeros_;
    else
        add_to_bucket(bucket_of(value), 1);
}

void quantile_sketch::add_to_bucket(int bucket, std::uint64_t n) {
    if (counts_.empty()) {
        if (single_count_ == 0 || single_bucket_ == bucket) {
            single_bucket_ = static_cast<std::int16_t>(bucket);
            single_count_ = saturating_add(single_count_, n);
            return;
        }
        first_bucket_ = single_bucket_;
        counts_.assign(1, 0);
        add_to_range(single_bucket_, single_count_);
        single_count_ = 0;
    }
    add_to_range(bucket, n);
}

// Adds to the dense range, widening it as needed; what a 32-bit count
// cannot hold goes to spilled_.
void quantile_sketch::add_to_range(int bucket, std::uint64_t n) {
    if (bucket < first_bucket_) {
        const auto shift = static_cast<std::size_t>(first_bucket_ - bucket);
        counts_.insert(counts_.begin(), shift, 0);
        if (spilled_) {
            spill_map moved;
            for (const auto& [at, spilled] : *spilled_) moved[at + shift] = spilled;
            spilled_->swap(moved);
        }
        first_bucket_ = static_cast<std::int16_t>(bucket);
    } else if (bucket >= first_bucket_ + static_cast<int>(counts_.size())) {
        counts_.resize(static_cast<std::size_t>(bucket - first_bucket_ + 1), 0);
    }
    const auto at = static_cast<std::size_t>(bucket - first_bucket_);
    const std::uint64_t sum = saturating_add(counts_[at], n);
    if (sum < UINT32_MAX) {
        counts_[at] = static_cast<std::uint32_t>(sum);
        return;
    }
    counts_[at] = static_cast<std::uint32_t>(sum % UINT32_MAX);
    if (!spilled_) spilled_ = std::make_unique<spill_map>();
    std::uint64_t& spilled = (*spilled_)[at];
    spilled = saturating_add(spilled, sum - sum % UINT32_MAX);
}

std::uint64_t quantile_sketch::in_bucket(std::size_t i) const {
    if (!spilled_) return counts_[i];
    auto found = spilled_->find(i);
    return saturating_add(counts_[i], found == spilled_->end() ? 0 : found->second);
}

void quantile_sketch::merge(const quantile_sketch& other) {
    zeros_ = saturating_add(zeros_, other.zeros_);
    if (other.single_count_ > 0) add_to_bucket(other.single_bucket_, other.single_count_);
    for (std::size_t i = 0; i < other.counts_.size(); ++i)
        if (const std::uint64_t n = other.in_bucket(i)) add_to_bucket(other.first_bucket_ + static_cast<int>(i), n);
}

std::uint64_t quantile_sketch::quantile(double q) const {
    const std::uint64_t n = count();
    if (n == 0) return 0;
    q = std::min(1.0, std::max(0.0, q));
    // The nearest rank: the smallest value that at least a share q of the
    // values do not exceed, so that p95 of three runs is the slowest. The
    // small allowance keeps q n that is a whole number in theory (0.95 x 20)
    // from rounding up past it.
    const double at_least = std::ceil(q * static_cast<double>(n) - 1e-9);
    const auto rank = at_least <= 1 ? std::uint64_t{0} : std::min(n, static_cast<std::uint64_t>(at_least)) - 1;
    if (rank < zeros_) return 0;
    if (counts_.empty()) return value_of(single_bucket_);
    std::uint64_t below = zeros_;
    for (std::size_t i = 0; i < counts_.size(); ++i) {
        below = saturating_add(below, in_bucket(i));
        if (below > rank) return value_of(first_bucket_ + static_cast<int>(i));
    }
    return value_of(first_bucket_ + static_cast<int>(counts_.size()) - 1);
}

}  // namespace mvt_trace
