#ifndef MVT_TRACE_RUN_ANALYSIS_H
#define MVT_TRACE_RUN_ANALYSIS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "analysis/concurrency.h"
#include "analysis/execution_graph.h"
#include "analysis/execution_statistics.h"
#include "analysis/labels.h"
#include "analysis/run_prediction.h"
#include "model/trace_model.h"
#include "reading/run_pass.h"

namespace mvt_trace {

// One step of the critical path: an execution, and which of its node's
// executions it is, counting from 1 in the order they began ("store #17").
struct critical_step {
    std::uint32_t execution = 0;
    std::uint32_t instance = 0;
};

// A node's part in the critical path.
struct path_share {
    std::uint32_t object = 0;
    std::uint32_t steps = 0;
    std::uint64_t time = 0;
};

// The node graph as declared, and what the graph of executions allows.
struct dependency_summary {
    // Nodes joined to another by an edge, and the distinct edges.
    std::size_t nodes = 0;
    std::size_t edges = 0;
    bool edges_complete = true;
    // The graph of executions (execution_graph.h).
    std::size_t executions = 0;
    std::size_t execution_edges = 0;
    std::uint64_t work = 0;
    std::uint64_t span = 0;
    double parallelism = 0;
    std::vector<critical_step> critical_path;
    // The nodes on the critical path, by their time on it, largest first.
    std::vector<path_share> path_by_node;
};

// The executions of one construct (run_labels::construct).
struct construct_statistics {
    std::uint32_t construct = 0;
    duration_stats stats;
    std::uint64_t span_time = 0;  // its executions' time on the critical path
};

// Everything analyze finds in a run of one or more processes.
struct run_analysis {
    trace_model model;  // each file's reading report is its thread's
    run_labels labels;
    execution_statistics statistics;
    // By total time, largest first.
    std::vector<construct_statistics> constructs;
    execution_graph graph;
    dependency_summary dependencies;
    // Threads busy at once with any execution, and with the program's tasks
    // alone.
    concurrency_profile concurrency;
    concurrency_profile task_concurrency;
    // OpenMP tasks without dependences: no node, so outside the graph.
    std::uint64_t tasks_without_node = 0;
    std::uint64_t tasks_without_node_ns = 0;
    // The run as a schedule, and its predicted time on 1 to 64 workers.
    run_schedule schedule;
    scalability_summary scalability;
    // What would have named the code addresses, when something was missing
    // (a module map, the symbolizer, debug information): one line each.
    std::vector<std::string> hints;
};

// How much of the analysis a command needs. The exports write the model, its
// labels and its graphs: they take no statistics and no concurrency, which
// on a run of many short executions cost a good part of the reading.
// predict takes the run as a schedule and predicts what it is asked. The
// database export takes the model and labels alone, and builds the graphs
// (add_graphs) while it writes the tables that do not need them.
enum class analysis_depth { everything, model_and_graphs, schedule, model_and_labels };

// Reads the run once and builds the model: for every command.
trace_model read_model(const run_layout& layout, const pass_options& options = {});

// The model, then everything analyze reports of it, code addresses named
// through each process's module map.
// With analysis_depth::model_and_graphs, `statistics`, `constructs`, the
// concurrency profiles, the tasks without node and the schedule stay empty;
// with analysis_depth::schedule, all of them but the schedule. With
// analysis_depth::everything, a run of more tasks than analyze predicts is
// not scheduled (scalability says so).
run_analysis analyze_run(const run_layout& layout, const pass_options& options = {},
                         analysis_depth depth = analysis_depth::everything);
// The graph of executions and its summary, for a run analysed to
// analysis_depth::model_and_labels. Writes `graph` and `dependencies` only.
void add_graphs(run_analysis& run);
// `places`: per process, where its code addresses lie (run_labels).
run_analysis analyze_model(trace_model model,
                           const std::vector<std::vector<std::pair<std::uint64_t, code_location>>>* places = nullptr,
                           analysis_depth depth = analysis_depth::everything);

}  // namespace mvt_trace

#endif
