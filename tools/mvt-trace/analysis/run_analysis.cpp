#include "analysis/run_analysis.h"


#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <unordered_map>
#include <utility>

#include "analysis/execution_totals.h"
#include "common/large_allocator.h"
#include "model/chunked_vector.h"
#include "model/execution_tracker.h"
#include "model/run_model_builder.h"
#include "reading/file_end.h"
#include "reading/merged_reader.h"

namespace mvt_trace {

namespace {

constexpr std::uint32_t no_slot = UINT32_MAX;

// How many execution identifiers the first read may hold beyond one per
// record of the graph (see execution_totals).
constexpr std::size_t spare_identifiers = std::size_t{1} << 16;

// The fields the first read uses; the others are passed over. Executions
// matter for their identifier, domain and name handle, numeric metadata for
// its identifier, key and value.
field_selection first_read_fields() {
    const std::uint8_t domain_id_and_name = field_bits({0, 1, 3});
    const std::uint8_t id_key_and_value = field_bits({1, 2, 5});
    const std::uint8_t id = field_bits({1});
    field_selection fields = field_selection::of_kinds(every_record_kind);
    fields.with(record_kind::task_begin, domain_id_and_name)
        .with(record_kind::region_begin, domain_id_and_name)
        .with(record_kind::region_end, id)
        .with(record_kind::metadata, id_key_and_value)
        .with(record_kind::task_end, 0)
        .with(record_kind::id_create, 0)
        .with(record_kind::id_destroy, 0);
    return fields;
}

// The one read the run usually needs, every file side by side in timestamp
// order. It gathers the model's declarations, each file's executions and
// health, and the durations by identifier (execution_totals). The
// concurrency needs to know where the run ends before it starts (its series
// is cut into a thousandth of the run): it is measured when every file ends
// with its end_of_records record, whose timestamp the file's last bytes
// tell, and holds if the run's first and last timestamps turn out as
// guessed and every execution closed (one that never does keeps no thread
// busy, which is known only at the end).
class first_read {
public:
    first_read(const std::vector<trace_file>& files, std::size_t processes)
        : files_(files), census_(files), builder_(files, processes), totals_(processes) {
        for (std::size_t p = 0; p < processes; ++p) health_.push_back(std::make_unique<run_health_collector>());
        for (std::size_t f = 0; f < files.size(); ++f) {
            health_.at(files[f].process)->begin_file(files[f], f);
            readers_.push_back(std::make_unique<file_reader>(*this, f));
        }
    }

    void read() {
        merged_reader reader(files_, first_read_fields());
        guess_run_bounds(reader);
        const trace_record* record = nullptr;
        std::size_t f = 0;
        while (reader.next(record, f)) {
            if (meter_) meter_->advance(record->timestamp);
            census_.record(*record, f);
            health_[files_[f].process]->record(*record, f);
            builder_.record(*record, f);
            readers_[f]->tracker.record(*record);
        }
        reports_ = reader.reports();
        if (meter_) profile_ = meter_->finish();
        for (std::size_t i = 0; i < files_.size(); ++i) {
            execution_tracker& tracker = readers_[i]->tracker;
            tracker.finish_file();
            census_.end_file(i, tracker);
            health_[files_[i].process]->end_file(i, reports_[i], tracker);
        }
        totals_.settle();
    }

    std::vector<file_report> take_reports() { return std::move(reports_); }
    run_model build_model() { return builder_.build(); }
    const std::vector<file_executions>& executions_by_file() const { return census_.files(); }
    run_health finish_health(std::size_t process, bool as_one_run) { return health_[process]->finish(as_one_run); }
    execution_totals& totals() { return totals_; }

    // The concurrency, if it could be measured and the guesses held.
    std::optional<concurrency_profile> concurrency(const run_analysis& run) const {
        if (!profile_ || !run.any_timestamp || run.first_timestamp != first_guess_ ||
            run.last_timestamp != last_guess_)
            return std::nullopt;
        for (const file_executions& file : census_.files())
            if (!file.never_closed.empty()) return std::nullopt;
        return profile_;
    }

private:
    // One file's executions: one tracker, whose events go to everyone that
    // wants them.
    struct file_reader : execution_listener {
        file_reader(first_read& owner, std::size_t file)
            : owner(owner), process(owner.files_[file].process), census(owner.census_.listener(file)),
              health(owner.health_[process]->listener(file)) {}

