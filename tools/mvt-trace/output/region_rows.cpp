#include "output/region_rows.h"

#include <algorithm>

namespace mvt_trace {

std::vector<std::uint32_t> regions_by_begin(const trace_model& model) {
    const auto& regions = model.regions();
    std::vector<std::uint32_t> order(regions.size());
    for (std::uint32_t r = 0; r < order.size(); ++r) order[r] = r;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return regions[a].begin < regions[b].begin; });
    return order;
}

std::vector<std::uint32_t> region_rows(const trace_model& model, const std::vector<std::uint32_t>& by_begin) {
    const auto& regions = model.regions();
    std::vector<std::uint32_t> rows(regions.size(), 0);
    // Per thread, when each row is free again.
    std::vector<std::vector<std::uint64_t>> free_at(model.threads().size());
    for (std::uint32_t r : by_begin) {
        const trace_model::region& region = regions[r];
        std::vector<std::uint64_t>& free = free_at[region.begin_thread];
        std::size_t row = 0;
        while (row < free.size() && free[row] > region.begin) ++row;
        if (row == free.size()) free.push_back(0);
        free[row] = region.end;
        rows[r] = static_cast<std::uint32_t>(row);
    }
    return rows;
}

}  // namespace mvt_trace
