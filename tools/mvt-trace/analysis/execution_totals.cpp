#include "analysis/execution_totals.h"

namespace mvt_trace {

void execution_totals::add(std::size_t process, const execution& e, std::size_t limit) {
    if (gave_up_) return;
    if (process >= processes_.size()) processes_.resize(process + 1);
    per_process& p = processes_[process];
    const std::uint32_t number = p.ids.intern(e.id);
    if (number == p.first_key.size()) {
        p.first_key.push_back(id_table::none);
        if (++identifiers_ > limit) {
            give_up();
            return;
        }
    }
    const std::uint64_t duration = e.end - e.begin;
    std::uint32_t* link = &p.first_key[number];
    while (*link != id_table::none) {
        key_slot& key = keys_[*link];
        if (key.domain == e.domain && key.name == e.name) {
            if (key.stats == id_table::none) {
                key.stats = static_cast<std::uint32_t>(stats_.size());
                stats_.push_back(gathered{});
                stats_.back().add(key.single);
            }
            stats_[key.stats].add(duration);
            return;
        }
        link = &key.next;
    }
    *link = static_cast<std::uint32_t>(keys_.size());
    keys_.push_back({e.domain, e.name, duration, id_table::none, id_table::none});
}

void execution_totals::give_up() {
    gave_up_ = true;
    processes_ = std::vector<per_process>();
    keys_ = chunked_vector<key_slot>();
    stats_ = chunked_vector<gathered>();
}

void execution_totals::settle() {
    for (std::size_t i = 0; i < stats_.size(); ++i) stats_[i].add_waiting();
}

}  // namespace mvt_trace
