#ifndef MVT_TRACE_RUN_ANALYSIS_H
#define MVT_TRACE_RUN_ANALYSIS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "analysis/concurrency.h"
#include "analysis/critical_path.h"
#include "analysis/duration_stats.h"
#include "analysis/run_health.h"
#include "model/execution_census.h"
#include "model/run_model.h"
#include "reading/trace_directory.h"
#include "reading/trace_file_reader.h"

namespace mvt_trace {

// The executions of one node.
struct node_statistics {
    std::size_t object = 0;  // position in the model's objects
    duration_stats stats;
    std::uint64_t first_begin = 0;  // when its first closed execution began
};

// Executions that belong to no node, by the string of their name handle.
struct unattached_statistics {
    std::size_t process = 0;
    std::string name;
    duration_stats stats;
};

// One directory of the command line: one process.
struct process_summary {
    std::string directory;
    std::size_t files = 0;
    std::size_t threads = 0;   // files with at least one record of the program's
    std::uint64_t records = 0;  // end_of_records aside
};

// Everything analyze finds in a run of one or more processes.
struct run_analysis {
    std::vector<trace_file> files;
    std::vector<process_summary> processes;
    // check's view of each process (files not whole, several runs in one
    // directory), in the order of processes.
    std::vector<run_health> health;
    std::vector<file_executions> executions_by_file;  // in the order of files
    run_model model;

    bool any_timestamp = false;
    std::uint64_t first_timestamp = 0;  // of the whole run, every record
    std::uint64_t last_timestamp = 0;
    std::uint64_t wall() const { return last_timestamp - first_timestamp; }
    std::size_t threads = 0;

    // Nodes with at least one closed execution, and the unattached
    // executions; both by total time, largest first.
    std::vector<node_statistics> nodes;
    std::vector<unattached_statistics> unattached;
    // The position in `nodes` of an object's row, or -1 when it never ran.
    long node_row(std::size_t object) const;
    // An object's total execution time; 0 when it never ran.
    std::uint64_t total_of(std::size_t object) const;
    dependency_summary dependencies;
    // Threads busy at once; tasks and regions both count as executions.
    concurrency_profile concurrency;

    // How reading each file went (the first read), in the order of files.
    std::vector<file_report> reports;

    std::vector<std::uint32_t> row_of_object;  // for node_row
};

// Reads the run once, every file side by side in timestamp order: the
// names, the graph, the relations and metadata, each file's executions and
// health, and the durations of the closed executions by identifier, which
// the model, once built, sums up by node (or by name, when unattached);
// every begin and end moves the concurrency count. Nothing is kept per
// execution. A second read, with the model at hand, serves when the first
// could not settle everything: executions that never close (they keep no
// thread busy, which is known only at the end), a file that does not end
// with its end_of_records record (the concurrency needs the run's end from
// the start), or too many execution identifiers that belong to no node.
// `directories` are the command line's, one per process (their files carry
// trace_file::process).
run_analysis analyze_run(const std::vector<trace_file>& files, const std::vector<std::string>& directories);

}  // namespace mvt_trace

#endif
