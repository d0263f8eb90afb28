#ifndef MVT_TRACE_ANALYSIS_RUN_HEALTH_H
#define MVT_TRACE_ANALYSIS_RUN_HEALTH_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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

// Reads every file once, in memory that does not grow with the trace. Only
// `as_one_run` judges whether the files make up one run: a file picked out
// of a directory has no siblings to compare with.
run_health assess_run(const std::vector<trace_file>& files, bool as_one_run = true);

}  // namespace mvt_trace

#endif
