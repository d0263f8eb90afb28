#include "model/execution_tracker.h"

#include <algorithm>

namespace mvt_trace {

namespace {

// Task and region begin records share their layout: domain, identifier,
// parent, name.
execution opened_by(const trace_record& record, std::size_t depth, std::uint64_t ordinal) {
    execution opened;
    opened.domain = record.number(0);
    opened.id = record.id(1);
    opened.parent = record.id(2);
    opened.name = record.number(3);
    opened.begin = record.timestamp;
    opened.depth = depth;
    opened.ordinal = ordinal;
    return opened;
}

}  // namespace

void execution_tracker::record(const trace_record& record) {
    last_timestamp_ = std::max(last_timestamp_, record.timestamp);
    switch (record.kind) {
        case record_kind::task_begin: begin_task(record); break;
        case record_kind::task_end: end_task(record); break;
        case record_kind::region_begin: begin_region(record); break;
        case record_kind::region_end: end_region(record); break;
        default: break;
    }
}

void execution_tracker::begin_task(const trace_record& record) {
    tasks_.push_back(opened_by(record, tasks_.size(), begins_++));
    listener_.execution_begun(tasks_.back());
}

void execution_tracker::end_task(const trace_record& record) {
    if (tasks_.empty()) {
        ++unmatched_task_ends_;
        return;
    }
    execution task = tasks_.back();
    tasks_.pop_back();
    task.end = std::max(record.timestamp, task.begin);
    listener_.task_done(task);
}

void execution_tracker::begin_region(const trace_record& record) {
    // A region begun again under the same identifier before its end replaces
    // the first: the end record cannot tell the two apart.
    execution region = opened_by(record, regions_.size(), begins_++);
    region.is_region = true;
    auto [at, added] = regions_.emplace(region.id, region);
    if (!added) {
        listener_.region_replaced(at->second);
        at->second = region;
    }
    listener_.execution_begun(region);
}

void execution_tracker::end_region(const trace_record& record) {
    auto found = regions_.find(record.id(1));
    if (found == regions_.end()) {
        ++unmatched_region_ends_;
        listener_.unmatched_region_end(record.id(1));
        return;
    }
    execution region = found->second;
    regions_.erase(found);
    region.end = std::max(record.timestamp, region.begin);
    listener_.region_done(region);
}

void execution_tracker::finish_file() {
    while (!tasks_.empty()) {
        execution task = tasks_.back();
        tasks_.pop_back();
        task.end = std::max(last_timestamp_, task.begin);
        task.open_at_end = true;
        ++open_at_end_;
        listener_.task_done(task);
    }
    // Regions in the order they began, so output does not depend on hashing.
    std::vector<execution> open(regions_.size());
    std::transform(regions_.begin(), regions_.end(), open.begin(), [](const auto& entry) { return entry.second; });
    std::sort(open.begin(), open.end(), [](const execution& a, const execution& b) {
        return a.begin != b.begin ? a.begin < b.begin : a.id < b.id;
    });
    for (execution& region : open) {
        region.end = std::max(last_timestamp_, region.begin);
        region.open_at_end = true;
        ++open_at_end_;
        listener_.region_done(region);
    }
    regions_.clear();
    last_timestamp_ = 0;
    begins_ = 0;
}

}  // namespace mvt_trace
