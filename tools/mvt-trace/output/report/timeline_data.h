#ifndef MVT_TRACE_OUTPUT_REPORT_TIMELINE_DATA_H
#define MVT_TRACE_OUTPUT_REPORT_TIMELINE_DATA_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "model/execution_tracker.h"
#include "model/metadata_entry.h"
#include "model/name_table.h"
#include "output/report/longest_kept.h"
#include "output/report/time_buckets.h"
#include "reading/trace_directory.h"
#include "reading/trace_file_reader.h"

namespace mvt_trace {

// The position in the analysis's node list of the graph node an execution
// belongs to, or -1. Processes have identifiers of their own, so the process
// (the directory's position on the command line) comes along, and the
// domain of its begin record (OpenMP ties executions to nodes by rules of
// its own).
using node_lookup = std::function<long(std::size_t process, const trace_id& execution, std::uint64_t domain)>;

// What the page embeds, so that it stays small enough for a browser however
// large the trace: beyond these limits executions are drawn as coarse blocks
// ("N executions") instead of one bar each.
struct timeline_limits {
    // The longest executions are embedded one by one, the rest as blocks. At
    // about 100 bytes each (bar and details) 150000 make some 15 MB of page.
    std::size_t max_executions = 150000;
    std::size_t max_task_rows = 32;      // nesting deeper than this joins the deepest row's blocks
    std::size_t max_region_rows = 8;     // regions that overlap on more rows: blocks
    std::size_t blocks_per_row = 1000;   // at most this many columns of blocks across the run
    std::size_t max_blocks = 40000;      // all lanes' rows share these, each row at least 20 columns
    std::size_t max_text = 256;          // bytes of a name or metadata text that the page shows
    std::size_t max_names_bytes = 2u << 20;
    // Details go to the longest executions first; past this, the shortest
    // show no identifiers or metadata on click.
    std::size_t max_details_bytes = 9u << 20;
};

// Reads a run into the "timeline" object of the report page: one lane per
// thread (a trace file with records), tasks on rows by nesting depth, regions
// on rows of their own, and per execution what a click on it shows.
class timeline_exporter {
public:
    explicit timeline_exporter(timeline_limits limits = {});

    // Reads the files (of one or more processes) once; one report per file.
    // Needs nothing else, so it may run while the analysis reads the run.
    // Keeps the longest executions and the blocks, never every execution:
    // its memory does not grow with the run past the limits.
    std::vector<file_report> read(const std::vector<trace_file>& files);
    // Then lays out what the page embeds, each execution tied to its node
    // (node_of may be empty: no nodes).
    void settle(node_lookup node_of = {});

    // The run's first and last timestamps (all records of all files); times
    // in the page are offsets from the first.
    std::uint64_t first_timestamp() const { return first_; }
    std::uint64_t last_timestamp() const { return last_; }
    // Executions drawn as blocks rather than one bar each.
    std::uint64_t elided() const { return elided_; }

    // {"span_ns": ..., "names": [...], "lanes": [...], "details": [...], "elided": N}
    void write_json(std::ostream& out) const;

private:
    // One execution as the page draws it: times are offsets from the first
    // timestamp, `row` its depth among tasks or its row among regions.
    struct bar {
        std::uint64_t begin = 0;
        std::uint64_t end = 0;
        std::uint32_t row = 0;
        std::uint32_t name = 0;  // into names_
        long details = -1;       // into details_
        bool open = false;
    };
    // Executions not embedded one by one, summed up per row and column.
    struct block {
        std::uint64_t begin = 0;
        std::uint64_t end = 0;
        std::uint32_t row = 0;  // the lane's drawing row: region rows first, then task depths
        std::uint64_t count = 0;
    };
    struct lane {
        trace_file file;
        std::uint64_t records = 0;
        // While reading: which region rows regions still open hold (by the
        // ordinal of their begin), and the rows used so far.
        std::vector<char> region_row_taken;
        std::unordered_map<std::uint64_t, std::uint32_t> open_region_rows;
        std::size_t region_rows = 0;
        std::size_t task_rows = 0;
        // Executions drawn as blocks, by region row and by task depth.
        std::vector<time_buckets> region_blocks, task_blocks;
        // Once settled.
        std::vector<bar> tasks, regions;
        std::vector<block> blocks;
    };
    // An execution that may be drawn one by one.
    struct candidate {
        execution e;
        std::uint32_t lane = 0;
        std::uint32_t row = 0;  // its task depth or region row
        bool region = false;
    };
    struct process_names {
        name_table names;
        // Metadata in record order while reading; sorted by identifier
        // (stably, keeping that order) before any is looked up.
        std::vector<std::pair<trace_id, metadata_entry>> metadata;
        std::unordered_map<std::uint64_t, std::uint32_t> name_positions;  // handle -> into names_
    };
    // What decides an execution's details: equal keys, equal entries.
    struct details_key {
        std::size_t process;
        trace_id id, parent;
        std::uint64_t domain;
        friend bool operator==(const details_key& a, const details_key& b) {
            return a.process == b.process && a.id == b.id && a.parent == b.parent && a.domain == b.domain;
        }
    };
    struct details_key_hash {
        std::size_t operator()(const details_key& k) const {
            trace_id_hash h;
            return h(k.id) * 31 + h(k.parent) * 7 + k.domain + k.process;
        }
    };
    class collector;

    void begin_region(lane& l, const execution& region);
    std::uint32_t end_region(lane& l, const execution& region);
    void offer(candidate c);
    void add_to_blocks(const candidate& c);
    void lay_out_blocks();
    void add_bar(lane& l, const execution& e, std::uint32_t row, bool region);
    std::uint32_t name_index(std::size_t process, std::uint64_t handle);
    long details_index(std::size_t process, const execution& e);
    std::string details_json(std::size_t process, const execution& e) const;

    timeline_limits limits_;
    node_lookup node_of_;
    std::vector<lane> lanes_;
    std::vector<process_names> processes_;
    std::uint64_t first_ = 0;
    std::uint64_t last_ = 0;
    bool seen_ = false;
    std::uint64_t elided_ = 0;
    longest_kept<candidate> longest_;
    std::vector<std::string> names_;
    std::unordered_map<std::string, std::uint32_t> name_positions_;
    std::size_t names_bytes_ = 0;
    std::vector<std::string> details_;  // JSON objects
    std::unordered_map<details_key, long, details_key_hash> details_positions_;
    std::size_t details_bytes_ = 0;
};

}  // namespace mvt_trace

#endif
