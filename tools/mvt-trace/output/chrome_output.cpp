#include "output/chrome_output.h"

#include <algorithm>
#include <memory>
#include <queue>
#include <string>
#include <unordered_map>
#include <utility>

#include "common/text_format.h"
#include "model/execution_tracker.h"
#include "model/metadata_entry.h"
#include "model/run_model_builder.h"
#include "output/report/recorded_run.h"
#include "reading/merged_reader.h"
#include "reading/record_visitor.h"

namespace mvt_trace {

namespace {

// JSON numbers beyond 2^53 lose digits in most readers; such values are
// written as strings.
std::string json_number(std::uint64_t value) {
    if (value <= (std::uint64_t{1} << 53)) return std::to_string(value);
    return "\"" + std::to_string(value) + "\"";
}

std::string quoted(std::string_view text) { return "\"" + json_escape(text) + "\""; }

// A metadata record's value, or false for any other record.
bool metadata_of(const trace_record& record, metadata_entry& entry) {
    entry.key = record.number(2);
    if (record.kind == record_kind::metadata) {
        entry.number = record.number(5);
        return true;
    }
    if (record.kind == record_kind::metadata_string_a || record.kind == record_kind::metadata_string_w) {
        entry.is_text = true;
        entry.text = std::string(record.text(4));
        return true;
    }
    return false;
}

// The identifiers of the executions open on one thread.
class open_executions : public execution_listener {
public:
    void execution_begun(const execution& e) override { open_.push_back(e.id); }
    void task_done(const execution& e) override { close(e.id); }
    void region_done(const execution& e) override { close(e.id); }
    bool has(const trace_id& id) const { return std::find(open_.rbegin(), open_.rend(), id) != open_.rend(); }
    void clear() { open_.clear(); }

private:
    void close(const trace_id& id) {
        auto found = std::find(open_.rbegin(), open_.rend(), id);
        if (found != open_.rend()) open_.erase(std::next(found).base());
    }
    std::vector<trace_id> open_;
};

// The first read: the graph, the metadata of identifiers, and each file's
// whole records, so that the second read knows when a file is done.
// Metadata added to an execution while it runs, as instrumented programs do
// with every execution, is not kept: the second read meets it on the way and
// gives it to the end of the slice. What is kept describes the graph.
class declarations : public record_visitor {
public:
    declarations(const std::vector<trace_file>& files, std::size_t processes)
        : model(files, processes), metadata(processes) {}

    void begin_file(const trace_file& file, std::size_t position) override {
        position_ = position;
        process_ = file.process;
        records.push_back(0);
        ended.push_back(0);
    }
    void record(const trace_record& record) override {
        model.record(record, position_);
        tracker_.record(record);
        if (record.kind == record_kind::end_of_records) ended.back() = 1;
        else ++records.back();
        if (!seen) first_timestamp = record.timestamp;
        seen = true;
        first_timestamp = std::min(first_timestamp, record.timestamp);
        metadata_entry entry;
        if (metadata_of(record, entry) && !open_.has(record.id(1)))
            metadata[process_][record.id(1)].push_back(std::move(entry));
    }
    void end_file(const file_report&) override {
        tracker_.finish_file();
        open_.clear();
    }

    run_model_builder model;
    std::vector<std::unordered_map<trace_id, std::vector<metadata_entry>, trace_id_hash>> metadata;
    std::vector<std::uint64_t> records;  // per file, the program's
    std::vector<char> ended;              // per file, whether it has its end_of_records
    bool seen = false;
    std::uint64_t first_timestamp = 0;

private:
    std::size_t position_ = 0;
    std::size_t process_ = 0;
    open_executions open_;
    execution_tracker tracker_{open_};
};

// Events leave in timestamp order. A flow starts a nanosecond before its
// execution ends, which the merged read reaches only at the end: events
// wait here until nothing earlier can come.
class ordered_events {
public:
    explicit ordered_events(std::ostream& out) : out_(out) {}

    void add(std::uint64_t time, std::string event) { waiting_.push({time, sequence_++, std::move(event)}); }

