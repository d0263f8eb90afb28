#ifndef MVT_TRACE_EXECUTION_CENSUS_H
#define MVT_TRACE_EXECUTION_CENSUS_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "model/execution_tracker.h"
#include "reading/record_visitor.h"

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

// Reads every file for its file_executions.
class execution_census : public record_visitor, private execution_listener {
public:
    void begin_file(const trace_file& file, std::size_t position) override;
    void record(const trace_record& record) override;
    void end_file(const file_report& report) override;

    // One per file, in the order read.
    const std::vector<file_executions>& files() const { return files_; }

private:
    void task_done(const execution& task) override;
    void region_done(const execution& region) override;
    void region_replaced(const execution& earlier) override;

    std::vector<file_executions> files_;
    execution_tracker tracker_{*this};
};

}  // namespace mvt_trace

#endif