        void execution_begun(const execution& e) override {
            census.execution_begun(e);
            health.execution_begun(e);
            if (open++ == 0 && owner.meter_) owner.meter_->thread_busy();
        }
        void task_done(const execution& e) override {
            census.task_done(e);
            health.task_done(e);
            done(e);
        }
        void region_done(const execution& e) override {
            census.region_done(e);
            health.region_done(e);
            done(e);
        }
        void unmatched_region_end(const trace_id& id) override {
            census.unmatched_region_end(id);
            health.unmatched_region_end(id);
        }
        void region_replaced(const execution& earlier) override {
            census.region_replaced(earlier);
            health.region_replaced(earlier);
        }
        void done(const execution& e) {
            if (e.open_at_end) return;
            if (open > 0 && --open == 0 && owner.meter_) owner.meter_->thread_idle();
            if (owner.totals_.gave_up()) return;
            owner.totals_.add(process, owner.builder_.number_of(process, e.id), e,
                              spare_identifiers + owner.builder_.graph_records());
        }

        first_read& owner;
        std::size_t process;
        execution_listener& census;
        execution_listener& health;
        std::size_t open = 0;
        execution_tracker tracker{*this};
    };

    void guess_run_bounds(const merged_reader& reader) {
        bool any = false;
        for (std::size_t f = 0; f < files_.size(); ++f) {
            std::uint64_t first = 0, last = 0;
            if (!reader.first_timestamp(f, first)) continue;
            if (!end_of_records_timestamp(files_[f].path, last)) return;
            first_guess_ = any ? std::min(first_guess_, first) : first;
            last_guess_ = any ? std::max(last_guess_, last) : last;
            any = true;
        }
        if (any && last_guess_ >= first_guess_) meter_.emplace(first_guess_, last_guess_);
    }

    const std::vector<trace_file>& files_;
    execution_census census_;
    std::vector<std::unique_ptr<run_health_collector>> health_;
    run_model_builder builder_;
    execution_totals totals_;
    std::vector<std::unique_ptr<file_reader>> readers_;
    std::vector<file_report> reports_;
    std::uint64_t first_guess_ = 0;
    std::uint64_t last_guess_ = 0;
    std::optional<concurrency_meter> meter_;
    std::optional<concurrency_profile> profile_;
};

// Largest total first; ties in declaration order.
bool before(const std::pair<std::uint64_t, std::size_t>& a, const std::pair<std::uint64_t, std::size_t>& b) {
    return a.first != b.first ? a.first > b.first : a.second < b.second;
}

// Handles of one process that share a string (unnamed ones, say) are one
// name.
std::vector<unattached_statistics> by_name(
    const run_model& model, std::vector<std::unordered_map<std::uint64_t, duration_stats>>& unattached) {
    std::vector<unattached_statistics> groups;
    for (std::size_t p = 0; p < unattached.size(); ++p) {
        std::map<std::string, duration_stats> named;
        for (auto& [handle, stats] : unattached[p]) named[model.names(p).handle_name(handle)].merge(stats);
        for (auto& [name, stats] : named) groups.push_back({p, name, std::move(stats)});
    }
    return groups;
}

// The first read's durations by identifier, summed up by node: the totals
// first, which order the rows, then each row made once in its place.
void attribute_totals(execution_totals& totals, run_analysis& run) {
    const run_model& model = run.model;
    const std::size_t objects = model.objects().size();
    std::vector<std::uint64_t, large_allocator<std::uint64_t>> total(objects, 0);
    std::vector<bool> ran(objects, false);
    std::vector<std::uint32_t, large_allocator<std::uint32_t>> node_of_key;
    std::vector<std::unordered_map<std::uint64_t, duration_stats>> unattached(run.processes.size());
    totals.for_each([&](std::size_t process, std::uint32_t id, std::uint64_t domain, std::uint64_t name,
                        const std::uint64_t* single, const duration_stats* stats, std::uint64_t) {
        const long node = model.node_of_execution_number(process, id, domain);
        node_of_key.push_back(node < 0 ? no_slot : static_cast<std::uint32_t>(node));
        if (node < 0) {
            if (unattached.size() <= process) unattached.resize(process + 1);
            duration_stats& group = unattached[process][name];
            if (single)
                group.add(*single);
            else
                group.merge(*stats);
            return;
        }
        total[static_cast<std::size_t>(node)] += single ? *single : stats->total();
        ran[static_cast<std::size_t>(node)] = true;
    });
    std::vector<std::pair<std::uint64_t, std::size_t>, large_allocator<std::pair<std::uint64_t, std::size_t>>> order;
    order.reserve(static_cast<std::size_t>(std::count(ran.begin(), ran.end(), true)));
    for (std::size_t object = 0; object < objects; ++object)
        if (ran[object]) order.push_back({total[object], object});
    std::sort(order.begin(), order.end(), before);
    std::vector<std::uint32_t, large_allocator<std::uint32_t>> row_of(objects, no_slot);
    reserve_in_huge_pages(run.nodes, order.size());
    for (const auto& [sum, object] : order) {
        row_of[object] = static_cast<std::uint32_t>(run.nodes.size());
        run.nodes.push_back({object, duration_stats{}});
    }
    std::size_t key = 0;
    totals.for_each([&](std::size_t, std::uint32_t, std::uint64_t, std::uint64_t, const std::uint64_t* single,
                        duration_stats* stats, std::uint64_t first_begin) {
        const std::uint32_t node = node_of_key[key++];
        if (node == no_slot) return;
        node_statistics& node_row = run.nodes[row_of[node]];
        node_row.first_begin = node_row.stats.count() == 0 ? first_begin : std::min(node_row.first_begin, first_begin);
        duration_stats& row = node_row.stats;
        if (single)
            row.add(*single);
        else if (row.count() == 0)
            row = std::move(*stats);
        else
            row.merge(*stats);
    });
    run.unattached = by_name(model, unattached);
}

// The second read, when the first could not do without it: executions in
// timestamp order over all threads, each attributed to its node as it
// closes, with the model and each file's executions that never close known.
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

