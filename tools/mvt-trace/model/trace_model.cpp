#include "model/trace_model.h"

#include <algorithm>

namespace mvt_trace {

bool trace_model::process::is_openmp_domain(std::uint64_t domain) const {
    return std::find(openmp_domains.begin(), openmp_domains.end(), domain) != openmp_domains.end();
}

trace_model::activity trace_model::activity_of(std::uint32_t process) const {
    activity found;
    for (const thread& t : threads_) {
        if (process != no_index && t.process != process) continue;
        found.threads += t.records > 0 ? 1 : 0;
        found.records += t.records;
    }
    return found;
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
