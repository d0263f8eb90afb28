#ifndef MVT_TRACE_OUTPUT_REPORT_TIME_BUCKETS_H
#define MVT_TRACE_OUTPUT_REPORT_TIME_BUCKETS_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace mvt_trace {

// Executions of one drawing row summed up by when they began: per bucket of
// time, the earliest begin, the latest end and how many. The run's extent is
// not known while it is read, so the buckets start a nanosecond wide and
// double whenever the row's executions would need more than `capacity` of
// them: memory stays constant, and a bucket is never wider than twice the
// row's extent divided by the capacity.
class time_buckets {
public:
    struct bucket {
        std::uint64_t begin = 0;
        std::uint64_t end = 0;
        std::uint64_t count = 0;

        // Adds `executions` that span [first_begin, last_end].
        void absorb(std::uint64_t first_begin, std::uint64_t last_end, std::uint64_t executions) {
            begin = count == 0 ? first_begin : std::min(begin, first_begin);
            end = count == 0 ? last_end : std::max(end, last_end);
            count += executions;
        }
    };

    explicit time_buckets(std::size_t capacity = 2048) : capacity_(capacity < 2 ? 2 : capacity) {}

    void add(std::uint64_t begin, std::uint64_t end);
    bool empty() const { return buckets_.empty(); }

    // visit(bucket) for each bucket that holds executions, earliest first.
    template <typename Visit>
    void for_each(Visit visit) const {
        for (const bucket& b : buckets_)
            if (b.count > 0) visit(b);
    }

private:
    void widen();

    std::size_t capacity_;
    unsigned shift_ = 0;            // buckets are 2^shift_ nanoseconds wide
    std::uint64_t first_key_ = 0;  // begin >> shift_ of buckets_[0]
    std::vector<bucket> buckets_;
};

}  // namespace mvt_trace

#endif
