#ifndef MVT_TRACE_QUANTILE_SKETCH_H
#define MVT_TRACE_QUANTILE_SKETCH_H

#include <cstdint>
#include <vector>

namespace mvt_trace {

// Quantiles of durations without keeping the durations: each value is
// counted in a bucket of logarithmically spaced bounds, gamma^(i-1) < v <=
// gamma^i with gamma = (1 + a) / (1 - a), and a quantile answers with the
// middle of its bucket, 2 gamma^i / (gamma + 1). That answer lies within a
// relative error a = 1% of the value of that rank, whatever the values and
// however many: the quantile q answers for the value at rank floor(q (n-1))
// of the sorted values (0-based), within 1%. Zero is a bucket of its own and
// is answered exactly.
//
// The buckets in use form one dense range that grows as needed: durations
// within a factor of ten of each other take some 116 buckets, and no
// 64-bit value needs more than about 2,200.
class quantile_sketch {
public:
    static constexpr double relative_accuracy = 0.01;

    void add(std::uint64_t value);
    // Needs at least one value added; q in [0, 1].
    std::uint64_t quantile(double q) const;
    std::uint64_t count() const { return count_; }
    // Adds the values counted by another sketch.
    void merge(const quantile_sketch& other);

private:
    static int bucket_of(std::uint64_t value);
    static std::uint64_t value_of(int bucket);

    std::uint64_t count_ = 0;
    std::uint64_t zeros_ = 0;
    int first_bucket_ = 0;  // the bucket of counts_[0]
    std::vector<std::uint64_t> counts_;
};

}  // namespace mvt_trace

#endif
