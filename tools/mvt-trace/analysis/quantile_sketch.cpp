#include "analysis/quantile_sketch.h"

#include <algorithm>
#include <cmath>

namespace mvt_trace {

namespace {

const double gamma_ = (1 + quantile_sketch::relative_accuracy) / (1 - quantile_sketch::relative_accuracy);
const double log_gamma = std::log(gamma_);

}  // namespace

int quantile_sketch::bucket_of(std::uint64_t value) {
    return static_cast<int>(std::ceil(std::log(static_cast<double>(value)) / log_gamma));
}

std::uint64_t quantile_sketch::value_of(int bucket) {
    const double middle = 2 * std::exp(bucket * log_gamma) / (gamma_ + 1);
    return middle >= 18446744073709551615.0 ? UINT64_MAX : static_cast<std::uint64_t>(std::llround(middle));
}

void quantile_sketch::add(std::uint64_t value) {
    ++count_;
    if (value == 0) {
        ++zeros_;
        return;
    }
    const int bucket = bucket_of(value);
    if (counts_.empty()) {
        first_bucket_ = bucket;
        counts_.assign(1, 0);
    } else if (bucket < first_bucket_) {
        counts_.insert(counts_.begin(), static_cast<std::size_t>(first_bucket_ - bucket), 0);
        first_bucket_ = bucket;
    } else if (bucket >= first_bucket_ + static_cast<int>(counts_.size())) {
        counts_.resize(static_cast<std::size_t>(bucket - first_bucket_ + 1), 0);
    }
    ++counts_[static_cast<std::size_t>(bucket - first_bucket_)];
}

void quantile_sketch::merge(const quantile_sketch& other) {
    count_ += other.count_;
    zeros_ += other.zeros_;
    if (other.counts_.empty()) return;
    const int other_last = other.first_bucket_ + static_cast<int>(other.counts_.size()) - 1;
    if (counts_.empty()) {
        first_bucket_ = other.first_bucket_;
        counts_.assign(other.counts_.size(), 0);
    }
    if (other.first_bucket_ < first_bucket_) {
        counts_.insert(counts_.begin(), static_cast<std::size_t>(first_bucket_ - other.first_bucket_), 0);
        first_bucket_ = other.first_bucket_;
    }
    if (other_last >= first_bucket_ + static_cast<int>(counts_.size()))
        counts_.resize(static_cast<std::size_t>(other_last - first_bucket_ + 1), 0);
    for (std::size_t i = 0; i < other.counts_.size(); ++i)
        counts_[static_cast<std::size_t>(other.first_bucket_ - first_bucket_) + i] += other.counts_[i];
}

std::uint64_t quantile_sketch::quantile(double q) const {
    if (count_ == 0) return 0;
    q = std::min(1.0, std::max(0.0, q));
    const auto rank = static_cast<std::uint64_t>(q * static_cast<double>(count_ - 1));
    if (rank < zeros_) return 0;
    std::uint64_t below = zeros_;
    for (std::size_t i = 0; i < counts_.size(); ++i) {
        below += counts_[i];
        if (below > rank) return value_of(first_bucket_ + static_cast<int>(i));
    }
    return value_of(first_bucket_ + static_cast<int>(counts_.size()) - 1);
}

}  // namespace mvt_trace
