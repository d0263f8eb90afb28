#ifndef MVT_TRACE_CONCURRENCY_H
#define MVT_TRACE_CONCURRENCY_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mvt_trace {

class trace_model;

// How many threads were busy at once over a run: a thread is busy while it
// has at least one execution open, so nested executions count once.
struct concurrency_profile {
    // time_at[k]: nanoseconds during which exactly k threads were busy; the
    // entries add up to the wall time.
    std::vector<std::uint64_t> time_at;
    double average = 0;  // busy threads, averaged over the wall time
    std::size_t max = 0;  // the most busy at once for a nonzero time
    // The mean number of busy threads per bucket of bucket_ns over the wall
    // time (the last bucket may be shorter and is averaged over its length).
    std::uint64_t bucket_ns = 1;
    std::vector<double> series;
};

class concurrency_meter {
public:
    // The run spans [first, last]; the series gets about `buckets` buckets.
    concurrency_meter(std::uint64_t first, std::uint64_t last, std::size_t buckets = 1000);

    // Time has come to `timestamp`; the busy count so far held until then.
    // Earlier timestamps than one already seen change nothing.
    void advance(std::uint64_t timestamp);
    // A thread became busy or idle at the current time.
    void thread_busy() { ++busy_; }
    void thread_idle() {
        if (busy_ > 0) --busy_;
    }

    // Advances to the end of the run.
    concurrency_profile finish();

private:
    void add_to_series(std::uint64_t from, std::uint64_t to);

    std::uint64_t first_;
    std::uint64_t last_;
    std::uint64_t now_;
    std::size_t busy_ = 0;
    concurrency_profile profile_;
    std::vector<double> busy_time_;  // per bucket: busy threads x ns
};

// Over the model's pieces, from the run's first timestamp to its last.
// work_only counts only the program's tasks (trace_model::execution::
// is_work), leaving out the runtime's own executions: OpenMP's implicit
// tasks, for one, include the time their threads wait at barriers.
concurrency_profile measure_concurrency(const trace_model& model, bool work_only, std::size_t buckets = 1000);

}  // namespace mvt_trace

#endif
