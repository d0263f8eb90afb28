#include "model/model_builder.h"

#include <algorithm>

#include "common/text_format.h"
#include "model/run_consistency.h"

namespace mvt_trace {

model_builder::model_builder(const run_layout& layout) : files_(layout.files()), directories_(layout.directories()) {
    for (const traced_process& process : layout.processes) {
        labels_.push_back(process.label);
        ended_by_exec_.push_back(process.facts && process.facts->ending == "exec");
    }
    logs_.reserve(files_.size());
    for (std::size_t f = 0; f < files_.size(); ++f) logs_.push_back(std::make_unique<file_log>());
}

model_builder::~model_builder() = default;

trace_model model_builder::build() {
    collect_threads();
    number_identifiers();
    collect_names();
    collect_objects();
    attach_executions();
    label_objects();
    collect_edges();
    replay_executions();
    index_executions();
    collect_findings();
    logs_.clear();
    numbers_.clear();
    states_.clear();
    sources_.clear();
    return std::move(model_);
}

// Threads are the files, grouped by process in the order of the command
// line: a process's threads are consecutive.
void model_builder::collect_threads() {
    model_.processes_.resize(directories_.size());
    states_.resize(directories_.size());
    unnamed_handles_.assign(directories_.size(), 0);
    restarted_tasks_.assign(directories_.size(), 0);
    for (std::size_t p = 0; p < directories_.size(); ++p) {
        model_.processes_[p].directory = directories_[p];
        model_.processes_[p].label = labels_[p];
        model_.processes_[p].ended_by_exec = ended_by_exec_[p];
    }
    // Threads keep the files' positions, which list a process's files
    // together (run_layout::files): the reports and the logs are by position too.
    model_.threads_.resize(files_.size());
    for (std::size_t f = 0; f < files_.size(); ++f) {
        const file_log& log = *logs_[f];
        trace_model::thread& t = model_.threads_[f];
        t.file = files_[f];
        t.report = log.report;
        t.process = static_cast<std::uint32_t>(files_[f].process);
        t.by_kind = log.by_kind;
        t.records = log.program_records;
        t.first_record = log.first_record;
        t.last_record = log.last_record;
        t.any_timestamp = log.records > 0;
        t.first_timestamp = log.first_timestamp;
        t.last_timestamp = log.last_timestamp;
        t.ended = log.ended;
        t.end_timestamp = log.end_timestamp;
        trace_model::process& process = model_.processes_[t.process];
        if (process.thread_count == 0) process.first_thread = static_cast<std::uint32_t>(f);
        ++process.thread_count;
        states_[t.process].files.push_back(f);
        if (!t.any_timestamp) continue;
        model_.first_timestamp_ = model_.any_timestamp_ ? std::min(model_.first_timestamp_, t.first_timestamp)
                                                        : t.first_timestamp;
        model_.last_timestamp_ = model_.any_timestamp_ ? std::max(model_.last_timestamp_, t.last_timestamp)
                                                       : t.last_timestamp;
        model_.any_timestamp_ = true;
    }
}

// Each file numbered its identifiers on its own; the process's numbers are
// given in the order of the files, so that they do not depend on which file
// a reading thread finished first.
void model_builder::number_identifiers() {
    numbers_.resize(files_.size());
    for (std::size_t f = 0; f < files_.size(); ++f) {
        const file_log& log = *logs_[f];
        id_table& ids = model_.processes_[files_[f].process].ids;
        file_numbers& numbers = numbers_[f];
        numbers.ids.resize(log.ids.size());
        for (std::uint32_t local = 0; local < log.ids.size(); ++local) numbers.ids[local] = ids.intern(log.ids.id(local));
        numbers.addresses = log.addresses.addresses;
    }
}

// The first name read for an address wins, in the order of the files: the
// registries hand out one address per name, so later records repeat it.
void model_builder::collect_names() {
    for (std::size_t f = 0; f < files_.size(); ++f) {
        const file_log& log = *logs_[f];
        name_table& names = model_.processes_[files_[f].process].names;
        for (const file_log::name_entry& name : log.names) {
            const std::string_view text = std::string_view(log.texts).substr(name.text_begin, name.text_size);
            if (name.is_domain)
                names.add_domain(name.address, text);
            else
                names.add_handle(name.address, text);
        }
    }
    for (trace_model::process& process : model_.processes_) process.openmp_domains = process.names.domains_named("openmp");
    for (std::size_t f = 0; f < files_.size(); ++f) {
        const file_log& log = *logs_[f];
        trace_model::process& process = model_.processes_[files_[f].process];
        for (const auto& [kind, count] : log.groups_by_kind)
            process.task_groups_by_kind[process.names.handle_name(log.addresses.addresses[kind])] += count;
        for (std::size_t code = 0; code < log.relations_by_code.size(); ++code)
            if (log.relations_by_code[code] > 0) process.relations_by_code[static_cast<int>(code)] += log.relations_by_code[code];
    }
}

std::uint32_t model_builder::handle_string(std::uint32_t process, std::uint64_t address) {
    auto& strings = states_[process].handle_strings;
    auto found = strings.find(address);
    if (found != strings.end()) return found->second;
    const name_table& names = model_.processes_[process].names;
    const std::uint32_t string = model_.strings_.intern(names.handle_name(address));
    strings.emplace(address, string);
    if (address != 0 && !names.has_handle(address)) ++unnamed_handles_[process];
    return string;
}

namespace {

finding counted_finding(finding_kind kind, std::uint32_t process, std::uint32_t thread, std::uint64_t count,
                        std::string one, std::string many) {
    finding f;
    f.kind = kind;
    f.process = process;
    f.thread = thread;
    f.count = count;
    f.one = std::move(one);
    f.many = std::move(many);
    return f;
}

finding detailed_finding(finding_kind kind, std::uint32_t process, std::string detail) {
    finding f;
    f.kind = kind;
    f.process = process;
    f.detail = std::move(detail);
    return f;
}

}  // namespace

void model_builder::collect_findings() {
    std::vector<finding>& findings = model_.findings_;
    std::vector<finding> notes;
    std::uint64_t markup = 0, unbounded_texts = 0, graph_records = 0, task_begins = 0;
    for (std::uint32_t f = 0; f < files_.size(); ++f) {
        const trace_model::thread& t = model_.threads_[f];
        const file_log& log = *logs_[f];
        markup += log.texts_with_markup;
        unbounded_texts += log.longer_metadata_texts;
        graph_records += t.by_kind[static_cast<std::size_t>(record_kind::task_group)];
        task_begins += t.by_kind[static_cast<std::size_t>(record_kind::task_begin)];
        // An image replaced by exec never runs the library's exit handlers:
        // its files stop at a record's end without their closing lines, and
        // nothing is lost.
        if (t.report.status == file_status::truncated && model_.processes_[t.process].ended_by_exec &&
            t.report.message.find("where it should have \"<record>\"") != std::string::npos) {
            finding note = detailed_finding(finding_kind::ended_by_exec, t.process, "");
            note.thread = f;
            notes.push_back(std::move(note));
            continue;
        }
        if (t.report.status != file_status::whole) {
            finding problem = detailed_finding(finding_kind::file_not_whole, t.process, problem_line(t.report));
            problem.thread = f;
            findings.push_back(std::move(problem));
            // A file cut short leaves its executions open and loses the ends
            // that would have followed: only a whole file's are worth telling.
            continue;
        }
        const thread_counts& c = counts_[f];
        if (c.open_tasks > 0)
            findings.push_back(counted_finding(finding_kind::open_node_execution, t.process, f, c.open_tasks,
                                               "execution", "executions"));
        if (c.open_runtime > 0)
            notes.push_back(counted_finding(finding_kind::open_runtime_execution, t.process, f, c.open_runtime,
                                            "execution", "executions"));
        if (c.open_unattached > 0)
            notes.push_back(counted_finding(finding_kind::open_execution, t.process, f, c.open_unattached,
                                            "execution", "executions"));
        if (c.unmatched_task_ends > 0)
            notes.push_back(counted_finding(finding_kind::unmatched_task_end, t.process, f, c.unmatched_task_ends,
                                            "task_end record", "task_end records"));
        if (c.open_regions > 0)
            notes.push_back(counted_finding(finding_kind::open_region, t.process, f, c.open_regions, "region",
                                            "regions"));
        if (c.unmatched_region_ends > 0)
            notes.push_back(counted_finding(finding_kind::unmatched_region_end, t.process, f,
                                            c.unmatched_region_ends, "region_end record", "region_end records"));
    }
    for (std::uint32_t p = 0; p < model_.processes_.size(); ++p)
        for (std::string& reason : find_mixed_runs(model_, p))
            findings.push_back(detailed_finding(finding_kind::not_one_run, p, std::move(reason)));
    if (role_conflicts_ > 0)
        findings.push_back(detailed_finding(
            finding_kind::role_conflict, no_index,
            first_role_conflict_ + (role_conflicts_ > 1 ? " (and " +
                                                              counted(role_conflicts_ - 1, "more identifier",
                                                                      "more identifiers") +
                                                              " declared as a node and as a port)"
                                                        : "")));
    if (!model_.edges_complete_)
        findings.push_back(detailed_finding(
            finding_kind::edges_incomplete, no_index,
            "the graph has at least " + counted(model_.edges_.size(), "edge", "edges") +
                ": storage locations that join many nodes to many were not all expanded into node-to-node edges"));
    for (std::uint32_t p = 0; p < unnamed_handles_.size(); ++p)
        if (unnamed_handles_[p] > 0)
            notes.push_back(detailed_finding(
                finding_kind::unnamed_handles, p,
                counted(unnamed_handles_[p], "name handle is", "name handles are") +
                    " used without a record naming them, shown as \"(unnamed 0x...)\": the runtime created "
                    "its names before it loaded the library, as an instrumented runtime's compiled-in part "
                    "does when it binds the collector late"));
    for (std::uint32_t p = 0; p < restarted_tasks_.size(); ++p)
        if (restarted_tasks_[p] > 0)
            notes.push_back(detailed_finding(
                finding_kind::restarted_tasks, p,
                counted(restarted_tasks_[p], "OpenMP task began again after it had ended",
                        "OpenMP tasks began again after they had ended") +
                    ", each counted as more than one execution: libomp reports only the "
                    "end of a task it runs inside an untied task's taskyield, which then reads as the untied "
                    "task's end"));
    if (task_begins > 0 && graph_records == 0)
        notes.push_back(detailed_finding(
            finding_kind::no_graph, no_index,
            "the run declared no graph, so executions are grouped by name: OpenMP tasks get nodes only when "
            "they have dependences, and a flow-graph runtime declares its graph only when the program is "
            "built with its tracing on (for oneTBB, -DTBB_USE_PROFILING_TOOLS=1 "
            "-DTBB_PREVIEW_FLOW_GRAPH_TRACE=1)"));
    if (markup > 0)
        notes.push_back(detailed_finding(
            finding_kind::format_limit, no_index,
            counted(markup, "name or metadata text holds", "names or metadata texts hold") +
                " markup or a line feed: the library writes texts unescaped, so such a text can look like "
                "records of its own"));
    if (unbounded_texts > 0)
        notes.push_back(detailed_finding(
            finding_kind::format_limit, no_index,
            counted(unbounded_texts, "metadata text is", "metadata texts are") +
                " not as long as the length the program gave: the library writes a text up to its NUL, "
                "whatever the length says"));
    for (finding& note : notes) findings.push_back(std::move(note));
}

}  // namespace mvt_trace
