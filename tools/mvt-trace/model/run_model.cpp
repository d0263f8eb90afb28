#include "model/run_model.h"

#include <algorithm>

namespace mvt_trace {

long run_model::find(std::size_t process, const trace_id& id) const {
    const std::uint32_t* found = positions_.find(process, id);
    return found == nullptr ? -1 : static_cast<long>(*found);
}

long run_model::node_at(const id_map& map, std::size_t process, const trace_id& id) const {
    const std::uint32_t* found = map.find(process, id);
    if (found == nullptr || !node_flags_[*found]) return -1;
    return static_cast<long>(*found);
}

bool run_model::is_openmp_domain(std::size_t process, std::uint64_t domain) const {
    if (process >= openmp_domains_.size()) return false;
    const std::vector<std::uint64_t>& domains = openmp_domains_[process];
    return std::find(domains.begin(), domains.end(), domain) != domains.end();
}

long run_model::node_of_execution(std::size_t process, const trace_id& id, std::uint64_t domain) const {
    long node = node_at(positions_, process, id);
    if (node >= 0) return node;
    if (id.d2 == 0 && id.d3 == 0 && is_openmp_domain(process, domain)) {
        node = node_at(positions_, process, trace_id{id.d1, 1, 0});
        if (node >= 0) return node;
    }
    return node_at(bodies_, process, id);
}

std::string full_id_text(const trace_id& id) {
    return std::to_string(id.d1) + "." + std::to_string(id.d2) + "." + std::to_string(id.d3);
}

}  // namespace mvt_trace