    // Writes what comes before `time` - 1: nothing later can precede it.
    void advance(std::uint64_t time) {
        while (!waiting_.empty() && waiting_.top().time + 1 < time) pop();
    }
    void flush() {
        while (!waiting_.empty()) pop();
    }

private:
    struct event {
        std::uint64_t time;
        std::uint64_t sequence;
        std::string text;
        bool operator>(const event& other) const {
            return time != other.time ? time > other.time : sequence > other.sequence;
        }
    };
    void pop() {
        out_ << ",\n" << waiting_.top().text;
        waiting_.pop();
    }

    std::ostream& out_;
    std::priority_queue<event, std::vector<event>, std::greater<event>> waiting_;
    std::uint64_t sequence_ = 0;
};

class chrome_writer {
public:
    chrome_writer(const std::vector<trace_file>& files, const std::vector<std::string>& directories,
                  declarations& read, std::ostream& out)
        : files_(files), directories_(directories), model_(read.model.build()), read_(read), out_(out), events_(out) {
        const std::size_t objects = model_.objects().size();
        in_begin_.assign(objects + 1, 0);
        for (const node_edge& e : model_.edges()) ++in_begin_[e.to + 1];
        for (std::size_t i = 0; i < objects; ++i) in_begin_[i + 1] += in_begin_[i];
        in_edges_.resize(model_.edges().size());
        std::vector<std::size_t> next(in_begin_.begin(), in_begin_.end() - 1);
        for (std::size_t k = 0; k < model_.edges().size(); ++k) in_edges_[next[model_.edges()[k].to]++] = k;
        pending_flow_.assign(model_.edges().size(), 0);
    }

    void write() {
        out_ << "{\"displayTimeUnit\":\"ns\",\"otherData\":{\"tool\":\"mvt-trace\",\"time_origin_ns\":\""
             << read_.first_timestamp << "\"},\n\"traceEvents\":[\n";
        write_names();
        std::vector<std::unique_ptr<thread>> threads;
        for (std::size_t f = 0; f < files_.size(); ++f) threads.push_back(std::make_unique<thread>(*this, files_[f]));
        merged_reader merged(files_);
        const trace_record* record = nullptr;
        std::size_t file = 0;
        std::vector<std::uint64_t> seen(files_.size(), 0);
        while (merged.next(record, file)) {
            events_.advance(record->timestamp);
            thread& t = *threads[file];
            t.tracker.record(*record);
            metadata_entry entry;
            if (metadata_of(*record, entry)) t.add_late(record->id(1), metadata_arg(model_.names(t.process), entry));
            if (record->kind != record_kind::end_of_records) ++seen[file];
            // After its last record a file's open executions end, at its
            // last timestamp, which the merged read has just reached.
            if (record->kind == record_kind::end_of_records || (!read_.ended[file] && seen[file] == read_.records[file]))
                t.finish();
        }
        for (std::unique_ptr<thread>& t : threads) t->finish();
        events_.flush();
        out_ << "\n]}\n";
    }

private:
    // One trace file: a thread of one process.
    struct thread : execution_listener {
        thread(chrome_writer& owner, const trace_file& file)
            : owner(owner), pid(file.process + 1), tid(file.index), process(file.process) {}

        void execution_begun(const execution& e) override {
            open.push_back({e.id, ""});
            owner.begun(*this, e);
        }
        void task_done(const execution& e) override { owner.task_ended(*this, e, take_late(e.id)); }
        void region_done(const execution& e) override { owner.region_ended(*this, e, take_late(e.id)); }
        void finish() {
            if (finished) return;
            finished = true;
            tracker.finish_file();
        }
        // Metadata on an execution that is running goes with its end.
        void add_late(const trace_id& id, const std::string& arg) {
            for (auto e = open.rbegin(); e != open.rend(); ++e) {
                if (e->id != id) continue;
                e->late_args += "," + arg;
                return;
            }
        }
        std::string take_late(const trace_id& id) {
            for (auto e = open.rbegin(); e != open.rend(); ++e) {
                if (e->id != id) continue;
                std::string args = std::move(e->late_args);
                open.erase(std::next(e).base());
                return args;
            }
            return "";
        }

