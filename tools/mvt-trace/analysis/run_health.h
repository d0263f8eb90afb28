#ifndef MVT_TRACE_ANALYSIS_RUN_HEALTH_H
#define MVT_TRACE_ANALYSIS_RUN_HEALTH_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "model/execution_tracker.h"
#include "reading/trace_directory.h"
#include "reading/trace_file_reader.h"

namespace mvt_trace {

// One trace file as check sees it.
struct file_health {
    trace_file file;
    file_report report;
    std::uint64_t records = 0;  // records the program made (end_of_records aside)
    std::uint64_t first_timestamp = 0;
    std::uint64_t last_timestamp = 0;  // of those records
    bool ended = false;                // the file has its end_of_records record
    std::uint64_t end_timestamp = 0;
};

// What a directory holds, judged as the trace of one process: whether each
// file is whole, whether the files come from one run, and the runtime's
// quirks that are not faults of the files.
struct run_health {
    std::vector<file_health> files;
    // Why the files cannot all come from one run (a reused directory); each
    // entry names the files concerned. Empty for a directory of one run.
    std::vector<std::string> mixed_runs;
    // Executions left open, ends with nothing open, regions ended on another
    // thread: worth knowing, not a fault of the trace.
    std::vector<std::string> notes;
    // Whether the files were judged as one run's (a whole directory).
    bool judged_as_run = false;

    std::uint64_t records() const;
    // Files that hold at least one record of the program's.
    std::size_t threads() const;
    std::size_t whole_files() const;
    bool all_whole() const { return whole_files() == files.size(); }
    bool nothing_recorded() const { return records() == 0; }
    // A trace worth analysing: whole files of one run.
    bool sound() const { return all_whole() && mixed_runs.empty(); }
};

// Gathers a run_health while another reader streams the files, for a
// command that reads the run once for several purposes; assess_run is this
// over a read of its own. The files may be read side by side: each keeps its
// own state, and the caller runs an execution_tracker per file whose events
// go to listener(). Files are finished one by one, in their order.
class run_health_collector {
public:
    run_health_collector();
    ~run_health_collector();
    run_health_collector(const run_health_collector&) = delete;
    run_health_collector& operator=(const run_health_collector&) = delete;

    // `position` identifies the file in the calls that follow.
    void begin_file(const trace_file& file, std::size_t position);
    void record(const trace_record& record, std::size_t position);
    execution_listener& listener(std::size_t position);
    // Once the file is read and its tracker has finished it
    // (execution_tracker::finish_file).
    void end_file(std::size_t position, const file_report& report, const execution_tracker& tracker);

    // Once every file has been finished; `as_one_run` as for assess_run.
    run_health finish(bool as_one_run);

private:
    class file_reader;
    std::vector<std::unique_ptr<file_reader>> files_;  // by position, until finished
    std::vector<file_health> finished_;
    std::vector<std::string> notes_;
    std::vector<std::pair<trace_id, unsigned long>> open_regions_at_end_;
    std::vector<std::pair<trace_id, unsigned long>> unmatched_region_ends_;
};

// Reads every file once, in memory that does not grow with the trace. Only
// `as_one_run` judges whether the files make up one run: a file picked out
// of a directory has no siblings to compare with.
run_health assess_run(const std::vector<trace_file>& files, bool as_one_run = true);

}  // namespace mvt_trace

#endif
