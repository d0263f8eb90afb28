#ifndef MVT_TRACE_EXECUTION_CENSUS_H
#define MVT_TRACE_EXECUTION_CENSUS_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "model/execution_tracker.h"
#include "reading/trace_directory.h"
#include "reading/trace_record.h"

namespace mvt_trace {

// What one file holds, as far as its executions and its time go.
//
// Executions: on each thread a task_begin opens an execution and the next
// task_end closes the innermost open one; a region_begin opens a region that
// the region_end with its identifier closes. An execution still open at the
// end of the file, a region dropped by a second begin under its identifier,
// and an end with nothing to close are counted, never guessed: such
// executions have no duration.
struct file_executions {
    std::size_t process = 0;
    std::uint64_t records = 0;  // records the program made (end_of_records aside)
    bool any_timestamp = false;
    std::uint64_t first_timestamp = 0;  // of every record, end_of_records too
    std::uint64_t last_timestamp = 0;
    std::uint64_t open_tasks = 0;
    std::uint64_t open_regions = 0;
    std::uint64_t replaced_regions = 0;
    std::uint64_t unmatched_task_ends = 0;
    std::uint64_t unmatched_region_ends = 0;
    // The begin ordinals (execution::ordinal) of the executions that never
    // close, ascending: a second read knows them when they begin.
    std::vector<std::uint64_t> never_closed;
};

// Takes each file's file_executions from its records and from the events of
// the execution_tracker that reads them. The files may be read side by side:
// each has its own tracker and its own count.
class execution_census {
public:
    explicit execution_census(const std::vector<trace_file>& files);
    ~execution_census();
    execution_census(const execution_census&) = delete;
    execution_census& operator=(const execution_census&) = delete;

    // A record of the file at position `file`.
    void record(const trace_record& record, std::size_t file) {
        file_executions& counts = files_[file];
        if (record.kind != record_kind::end_of_records) ++counts.records;
        if (!counts.any_timestamp) counts.first_timestamp = counts.last_timestamp = record.timestamp;
        counts.any_timestamp = true;
        if (record.timestamp < counts.first_timestamp) counts.first_timestamp = record.timestamp;
        if (record.timestamp > counts.last_timestamp) counts.last_timestamp = record.timestamp;
    }
    // Where that file's tracker reports its executions.
    execution_listener& listener(std::size_t file);
    // Once the file's tracker has finished it (execution_tracker::finish_file).
    void end_file(std::size_t file, const execution_tracker& tracker);

    // One per file, in the order of the files.
    const std::vector<file_executions>& files() const { return files_; }

private:
    class file_listener;

    std::vector<file_executions> files_;
    std::vector<std::unique_ptr<file_listener>> listeners_;
};

}  // namespace mvt_trace

#endif
