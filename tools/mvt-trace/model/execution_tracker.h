#ifndef MVT_TRACE_EXECUTION_TRACKER_H
#define MVT_TRACE_EXECUTION_TRACKER_H

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "reading/trace_record.h"

namespace mvt_trace {

// A task execution or a region on one thread, from its begin to its end.
struct execution {
    trace_id id;
    trace_id parent;
    std::uint64_t name = 0;    // string-handle address
    std::uint64_t domain = 0;  // domain address
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
    std::size_t depth = 0;      // how many executions enclosed it on its thread
    // Which begin record of its file opened it, counting task and region
    // begins from 0: names one execution of a file across two reads.
    std::uint64_t ordinal = 0;
    bool open_at_end = false;   // the file ended before its end record
    bool is_region = false;     // opened by region_begin, else by task_begin
};

class execution_listener {
public:
    virtual ~execution_listener() = default;
    virtual void task_done(const execution& task) = 0;
    virtual void region_done(const execution& region) = 0;
    // A region_end whose region is not open on this thread.
    virtual void unmatched_region_end(const trace_id& /*id*/) {}
    // A task or region has just begun; its end is not known yet.
    virtual void execution_begun(const execution& /*opened*/) {}
    // A region begun again under the identifier of one still open: the
    // earlier one is dropped and never reported done.
    virtual void region_replaced(const execution& /*earlier*/) {}
};

// Pairs the begin and end records of one file. A task end names no task, so
// it closes the innermost open one; a region end names its region.
class execution_tracker {
public:
    explicit execution_tracker(execution_listener& listener) : listener_(listener) {}

    void record(const trace_record& record);
    // Closes what is still open at the file's last timestamp and starts over.
    void finish_file();

    std::uint64_t unmatched_task_ends() const { return unmatched_task_ends_; }
    std::uint64_t unmatched_region_ends() const { return unmatched_region_ends_; }
    std::uint64_t open_at_end() const { return open_at_end_; }
    void reset_counters() { unmatched_task_ends_ = unmatched_region_ends_ = open_at_end_ = 0; }

private:
    void begin_task(const trace_record& record);
    void end_task(const trace_record& record);
    void begin_region(const trace_record& record);
    void end_region(const trace_record& record);

    execution_listener& listener_;
    std::vector<execution> tasks_;
    std::unordered_map<trace_id, execution, trace_id_hash> regions_;
    std::uint64_t last_timestamp_ = 0;
    std::uint64_t begins_ = 0;
    std::uint64_t unmatched_task_ends_ = 0;
    std::uint64_t unmatched_region_ends_ = 0;
    std::uint64_t open_at_end_ = 0;
};

}  // namespace mvt_trace

#endif