    std::vector<node_statistics> take_nodes() {
        std::vector<std::pair<std::uint64_t, std::size_t>> order;  // (total, object)
        order.reserve(slots_.size());
        for (std::size_t object = 0; object < slot_of_object_.size(); ++object)
            if (slot_of_object_[object] != no_slot) order.push_back({slots_[slot_of_object_[object]].total(), object});
        std::sort(order.begin(), order.end(), before);
        std::vector<node_statistics> nodes;
        reserve_in_huge_pages(nodes, order.size());
        for (const auto& [total, object] : order) {
            const std::uint32_t slot = slot_of_object_[object];
            nodes.push_back({object, std::move(slots_[slot]), first_begins_[slot]});
        }
        return nodes;
    }

    std::vector<unattached_statistics> take_unattached() { return by_name(run_.model, unattached_); }

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
            first_begins_.push_back(e.begin);
        }
        slots_[slot].add(duration);
        first_begins_[slot] = std::min(first_begins_[slot], e.begin);
    }

    const run_analysis& run_;
    concurrency_meter& meter_;
    std::vector<std::unique_ptr<thread>> threads_;
    // Statistics only for the objects that run: a slot number per object.
    std::vector<std::uint32_t, large_allocator<std::uint32_t>> slot_of_object_;
    chunked_vector<duration_stats> slots_;
    chunked_vector<std::uint64_t> first_begins_;  // parallel to slots_
    std::vector<std::unordered_map<std::uint64_t, duration_stats>> unattached_;
};

void read_again(run_analysis& run) {
    concurrency_meter meter(run.first_timestamp, run.last_timestamp);
    execution_attribution attribution(run, meter);
    merged_reader second_read(run.files, kind_bit(record_kind::task_begin) | kind_bit(record_kind::region_begin) |
                                             kind_bit(record_kind::region_end));
    const trace_record* record = nullptr;
    std::size_t file = 0;
    while (second_read.next(record, file)) attribution.record(*record, file);
    run.concurrency = meter.finish();
    run.nodes = attribution.take_nodes();
    run.unattached = attribution.take_unattached();
}

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
    bool read_once = false;
    {
        first_read read(files, directories.size());
        read.read();
        run.reports = read.take_reports();
        run.model = read.build_model();
        run.executions_by_file = read.executions_by_file();
        for (std::size_t p = 0; p < directories.size(); ++p)
            run.health.push_back(read.finish_health(p, is_directory(directories[p])));
        summarize_processes(run, directories);
        std::optional<concurrency_profile> concurrency = read.concurrency(run);
        if (concurrency && !read.totals().gave_up()) {
            run.concurrency = std::move(*concurrency);
            attribute_totals(read.totals(), run);
            read_once = true;
        }
    }
    if (!read_once) read_again(run);

    std::vector<std::uint64_t> weight;
    reserve_in_huge_pages(weight, run.model.objects().size());
    weight.resize(run.model.objects().size(), 0);
    for (const node_statistics& node : run.nodes) weight[node.object] = node.stats.total();
    run.dependencies = summarize_dependencies(run.model, weight);
    sort_by_total(run.unattached);
    reserve_in_huge_pages(run.row_of_object, run.model.objects().size());
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
