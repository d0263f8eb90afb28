#include "output/chrome_output.h"

#include <algorithm>
#include <string>

#include "common/json_text.h"
#include "common/text_format.h"
#include "reading/recorded_run.h"

namespace mvt_trace {

namespace {

// JSON numbers beyond 2^53 lose digits in most readers; such values are
// written as strings.
std::string json_number(std::uint64_t value) {
    if (value <= (std::uint64_t{1} << 53)) return std::to_string(value);
    return "\"" + std::to_string(value) + "\"";
}

class chrome_writer {
public:
    chrome_writer(const trace_model& model, const run_labels& labels, const execution_graph& graph, std::ostream& out)
        : model_(model), labels_(labels), graph_(graph), out_(out), ordinal_(model.pieces().size(), 0),
          last_piece_(model.executions().size(), 0) {
        for (std::uint32_t e = 0; e < model.executions().size(); ++e) {
            std::uint32_t k = 0;
            for (std::uint32_t p = model.executions()[e].first_piece; p != no_index; p = model.pieces()[p].next) {
                ordinal_[p] = ++k;
                last_piece_[e] = p;
            }
        }
    }

    void write() {
        out_ << "{\"displayTimeUnit\":\"ns\",\"otherData\":{\"tool\":\"mvt-trace\",\"time_origin_ns\":\""
             << model_.first_timestamp() << "\"},\n\"traceEvents\":[\n";
        write_names();
        // Events in time order: a list of what to write when, sorted, then
        // written one by one; at equal times ends of slices go before
        // beginnings, and a flow's end after the slice it binds to begins.
        struct event {
            std::uint64_t at;
            std::uint8_t order;  // at equal times
            std::uint8_t kind;
            std::uint32_t index;
        };
        enum : std::uint8_t { slice, region_begin, region_end, flow_start, flow_end };
        std::vector<event> events;
        events.reserve(model_.pieces().size() + 2 * model_.regions().size() + 2 * graph_.edges());
        for (std::uint32_t p = 0; p < model_.pieces().size(); ++p) events.push_back({model_.pieces()[p].begin, 1, slice, p});
        for (std::uint32_t r = 0; r < model_.regions().size(); ++r) {
            events.push_back({model_.regions()[r].begin, 1, region_begin, r});
            events.push_back({model_.regions()[r].end, 0, region_end, r});
        }
        for (std::uint32_t k = 0; k < graph_.predecessors.targets.size(); ++k) {
            events.push_back({flow_start_time(k), 2, flow_start, k});
            events.push_back({model_.executions()[successor(k)].begin, 2, flow_end, k});
        }
        std::stable_sort(events.begin(), events.end(), [](const event& a, const event& b) {
            return a.at != b.at ? a.at < b.at : a.order < b.order;
        });
        for (const event& e : events) {
            out_ << ",\n";
            switch (e.kind) {
                case slice: write_slice(e.index); break;
                case region_begin: write_region(e.index, true); break;
                case region_end: write_region(e.index, false); break;
                case flow_start: write_flow(e.index, true); break;
                case flow_end: write_flow(e.index, false); break;
            }
        }
        out_ << "\n]}\n";
    }

private:
    // Flows are the predecessor lists of the graph, numbered as they lie.
    std::uint32_t successor(std::uint32_t flow) const {
        const index_list& begin = graph_.predecessors.begin;
        const std::size_t place = static_cast<std::size_t>(std::upper_bound(begin.begin(), begin.end(), flow) - begin.begin()) - 1;
        return graph_.members[place];
    }
    std::uint32_t predecessor(std::uint32_t flow) const { return graph_.members[graph_.predecessors.targets[flow]]; }
    const trace_model::piece& last_piece(std::uint32_t execution) const { return model_.pieces()[last_piece_[execution]]; }
    // A flow starts bound to the slice that encloses it: inside the
    // predecessor's last piece, a nanosecond before its end.
    std::uint64_t flow_start_time(std::uint32_t flow) const {
        const trace_model::piece& p = last_piece(predecessor(flow));
        return std::max(p.begin, p.end == 0 ? 0 : p.end - 1);
    }

    std::string ts(std::uint64_t ns) const {
        return microseconds_text(model_.since_start(ns));
    }
    std::string pid_tid(std::uint32_t thread) const {
        const trace_model::thread& t = model_.threads()[thread];
        return ",\"pid\":" + std::to_string(t.process + 1) + ",\"tid\":" + std::to_string(t.file.index);
    }

    void write_slice(std::uint32_t index) {
        const trace_model::piece& p = model_.pieces()[index];
        const trace_model::execution& e = model_.executions()[p.execution];
        out_ << "{\"ph\":\"X\",\"cat\":\"" << (e.is_work() ? "task" : "runtime")
             << "\",\"name\":" << json_quoted(labels_.of_execution(model_, e)) << pid_tid(p.thread) << ",\"ts\":" << ts(p.begin)
             << ",\"dur\":" << microseconds_text(p.end - p.begin) << ",\"args\":" << args(e, p) << "}";
    }

