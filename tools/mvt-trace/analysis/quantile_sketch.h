#ifndef MVT_TRACE_QUANTILE_SKETCH_H
#define MVT_TRACE_QUANTILE_SKETCH_H

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace mvt_trace {

// Quantiles of durations without keeping the durations: each value is
// counted in a bucket of logarithmically spaced bounds, 35 to each power of
// two (gamma = 2^(1/35), a bucket holds L <= v < L gamma), and a quantile
// answers with the value 2 L gamma / (1 + gamma) of its bucket. That answer
// lies within a relative error (gamma - 1) / (gamma + 1) < 1% of the value of
// that rank, whatever the values and however many: the quantile q answers
// for the value of nearest rank, the ceil(q n)-th smallest (the smallest when
// q n < 1), within 1%. Zero is a bucket of its own and is answered exactly.
//
// The buckets in use form one dense range that grows as needed: durations
// within a factor of ten of each other take some 117 buckets (4 bytes each),
// and no 64-bit value needs more than 64 x 35 = 2,240. A run may have a
// sketch per node by the hundred thousand: the sketch itself is 48 bytes.
class quantile_sketch {
public:
    static constexpr int buckets_per_octave = 35;

    quantile_sketch() = default;
    quantile_sketch(const quantile_sketch& other);
    quantile_sketch& operator=(const quantile_sketch& other);
    quantile_sketch(quantile_sketch&&) noexcept = default;
    quantile_sketch& operator=(quantile_sketch&&) noexcept = default;

    void add(std::uint64_t value);
    // Needs at least one value added; q in [0, 1].
    std::uint64_t quantile(double q) const;
    std::uint64_t count() const;
    // Adds the values counted by another sketch.
    void merge(const quantile_sketch& other);

private:
    using spill_map = std::map<std::size_t, std::uint64_t>;

    static int bucket_of(std::uint64_t value);
    static std::uint64_t value_of(int bucket);

    std::uint64_t in_bucket(std::size_t i) const;
    void add_to_bucket(int bucket, std::uint64_t n);
    void add_to_range(int bucket, std::uint64_t n);

    std::uint64_t zeros_ = 0;
    // Until a second bucket is needed (a node that ran once, or always for
    // about as long) the one bucket is kept here, with no allocation.
    std::uint64_t single_count_ = 0;
    // 32-bit counts keep the buckets of many nodes in cache; a count that
    // fills up moves its 2^32 - 1 into `spilled_`, which is almost always
    // absent.
    std::vector<std::uint32_t> counts_;
    std::unique_ptr<spill_map> spilled_;  // by position in counts_
    std::int16_t single_bucket_ = 0;
    std::int16_t first_bucket_ = 0;  // the bucket of counts_[0]
};

}  // namespace mvt_trace

#endif
