#include "model/run_model.h"

#include <algorithm>

namespace mvt_trace {

long run_model::find(std::size_t process, const trace_id& id) const {
    if (process >= ids_.size()) return -1;
    const std::uint32_t number = ids_[process].find(id);
    if (number == id_table::none) return -1;
    const std::uint32_t object = object_of_id_[process][number];
    return object == id_table::none ? -1 : static_cast<long>(object);
}

long run_model::node_in(const std::vector<number_list>& table, std::size_t process, std::uint32_t number) const {
    if (number == id_table::none) return -1;
    const std::uint32_t object = table[process][number];
    if (object == id_table::none || !node_flags_[object]) return -1;
    return static_cast<long>(object);
}

bool run_model::is_openmp_domain(std::size_t process, std::uint64_t domain) const {
    if (process >= openmp_domains_.size()) return false;
    const std::vector<std::uint64_t>& domains = openmp_domains_[process];
    return std::find(domains.begin(), domains.end(), domain) != domains.end();
}

long run_model::node_of_execution(std::size_t process, const trace_id& id, std::uint64_t domain) const {
    if (process >= ids_.size()) return -1;
    return node_of_execution_number(process, ids_[process].find(id), domain);
}

long run_model::node_of_execution_number(std::size_t process, std::uint32_t number, std::uint64_t domain) const {
    if (process >= ids_.size() || number == id_table::none) return -1;
    const trace_id& id = ids_[process].id(number);
    long node = node_in(object_of_id_, process, number);
    if (node >= 0) return node;
    if (id.d2 == 0 && id.d3 == 0 && is_openmp_domain(process, domain)) {
        node = node_in(object_of_id_, process, ids_[process].find(trace_id{id.d1, 1, 0}));
        if (node >= 0) return node;
    }
    return node_in(body_of_id_, process, number);
}

std::string full_id_text(const trace_id& id) {
    return std::to_string(id.d1) + "." + std::to_string(id.d2) + "." + std::to_string(id.d3);
}

}  // namespace mvt_trace
