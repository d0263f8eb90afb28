#include "analysis/execution_totals.h"

#include <algorithm>

namespace mvt_trace {

void execution_totals::add(std::size_t process, std::uint32_t id, const execution& e, std::size_t limit) {
    if (gave_up_) return;
    if (process >= first_key_.size()) first_key_.resize(process + 1);
    key_list& first_key = first_key_[process];
    if (id >= first_key.size()) first_key.resize(id + std::size_t{1}, id_table::none);
    if (first_key[id] == id_table::none && ++identifiers_ > limit) {
        give_up();
        return;
    }
    const std::uint64_t duration = e.end - e.begin;
    std::uint32_t* link = &first_key[id];
    while (*link != id_table::none) {
        key_slot& key = keys_[*link];
        if (key.domain == e.domain && key.name == e.name) {
            key.first_begin = std::min(key.first_begin, e.begin);
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
    keys_.push_back({e.domain, e.name, duration, e.begin, id_table::none, id_table::none});
}

void execution_totals::give_up() {
    gave_up_ = true;
    first_key_ = std::vector<key_list>();
    keys_ = chunked_vector<key_slot>();
    stats_ = chunked_vector<gathered>();
}

void execution_totals::settle() {
    for (std::size_t i = 0; i < stats_.size(); ++i) stats_[i].add_waiting();
}

}  // namespace mvt_trace