        struct running {
            trace_id id;
            std::string late_args;  // ",\"key\":value..."
        };
        chrome_writer& owner;
        std::size_t pid;
        unsigned long tid;
        std::size_t process;
        bool finished = false;
        std::vector<running> open;
        execution_tracker tracker{*this};
    };

    // Both begin alike; the region's slice is async.
    void begun(thread& t, const execution& e) {
        const long node = model_.node_of_execution(t.process, e.id, e.domain);
        if (e.is_region) {
            events_.add(e.begin, "{\"ph\":\"b\",\"cat\":\"region\",\"name\":" + name_of(t, e) + ",\"id\":\"" +
                                     region_key(t, e) + "\",\"pid\":" + std::to_string(t.pid) + ",\"tid\":" +
                                     std::to_string(t.tid) + ",\"ts\":" + ts(e.begin) + ",\"args\":" + args(t, e, node) + "}");
            return;
        }
        events_.add(e.begin, "{\"ph\":\"B\",\"cat\":\"task\",\"name\":" + name_of(t, e) + ",\"pid\":" +
                                 std::to_string(t.pid) + ",\"tid\":" + std::to_string(t.tid) + ",\"ts\":" + ts(e.begin) +
                                 ",\"args\":" + args(t, e, node) + "}");
        // A flow ends with "bp":"e" bound to the slice that encloses it: the
        // one that has just begun.
        if (node < 0) return;
        for (std::size_t k = in_begin_[node]; k < in_begin_[node + 1]; ++k) {
            std::uint64_t& flow = pending_flow_[in_edges_[k]];
            if (flow == 0) continue;
            events_.add(e.begin, flow_event("f", flow, t, e.begin));
            flow = 0;
        }
    }

    // The end's args: metadata added while it ran, whether it never ended.
    static std::string end_args(const execution& e, const std::string& late) {
        std::string args = late + (e.open_at_end ? ",\"open_at_end\":true" : "");
        return args.empty() ? "" : ",\"args\":{" + args.substr(1) + "}";
    }

    void task_ended(thread& t, const execution& e, const std::string& late) {
        // A flow starts bound to the slice that encloses it: inside this
        // one, a nanosecond before its end, one per edge out of its node.
        const long node = e.open_at_end ? -1 : model_.node_of_execution(t.process, e.id, e.domain);
        if (node >= 0) {
            const node_edge first{static_cast<std::size_t>(node), 0};
            const auto& edges = model_.edges();
            for (auto k = std::lower_bound(edges.begin(), edges.end(), first);
                 k != edges.end() && k->from == static_cast<std::size_t>(node); ++k) {
                const std::uint64_t flow = ++flows_;
                pending_flow_[static_cast<std::size_t>(k - edges.begin())] = flow;
                events_.add(std::max(e.begin, e.end - 1), flow_event("s", flow, t, std::max(e.begin, e.end - 1)));
            }
        }
        events_.add(e.end, "{\"ph\":\"E\",\"pid\":" + std::to_string(t.pid) + ",\"tid\":" + std::to_string(t.tid) +
                               ",\"ts\":" + ts(e.end) + end_args(e, late) + "}");
    }

    void region_ended(thread& t, const execution& e, const std::string& late) {
        events_.add(e.end, "{\"ph\":\"e\",\"cat\":\"region\",\"name\":" + name_of(t, e) + ",\"id\":\"" +
                               region_key(t, e) + "\",\"pid\":" + std::to_string(t.pid) + ",\"tid\":" +
                               std::to_string(t.tid) + ",\"ts\":" + ts(e.end) + end_args(e, late) + "}");
    }

    std::string flow_event(const char* phase, std::uint64_t flow, const thread& t, std::uint64_t time) const {
        return std::string("{\"ph\":\"") + phase + "\"" + (phase[0] == 'f' ? ",\"bp\":\"e\"" : "") +
               ",\"cat\":\"dependency\",\"name\":\"dependency\",\"id\":" + std::to_string(flow) +
               ",\"pid\":" + std::to_string(t.pid) + ",\"tid\":" + std::to_string(t.tid) + ",\"ts\":" + ts(time) + "}";
    }

