#include "analysis/concurrency.h"

#include "common/saturating.h"
#include "model/trace_model.h"

#include <algorithm>
#include <cmath>

namespace mvt_trace {

concurrency_meter::concurrency_meter(std::uint64_t first, std::uint64_t last, std::size_t buckets)
    : first_(first), last_(std::max(first, last)), now_(first) {
    const bucket_layout layout = buckets_for(last_ - first_, buckets);
    profile_.bucket_ns = layout.width;
    busy_time_.assign(static_cast<std::size_t>(layout.count), 0);
}

void concurrency_meter::advance(std::uint64_t timestamp) {
    timestamp = std::min(timestamp, last_);
    if (timestamp <= now_) return;
    if (profile_.time_at.size() <= busy_) profile_.time_at.resize(busy_ + 1, 0);
    profile_.time_at[busy_] += timestamp - now_;
    if (busy_ > 0) add_to_series(now_, timestamp);
    now_ = timestamp;
}

// Spreads busy_ x (to - from) over the buckets that the interval covers.
void concurrency_meter::add_to_series(std::uint64_t from, std::uint64_t to) {
    const std::uint64_t width = profile_.bucket_ns;
    std::uint64_t at = from - first_;
    const std::uint64_t end = to - first_;
    while (at < end) {
        const std::uint64_t bucket = at / width;
        // Written so that nothing wraps for runs that span nearly 2^64 ns.
        const std::uint64_t to_bucket_end = width - at % width;
        const std::uint64_t bucket_end = end - at <= to_bucket_end ? end : at + to_bucket_end;
        busy_time_[static_cast<std::size_t>(bucket)] +=
            static_cast<double>(busy_) * static_cast<double>(bucket_end - at);
        at = bucket_end;
    }
}

concurrency_profile concurrency_meter::finish() {
    advance(last_);
    const std::uint64_t wall = last_ - first_;
    if (profile_.time_at.empty()) profile_.time_at.assign(1, wall);
    double weighted = 0;
    for (std::size_t k = 0; k < profile_.time_at.size(); ++k) {
        weighted += static_cast<double>(k) * static_cast<double>(profile_.time_at[k]);
        if (profile_.time_at[k] > 0) profile_.max = k;
    }
    profile_.average = wall == 0 ? 0 : weighted / static_cast<double>(wall);
    profile_.series.resize(busy_time_.size());
    for (std::size_t b = 0; b < busy_time_.size(); ++b) {
        const std::uint64_t begin = b * profile_.bucket_ns;
        const std::uint64_t length = std::min(wall - begin, profile_.bucket_ns);
        profile_.series[b] = length == 0 ? 0 : busy_time_[b] / static_cast<double>(length);
    }
    return std::move(profile_);
}


namespace {

struct busy_change {
    std::uint64_t at;
    int change;
};

}  // namespace

concurrency_profile measure_concurrency(const trace_model& model, bool work_only, std::size_t buckets) {
    // Each thread's busy stretches, in order: pieces nest or follow one
    // another, so their union is one pass in order of begin.
    std::vector<std::vector<busy_change>> changes(model.threads().size());
    for (std::size_t t = 0; t < model.threads().size(); ++t) {
        std::vector<busy_change>& mine = changes[t];
        bool busy = false;
        std::uint64_t from = 0, to = 0;
        const auto [first, last] = model.pieces_of_thread(t);
        // At most two changes a piece: room for all at once, touched only
        // as far as used, rather than grown and copied.
        mine.reserve(2 * static_cast<std::size_t>(last - first));
        for (const std::uint32_t* i = first; i != last; ++i) {
            const trace_model::piece& stretch = model.pieces()[*i];
            const trace_model::execution& e = model.executions()[stretch.execution];
            if (work_only && !e.is_work()) continue;
            // An execution that never ended is not guessed to run until the
            // end of its file: its last piece keeps no thread busy.
            if (e.open_at_end && stretch.next == no_index) continue;
            if (busy && stretch.begin <= to) {
                to = std::max(to, stretch.end);
                continue;
            }
            if (busy) mine.push_back({from, +1}), mine.push_back({to, -1});
            busy = true;
            from = stretch.begin;
            to = stretch.end;
        }
        if (busy) mine.push_back({from, +1}), mine.push_back({to, -1});
    }
    // The threads' changes merged in time order: each list is in order
    // already, so a heap of their heads does it without sorting them all.
    struct head {
        std::uint64_t at;
        std::size_t thread;
        std::size_t next;
    };
    const auto later = [](const head& a, const head& b) { return a.at > b.at; };
    std::vector<head> heads;
    for (std::size_t t = 0; t < changes.size(); ++t)
        if (!changes[t].empty()) heads.push_back({changes[t][0].at, t, 0});
    std::make_heap(heads.begin(), heads.end(), later);
    concurrency_meter meter(model.first_timestamp(), model.last_timestamp(), buckets);
    while (!heads.empty()) {
        std::pop_heap(heads.begin(), heads.end(), later);
        head& h = heads.back();
        const busy_change& c = changes[h.thread][h.next];
        meter.advance(c.at);
        if (c.change > 0)
            meter.thread_busy();
        else
            meter.thread_idle();
        if (++h.next < changes[h.thread].size()) {
            h.at = changes[h.thread][h.next].at;
            std::push_heap(heads.begin(), heads.end(), later);
        } else {
            heads.pop_back();
        }
    }
    return meter.finish();
}

}  // namespace mvt_trace
