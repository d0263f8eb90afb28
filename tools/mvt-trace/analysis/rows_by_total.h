#ifndef MVT_TRACE_ROWS_BY_TOTAL_H
#define MVT_TRACE_ROWS_BY_TOTAL_H

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

namespace mvt_trace {

// Orders rows of statistics (anything with `stats.total()`) by total time,
// the largest first. Ties keep the order the rows were made in, so output
// never depends on hashing. The rows are large: their order is found on
// small keys, and each row is moved once.
template <typename Row>
void sort_by_total(std::vector<Row>& rows) {
    std::vector<std::pair<std::uint64_t, std::uint32_t>> order(rows.size());
    for (std::uint32_t i = 0; i < rows.size(); ++i) order[i] = {rows[i].stats.total(), i};
    std::sort(order.begin(), order.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    std::vector<Row> sorted;
    sorted.reserve(rows.size());
    for (const auto& entry : order) sorted.push_back(std::move(rows[entry.second]));
    rows = std::move(sorted);
}

}  // namespace mvt_trace

#endif
