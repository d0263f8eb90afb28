#include "model/execution_census.h"

#include <algorithm>

namespace mvt_trace {

void execution_census::begin_file(const trace_file& file, std::size_t) {
    files_.emplace_back();
    files_.back().process = file.process;
}

void execution_census::record(const trace_record& record) {
    file_executions& file = files_.back();
    if (record.kind != record_kind::end_of_records) ++file.records;
    if (!file.any_timestamp) file.first_timestamp = file.last_timestamp = record.timestamp;
    file.any_timestamp = true;
    file.first_timestamp = std::min(file.first_timestamp, record.timestamp);
    file.last_timestamp = std::max(file.last_timestamp, record.timestamp);
    tracker_.record(record);
}

void execution_census::end_file(const file_report&) {
    tracker_.finish_file();
    file_executions& file = files_.back();
    file.unmatched_task_ends = tracker_.unmatched_task_ends();
    file.unmatched_region_ends = tracker_.unmatched_region_ends();
    tracker_.reset_counters();
    std::sort(file.never_closed.begin(), file.never_closed.end());
}

void execution_census::task_done(const execution& task) {
    if (!task.open_at_end) return;
    ++files_.back().open_tasks;
    files_.back().never_closed.push_back(task.ordinal);
}

void execution_census::region_done(const execution& region) {
    if (!region.open_at_end) return;
    ++files_.back().open_regions;
    files_.back().never_closed.push_back(region.ordinal);
}

void execution_census::region_replaced(const execution& earlier) {
    ++files_.back().replaced_regions;
    files_.back().never_closed.push_back(earlier.ordinal);
}

}  // namespace mvt_trace