    // Unique among the async slices of a process: the file and which begin
    // record of it opened the region.
    static std::string region_key(const thread& t, const execution& e) {
        return std::to_string(t.tid) + "." + std::to_string(e.ordinal);
    }

    std::string ts(std::uint64_t ns) const {
        const std::uint64_t origin = read_.first_timestamp;
        return microseconds_text(ns > origin ? ns - origin : 0);
    }

    std::string name_of(const thread& t, const execution& e) const {
        return quoted(model_.names(t.process).handle_name(e.name));
    }

    // `node`: the execution's, or -1.
    std::string args(const thread& t, const execution& e, long node) const {
        const name_table& names = model_.names(t.process);
        std::string json = "{\"id\":\"" + full_id_text(e.id) + "\",\"parent\":\"" + full_id_text(e.parent) +
                           "\",\"domain\":" + quoted(names.domain_name(e.domain));
        if (node >= 0) {
            const graph_object& o = model_.objects()[static_cast<std::size_t>(node)];
            json += ",\"node\":" + quoted(o.name()) + ",\"node_id\":\"" + full_id_text(o.id) + "\"";
        }
        const auto& metadata = read_.metadata[t.process];
        auto found = metadata.find(e.id);
        if (found == metadata.end()) found = metadata.find(trace_id{e.id.d1, 1, e.id.d3});
        if (found != metadata.end())
            for (const metadata_entry& m : found->second) json += "," + metadata_arg(names, m);
        return json + "}";
    }

    // "key":value, code addresses in hex.
    static std::string metadata_arg(const name_table& names, const metadata_entry& m) {
        const std::string key = names.handle_name(m.key);
        return quoted(key) + ":" +
               (m.is_text ? quoted(m.text) : key == "code_address" ? quoted(hex_address(m.number)) : json_number(m.number));
    }

    void write_names() {
        for (std::size_t p = 0; p < directories_.size(); ++p) {
            const std::optional<recorded_run> recorded = read_recorded_run(directories_[p]);
            const std::string name = recorded ? command_line(recorded->command) : directories_[p];
            out_ << (p == 0 ? "" : ",\n") << "{\"ph\":\"M\",\"name\":\"process_name\",\"pid\":" << p + 1 << ",\"tid\":0,\"args\":{\"name\":"
                 << quoted(name) << "}},\n{\"ph\":\"M\",\"name\":\"process_sort_index\",\"pid\":" << p + 1
                 << ",\"tid\":0,\"args\":{\"sort_index\":" << p << "}}";
        }
        for (std::size_t f = 0; f < files_.size(); ++f) {
            if (read_.records[f] == 0) continue;  // opened in advance, never used
            const trace_file& file = files_[f];
            out_ << ",\n{\"ph\":\"M\",\"name\":\"thread_name\",\"pid\":" << file.process + 1 << ",\"tid\":" << file.index
                 << ",\"args\":{\"name\":" << quoted("thread " + std::to_string(file.index) + " (" + file.name + ")")
                 << "}},\n{\"ph\":\"M\",\"name\":\"thread_sort_index\",\"pid\":" << file.process + 1
                 << ",\"tid\":" << file.index << ",\"args\":{\"sort_index\":" << file.index << "}}";
        }
    }

    const std::vector<trace_file>& files_;
    const std::vector<std::string>& directories_;
    run_model model_;
    declarations& read_;
    std::ostream& out_;
    ordered_events events_;
    std::vector<std::size_t> in_begin_, in_edges_;  // edges into each object, by position in edges()
    std::vector<std::uint64_t> pending_flow_;       // per edge: the flow its predecessor started, or 0
    std::uint64_t flows_ = 0;
};

}  // namespace

std::vector<file_report> write_chrome(const std::vector<trace_file>& files, const std::vector<std::string>& directories,
                                      std::ostream& out) {
    declarations read(files, directories.size());
    std::vector<file_report> reports = visit_files(files, read);
    chrome_writer(files, directories, read, out).write();
    return reports;
}

}  // namespace mvt_trace
