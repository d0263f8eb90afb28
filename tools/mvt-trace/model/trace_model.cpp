#include "model/trace_model.h"

#include <algorithm>

namespace mvt_trace {

bool trace_model::process::is_openmp_domain(std::uint64_t domain) const {
    return std::find(openmp_domains.begin(), openmp_domains.end(), domain) != openmp_domains.end();
}

std::size_t trace_model::active_threads() const {
    return static_cast<std::size_t>(
        std::count_if(threads_.begin(), threads_.end(), [](const thread& t) { return t.records > 0; }));
}

std::pair<const trace_model::metadata_value*, const trace_model::metadata_value*> trace_model::metadata_of(
    std::uint32_t process, std::uint32_t id) const {
    const trace_model::process& p = processes_[process];
    if (id + 1 >= p.metadata_begin.size()) return {nullptr, nullptr};
    const metadata_value* base = p.metadata.data();
    return {base + p.metadata_begin[id], base + p.metadata_begin[id + 1]};
}

std::string full_id_text(const trace_id& id) {
    return std::to_string(id.d1) + "." + std::to_string(id.d2) + "." + std::to_string(id.d3);
}

}  // namespace mvt_trace
