#include "model/execution_census.h"

#include <algorithm>

namespace mvt_trace {

class execution_census::file_listener : public execution_listener {
public:
    explicit file_listener(file_executions& file) : file_(file) {}

    void task_done(const execution& task) override {
        if (!task.open_at_end) return;
        ++file_.open_tasks;
        file_.never_closed.push_back(task.ordinal);
    }
    void region_done(const execution& region) override {
        if (!region.open_at_end) return;
        ++file_.open_regions;
        file_.never_closed.push_back(region.ordinal);
    }
    void region_replaced(const execution& earlier) override {
        ++file_.replaced_regions;
        file_.never_closed.push_back(earlier.ordinal);
    }

private:
    file_executions& file_;
};

execution_census::execution_census(const std::vector<trace_file>& files) : files_(files.size()) {
    for (std::size_t f = 0; f < files.size(); ++f) {
        files_[f].process = files[f].process;
        listeners_.push_back(std::make_unique<file_listener>(files_[f]));
    }
}

execution_census::~execution_census() = default;

execution_listener& execution_census::listener(std::size_t file) { return *listeners_[file]; }

void execution_census::end_file(std::size_t file, const execution_tracker& tracker) {
    file_executions& counts = files_[file];
    counts.unmatched_task_ends = tracker.unmatched_task_ends();
    counts.unmatched_region_ends = tracker.unmatched_region_ends();
    std::sort(counts.never_closed.begin(), counts.never_closed.end());
}

}  // namespace mvt_trace
