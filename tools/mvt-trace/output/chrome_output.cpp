#include "output/chrome_output.h"

#include <string>
#include <unordered_map>
#include <unordered_set>

#include "model/execution_tracker.h"
#include "model/link_index.h"
#include "reading/record_visitor.h"
#include "common/text_format.h"

namespace mvt_trace {

namespace {

// JSON numbers beyond 2^53 lose digits in most readers; addresses and ids
// are written as strings then.
std::string json_number(std::uint64_t value) {
    if (value <= (std::uint64_t{1} << 53)) return std::to_string(value);
    return "\"" + std::to_string(value) + "\"";
}

class chrome_writer : public record_visitor, public execution_listener {
public:
    chrome_writer(const link_index& index, std::ostream& out) : index_(index), out_(out) {
        for (std::size_t i = 0; i < index.links().size(); ++i) {
            ends_[index.links()[i].from].push_back({i, true});
            ends_[index.links()[i].to].push_back({i, false});
        }
    }

    void start() {
        out_ << "{\"displayTimeUnit\":\"ns\",\"otherData\":{\"tool\":\"mvt-trace\",\"time_origin_ns\":\""
             << index_.first_timestamp() << "\"},\n\"traceEvents\":[\n";
        out_ << "{\"ph\":\"M\",\"name\":\"process_name\",\"pid\":1,\"tid\":0,\"args\":{\"name\":\"trace\"}}";
    }

    void finish() { out_ << "\n]}\n"; }

    void begin_file(const trace_file& file, std::size_t) override {
        tid_ = file.index;
        out_ << ",\n{\"ph\":\"M\",\"name\":\"thread_name\",\"pid\":1,\"tid\":" << tid_
             << ",\"args\":{\"name\":\"" << json_escape(file.name) << "\"}}";
        out_ << ",\n{\"ph\":\"M\",\"name\":\"thread_sort_index\",\"pid\":1,\"tid\":" << tid_
             << ",\"args\":{\"sort_index\":" << tid_ << "}}";
    }

    void record(const trace_record& record) override { tracker_.record(record); }
    void end_file(const file_report&) override { tracker_.finish_file(); }

    void task_done(const execution& task) override {
        write_complete(task, "task");
        if (flowed_.insert(task.id).second) write_flows(task);
    }
    void region_done(const execution& region) override { write_complete(region, "region"); }

private:
    struct link_end {
        std::size_t link;
        bool is_source;
    };

    std::string ts(std::uint64_t ns) const {
        std::uint64_t origin = index_.first_timestamp();
        return microseconds_text(ns > origin ? ns - origin : 0);
    }

    void write_complete(const execution& e, const char* category) {
        out_ << ",\n{\"ph\":\"X\",\"cat\":\"" << category << "\",\"name\":\""
             << json_escape(index_.names().handle_name(e.name)) << "\",\"pid\":1,\"tid\":" << tid_
             << ",\"ts\":" << ts(e.begin) << ",\"dur\":" << microseconds_text(e.end - e.begin) << ",\"args\":{";
        out_ << "\"id\":\"" << id_text(e.id) << "\",\"parent\":\"" << id_text(e.parent) << "\",\"domain\":\""
             << json_escape(index_.names().domain_name(e.domain)) << "\"";
        if (e.open_at_end) out_ << ",\"open_at_end\":true";
        if (const std::vector<metadata_entry>* entries = index_.metadata_of(e.id)) {
            for (const metadata_entry& m : *entries) {
                out_ << ",\"" << json_escape(index_.names().handle_name(m.key)) << "\":";
                if (m.is_text)
                    out_ << "\"" << json_escape(m.text) << "\"";
                else
                    out_ << json_number(m.number);
            }
        }
        out_ << "}}";
    }

    // A flow starts inside the first execution of its source identifier and
    // ends inside the first execution of its target, each placed at the
    // execution's begin so that the viewer binds it to that slice.
    void write_flows(const execution& e) {
        auto found = ends_.find(e.id);
        if (found == ends_.end()) return;
        for (const link_end& end : found->second) {
            const execution_link& link = index_.links()[end.link];
            out_ << ",\n{\"ph\":\"" << (end.is_source ? "s" : "f") << "\"" << (end.is_source ? "" : ",\"bp\":\"e\"")
                 << ",\"cat\":\"relation\",\"name\":\"" << relation_name(link.kind) << "\",\"id\":" << end.link + 1
                 << ",\"pid\":1,\"tid\":" << tid_ << ",\"ts\":" << ts(e.begin) << "}";
        }
    }

    const link_index& index_;
    std::ostream& out_;
    unsigned long tid_ = 0;
    std::unordered_map<trace_id, std::vector<link_end>, trace_id_hash> ends_;
    std::unordered_set<trace_id, trace_id_hash> flowed_;
    execution_tracker tracker_{*this};
};

}  // namespace

std::vector<file_report> write_chrome(const std::vector<trace_file>& files, std::ostream& out) {
    link_index index;
    visit_files(files, index);
    index.resolve_links();
    chrome_writer writer(index, out);
    writer.start();
    std::vector<file_report> reports = visit_files(files, writer);
    writer.finish();
    return reports;
}

}  // namespace mvt_trace
