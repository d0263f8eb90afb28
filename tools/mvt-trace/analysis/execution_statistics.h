#ifndef MVT_TRACE_EXECUTION_STATISTICS_H
#define MVT_TRACE_EXECUTION_STATISTICS_H

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/duration_stats.h"
#include "model/trace_model.h"

namespace mvt_trace {

// The executions of one node: its durations (the time its pieces took).
struct node_statistics {
    std::uint32_t object = 0;
    duration_stats stats;
    std::uint64_t first_begin = 0;  // when its first execution began
};

// Executions of no node, grouped by their name in one process.
struct named_statistics {
    std::uint32_t process = 0;
    std::string name;
    duration_stats stats;
};

// Every execution's time, where it belongs. Rows come by total time, the
// largest first; executions still open at the end of their file have no
// duration and count nowhere.
struct execution_statistics {
    // Nodes whose executions are the program's tasks.
    std::vector<node_statistics> nodes;
    // The program's tasks that belong to no node: OpenMP tasks without
    // dependences, which the translation gives no node.
    std::vector<named_statistics> unattached;
    // The runtime's own executions: OpenMP parallel regions (by region
    // node), implicit tasks and barriers, a flow graph's root tasks.
    std::vector<node_statistics> runtime_nodes;
    std::vector<named_statistics> runtime;

    // The object's row in `nodes` or `runtime_nodes`, or null when it never
    // ran.
    const node_statistics* row(std::uint32_t object) const;
    // Per object: its place in `nodes`, or in `runtime_nodes` with
    // runtime_row set; no_index when it never ran.
    static constexpr std::uint32_t runtime_row = 0x80000000u;
    std::vector<std::uint32_t> row_of_object;
};

execution_statistics gather_statistics(const trace_model& model);

}  // namespace mvt_trace

#endif