    std::string args(const trace_model::execution& e, const trace_model::piece& p) const {
        const std::uint32_t process = model_.process_of(e);
        const trace_model::process& owner = model_.processes()[process];
        std::string json = "{\"id\":\"" + full_id_text(model_.id_of(e)) + "\",\"parent\":\"" +
                           full_id_text(owner.ids.id(e.parent)) + "\",\"name\":" + json_quoted(model_.text(e.name));
        if (e.node != no_index) {
            const trace_model::object& o = model_.objects()[e.node];
            json += ",\"node\":" + json_quoted(labels_.of_object(e.node)) + ",\"node_kind\":" +
                    json_quoted(model_.kind_of(o)) + ",\"node_id\":\"" + full_id_text(o.id) + "\"";
            if (o.has_code_address) json += ",\"code_address\":\"" + hex_address(o.code_address) + "\"";
        }
        if (e.piece_count > 1)
            json += ",\"piece\":\"" + std::to_string(ordinal_[static_cast<std::size_t>(&p - model_.pieces().data())]) +
                    " of " + std::to_string(e.piece_count) + "\"";
        if (e.open_at_end && p.next == no_index) json += ",\"open_at_end\":true";
        const auto [first, last] = model_.metadata_of(process, e.id);
        for (const trace_model::metadata_value* m = first; m != last; ++m) {
            const std::string_view key = model_.text(m->key);
            json += "," + json_quoted("metadata." + std::string(key)) + ":" +
                    (m->is_text                 ? json_quoted(model_.text(m->text))
                     : key == "code_address" ? "\"" + hex_address(m->number) + "\""
                                             : json_number(m->number));
        }
        return json + "}";
    }

    void write_region(std::uint32_t index, bool begin) {
        const trace_model::region& r = model_.regions()[index];
        const std::uint32_t process = model_.threads()[r.begin_thread].process;
        out_ << "{\"ph\":\"" << (begin ? "b" : "e") << "\",\"cat\":\"region\",\"name\":" << json_quoted(model_.text(r.name))
             << ",\"id\":\"" << index << "\"" << pid_tid(begin ? r.begin_thread : r.end_thread) << ",\"ts\":"
             << ts(begin ? r.begin : r.end);
        if (begin)
            out_ << ",\"args\":{\"id\":\"" << full_id_text(model_.processes()[process].ids.id(r.id)) << "\"}";
        else if (r.open_at_end)
            out_ << ",\"args\":{\"open_at_end\":true}";
        out_ << "}";
    }

    void write_flow(std::uint32_t flow, bool start) {
        const std::uint32_t e = start ? predecessor(flow) : successor(flow);
        const std::uint32_t thread = start ? last_piece(e).thread : model_.pieces()[model_.executions()[e].first_piece].thread;
        out_ << "{\"ph\":\"" << (start ? "s" : "f") << "\"" << (start ? "" : ",\"bp\":\"e\"")
             << ",\"cat\":\"dependency\",\"name\":\"dependency\",\"id\":" << flow + 1 << pid_tid(thread)
             << ",\"ts\":" << ts(start ? flow_start_time(flow) : model_.executions()[e].begin) << "}";
    }

    void write_names() {
        const auto& processes = model_.processes();
        for (std::size_t p = 0; p < processes.size(); ++p) {
            const std::optional<recorded_run> recorded = read_recorded_run(processes[p].directory);
            const std::string name = recorded ? command_line(recorded->command) : processes[p].directory;
            out_ << (p == 0 ? "" : ",\n") << "{\"ph\":\"M\",\"name\":\"process_name\",\"pid\":" << p + 1
                 << ",\"tid\":0,\"args\":{\"name\":" << json_quoted(name)
                 << "}},\n{\"ph\":\"M\",\"name\":\"process_sort_index\",\"pid\":" << p + 1
                 << ",\"tid\":0,\"args\":{\"sort_index\":" << p << "}}";
        }
        for (std::uint32_t t = 0; t < model_.threads().size(); ++t) {
            const trace_model::thread& thread = model_.threads()[t];
            if (thread.records == 0) continue;  // opened in advance, never used
            out_ << ",\n{\"ph\":\"M\",\"name\":\"thread_name\"" << pid_tid(t) << ",\"args\":{\"name\":"
                 << json_quoted("thread " + std::to_string(thread.file.index) + " (" + thread.file.name + ")")
                 << "}},\n{\"ph\":\"M\",\"name\":\"thread_sort_index\"" << pid_tid(t)
                 << ",\"args\":{\"sort_index\":" << thread.file.index << "}}";
        }
    }

    const trace_model& model_;
    const run_labels& labels_;
    const execution_graph& graph_;
    std::ostream& out_;
    std::vector<std::uint32_t> ordinal_;     // per piece: which of its execution's, from 1
    std::vector<std::uint32_t> last_piece_;  // per execution
};

}  // namespace

void write_chrome(const trace_model& model, const run_labels& labels, const execution_graph& graph,
                  std::ostream& out) {
    chrome_writer(model, labels, graph, out).write();
}

}  // namespace mvt_trace
