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

std::string full_id_text(const trace_id& id) {
    return std::to_string(id.d1) + "." + std::to_string(id.d2) + "." + std::to_string(id.d3);
}

}  // namespace mvt_trace
