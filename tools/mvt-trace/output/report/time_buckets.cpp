#include "output/report/time_buckets.h"

#include <algorithm>

namespace mvt_trace {

void time_buckets::add(std::uint64_t begin, std::uint64_t end) {
    for (;;) {
        const std::uint64_t key = begin >> shift_;
        if (buckets_.empty()) {
            first_key_ = key;
            buckets_.resize(1);
        }
        const std::uint64_t low = std::min(first_key_, key);
        const std::uint64_t high = std::max<std::uint64_t>(first_key_ + (buckets_.size() - 1), key);
        if (high - low < capacity_) {
            if (key < first_key_) {
                buckets_.insert(buckets_.begin(), static_cast<std::size_t>(first_key_ - key), bucket{});
                first_key_ = key;
            } else if (key - first_key_ >= buckets_.size()) {
                buckets_.resize(static_cast<std::size_t>(key - first_key_) + 1);
            }
            buckets_[static_cast<std::size_t>(key - first_key_)].absorb(begin, end, 1);
            return;
        }
        widen();
    }
}

// Each bucket of twice the width holds two of the old ones: the old ones'
// earliest begins say which.
void time_buckets::widen() {
    ++shift_;
    const std::uint64_t first = first_key_ >> 1;
    const std::uint64_t last = (first_key_ + (buckets_.size() - 1)) >> 1;
    std::vector<bucket> wider(static_cast<std::size_t>(last - first) + 1);
    for (const bucket& old : buckets_) {
        if (old.count == 0) continue;
        wider[static_cast<std::size_t>((old.begin >> shift_) - first)].absorb(old.begin, old.end, old.count);
    }
    buckets_ = std::move(wider);
    first_key_ = first;
}

}  // namespace mvt_trace
