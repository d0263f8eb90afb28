#include "analysis/run_analysis.h"

#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <memory>
#include <unordered_map>
#include <utility>

#include "model/chunked_vector.h"
#include "model/execution_tracker.h"
#include "model/run_model_builder.h"
#include "reading/merged_reader.h"
#include "reading/record_visitor.h"

namespace mvt_trace {

namespace {

constexpr std::uint32_t no_slot = UINT32_MAX;

bool is_directory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Hands each file to the health collector of its process.
class health_by_process : public record_visitor {
public:
    explicit health_by_process(std::size_t processes) {
        for (std::size_t p = 0; p < processes; ++p) collectors_.push_back(std::make_unique<run_health_collector>());
    }
    void begin_file(const trace_file& file, std::size_t position) override {
        current_ = collectors_.at(file.process).get();
        current_->begin_file(file, position);
    }
    void record(const trace_record& record) override { current_->record(record); }
    void end_file(const file_report& report) override { current_->end_file(report); }
    run_health finish(std::size_t process, bool as_one_run) { return collectors_[process]->finish(as_one_run); }

private:
    std::vector<std::unique_ptr<run_health_collector>> collectors_;
    run_health_collector* current_ = nullptr;
};

// The second read: executions in timestamp order over all threads.
class execution_attribution {
public:
    execution_attribution(const run_analysis& run, concurrency_meter& meter)
        : run_(run), meter_(meter), slot_of_object_(run.model.objects().size(), no_slot),
          unattached_(run.processes.size()) {
        threads_.reserve(run.files.size());
        for (std::size_t f = 0; f < run.files.size(); ++f) threads_.push_back(std::make_unique<thread>(*this, f));
    }

    void record(const trace_record& record, std::size_t file) {
        // The second read passes over fields unchecked: past the first
        // read's last whole record (a malformed line) it would misread.
        thread& t = *threads_[file];
        if (++t.records > run_.reports[file].whole_records) return;
        meter_.advance(record.timestamp);
        t.tracker.record(record);
    }

    // Largest total first; ties in declaration order.
    std::vector<node_statistics> take_nodes() {
        std::vector<std::pair<std::uint64_t, std::size_t>> order;  // (total, object)
        order.reserve(slots_.size());
        for (std::size_t object = 0; object < slot_of_object_.size(); ++object)
            if (slot_of_object_[object] != no_slot) order.push_back({slots_[slot_of_object_[object]].total(), object});
        std::sort(order.begin(), order.end(), [](const auto& a, const auto& b) {
            return a.first != b.first ? a.first > b.first : a.second < b.second;
        });
        std::vector<node_statistics> nodes;
        nodes.reserve(order.size());
        for (const auto& [total, object] : order) nodes.push_back({object, std::move(slots_[slot_of_object_[object]])});
        return nodes;
    }

    // Handles of one process that share a string (unnamed ones, say) are
    // one name.
    std::vector<unattached_statistics> take_unattached() {
        std::vector<unattached_statistics> groups;
        for (std::size_t p = 0; p < unattached_.size(); ++p) {
            std::map<std::string, duration_stats> by_name;
            for (auto& [handle, stats] : unattached_[p]) by_name[run_.model.names(p).handle_name(handle)].merge(stats);
            for (auto& [name, stats] : by_name) groups.push_back({p, name, std::move(stats)});
        }
        return groups;
    }

private:
    // One thread's pairing of begins and ends, and whether it is busy.
    struct thread : execution_listener {
        thread(execution_attribution& owner, std::size_t file)
            : owner(owner), process(owner.run_.files[file].process),
              never_closed(owner.run_.executions_by_file[file].never_closed) {}

        void execution_begun(const execution& e) override {
            // An execution that never closes has no duration and is not
            // guessed to run until the end: it keeps no thread busy.
            while (next_never < never_closed.size() && never_closed[next_never] < e.ordinal) ++next_never;
            if (next_never < never_closed.size() && never_closed[next_never] == e.ordinal) return;
            if (open++ == 0) owner.meter_.thread_busy();
        }
        void task_done(const execution& e) override { done(e); }
        void region_done(const execution& e) override { done(e); }
        void done(const execution& e) {
            if (e.open_at_end) return;
            if (open > 0 && --open == 0) owner.meter_.thread_idle();
            owner.attribute(process, e);
        }

        execution_attribution& owner;
        std::size_t process;
        const std::vector<std::uint64_t>& never_closed;
        std::size_t next_never = 0;
        std::size_t open = 0;
        std::uint64_t records = 0;
        execution_tracker tracker{*this};
    };

