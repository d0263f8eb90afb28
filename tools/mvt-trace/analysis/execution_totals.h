#ifndef MVT_TRACE_EXECUTION_TOTALS_H
#define MVT_TRACE_EXECUTION_TOTALS_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "analysis/duration_stats.h"
#include "common/large_allocator.h"
#include "model/chunked_vector.h"
#include "model/execution_tracker.h"
#include "model/id_table.h"

namespace mvt_trace {

// The durations of a run's closed executions, gathered while the run is read
// and kept by identifier, domain and name handle rather than by node: the
// declarations that say which node an identifier runs as may come later in
// the read than its executions. Identifiers come as the numbers the model
// builder gives them (run_model_builder::number_of). Once the model is built,
// for_each hands out each identifier's statistics to be summed up by node.
//
// An identifier costs a few words; full statistics are made only for those
// that run more than once. A run whose every execution has an identifier of
// its own and no node would make this grow with the executions: past the
// limit given to add() it gives up and frees what it holds (and its caller
// stops numbering executions), and the executions must be read again with
// the model at hand.
class execution_totals {
public:
    explicit execution_totals(std::size_t processes) : first_key_(processes) {}

    // A closed execution of a process, whose identifier has the number
    // given; `limit` is how many identifiers may be held.
    void add(std::size_t process, std::uint32_t id, const execution& e, std::size_t limit);
    bool gave_up() const { return gave_up_; }
    // Adds in what is still waiting; before for_each.
    void settle();

    // visit(process, identifier number, domain, name handle, the one
    // duration or null, the statistics or null, the earliest begin) for each
    // identifier, domain and name that ran: the one duration when it ran
    // once, else the statistics, which the visitor may take.
    template <typename Visit>
    void for_each(Visit visit) {
        for (std::size_t p = 0; p < first_key_.size(); ++p)
            for (std::uint32_t id = 0; id < first_key_[p].size(); ++id)
                for (std::uint32_t at = first_key_[p][id]; at != id_table::none; at = keys_[at].next) {
                    const key_slot& key = keys_[at];
                    duration_stats* stats = key.stats == id_table::none ? nullptr : &stats_[key.stats].stats;
                    visit(p, id, key.domain, key.name, stats ? nullptr : &key.single, stats, key.first_begin);
                }
    }

private:
    struct key_slot {
        std::uint64_t domain;
        std::uint64_t name;
        std::uint64_t single;  // the one duration, until there is a second
        std::uint64_t first_begin;
        std::uint32_t next;    // the identifier's next key, or none
        std::uint32_t stats;   // in stats_ once there are two, else none
    };
    // The statistics of an identifier that ran more than once, and its
    // last durations, added eight at a time: a run with thousands of
    // nodes keeps more statistics than fit in cache, and each added
    // duration touches the statistics and the buckets of the sketch.
    struct gathered {
        duration_stats stats;
        std::uint64_t waiting[8];
        std::uint32_t waiting_count = 0;

        void add(std::uint64_t duration) {
            if (waiting_count == 8) add_waiting();
            waiting[waiting_count++] = duration;
        }
        void add_waiting() {
            for (std::uint32_t i = 0; i < waiting_count; ++i) stats.add(waiting[i]);
            waiting_count = 0;
        }
    };
    using key_list = std::vector<std::uint32_t, large_allocator<std::uint32_t>>;

    void give_up();

    std::vector<key_list> first_key_;  // per process, by identifier number
    chunked_vector<key_slot> keys_;
    chunked_vector<gathered> stats_;
    std::size_t identifiers_ = 0;
    bool gave_up_ = false;
};

}  // namespace mvt_trace

#endif