    void attribute(std::size_t process, const execution& e) {
        const std::uint64_t duration = e.end - e.begin;
        const long node = run_.model.node_of_execution(process, e.id, e.domain);
        if (node < 0) {
            unattached_[process][e.name].add(duration);
            return;
        }
        std::uint32_t& slot = slot_of_object_[static_cast<std::size_t>(node)];
        if (slot == no_slot) {
            slot = static_cast<std::uint32_t>(slots_.size());
            slots_.push_back(duration_stats{});
        }
        slots_[slot].add(duration);
    }

    const run_analysis& run_;
    concurrency_meter& meter_;
    std::vector<std::unique_ptr<thread>> threads_;
    // Statistics only for the objects that run: a slot number per object.
    std::vector<std::uint32_t> slot_of_object_;
    chunked_vector<duration_stats> slots_;
    std::vector<std::unordered_map<std::uint64_t, duration_stats>> unattached_;
};

void summarize_processes(run_analysis& run, const std::vector<std::string>& directories) {
    run.processes.resize(directories.size());
    for (std::size_t p = 0; p < directories.size(); ++p) run.processes[p].directory = directories[p];
    for (const file_executions& file : run.executions_by_file) {
        process_summary& process = run.processes.at(file.process);
        ++process.files;
        process.records += file.records;
        if (file.records > 0) {
            ++process.threads;
            ++run.threads;
        }
        if (!file.any_timestamp) continue;
        run.first_timestamp = run.any_timestamp ? std::min(run.first_timestamp, file.first_timestamp) : file.first_timestamp;
        run.last_timestamp = run.any_timestamp ? std::max(run.last_timestamp, file.last_timestamp) : file.last_timestamp;
        run.any_timestamp = true;
    }
}

// Largest total first; ties keep the order given (process, then name), so
// output never depends on hashing.
template <typename Row>
void sort_by_total(std::vector<Row>& rows) {
    std::stable_sort(rows.begin(), rows.end(),
                     [](const Row& a, const Row& b) { return a.stats.total() > b.stats.total(); });
}

}  // namespace

run_analysis analyze_run(const std::vector<trace_file>& files, const std::vector<std::string>& directories) {
    run_analysis run;
    run.files = files;
    {
        run_model_builder builder(directories.size());
        execution_census census;
        health_by_process health(directories.size());
        visitor_fan_out first_read({&builder, &census, &health});
        // Task executions matter here only for their order; their fields
        // are read the second time.
        const record_kind_set without_fields = kind_bit(record_kind::task_begin) | kind_bit(record_kind::task_end) |
                                               kind_bit(record_kind::id_create) | kind_bit(record_kind::id_destroy);
        run.reports = visit_files(files, first_read, every_record_kind & ~without_fields);
        run.model = builder.build();
        run.executions_by_file = census.files();
        for (std::size_t p = 0; p < directories.size(); ++p)
            run.health.push_back(health.finish(p, is_directory(directories[p])));
    }
    summarize_processes(run, directories);

    concurrency_meter meter(run.first_timestamp, run.last_timestamp);
    execution_attribution attribution(run, meter);
    merged_reader second_read(files, kind_bit(record_kind::task_begin) | kind_bit(record_kind::region_begin) |
                                         kind_bit(record_kind::region_end));
    const trace_record* record = nullptr;
    std::size_t file = 0;
    while (second_read.next(record, file)) attribution.record(*record, file);
    run.concurrency = meter.finish();

    run.nodes = attribution.take_nodes();
    run.unattached = attribution.take_unattached();
    std::vector<std::uint64_t> weight(run.model.objects().size(), 0);
    for (const node_statistics& node : run.nodes) weight[node.object] = node.stats.total();
    run.dependencies = summarize_dependencies(run.model.edges(), weight);
    sort_by_total(run.unattached);
    run.row_of_object.assign(run.model.objects().size(), no_slot);
    for (std::size_t row = 0; row < run.nodes.size(); ++row)
        run.row_of_object[run.nodes[row].object] = static_cast<std::uint32_t>(row);
    return run;
}

long run_analysis::node_row(std::size_t object) const {
    if (object >= row_of_object.size() || row_of_object[object] == no_slot) return -1;
    return static_cast<long>(row_of_object[object]);
}

std::uint64_t run_analysis::total_of(std::size_t object) const {
    const long row = node_row(object);
    return row < 0 ? 0 : nodes[static_cast<std::size_t>(row)].stats.total();
}

}  // namespace mvt_trace
