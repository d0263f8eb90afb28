#include "output/report/report_data.h"

#include <exception>
#include <thread>
#include <utility>

#include "analysis/run_health.h"
#include "common/text_format.h"
#include "common/json_text.h"
#include "output/check_report.h"
#include "output/report/recorded_run.h"
#include "output/report/report_page.h"

namespace mvt_trace {

namespace {

std::string string_array(const std::vector<std::string>& items) {
    std::string json = "[";
    for (std::size_t i = 0; i < items.size(); ++i) json += (i == 0 ? "" : ",") + json_quoted(items[i]);
    return json + "]";
}

// What check says of one directory, its files counted.
struct process_health {
    std::size_t files = 0;
    std::size_t threads = 0;
    std::uint64_t records = 0;
};

// check's findings for each process: files not whole and traces of several
// runs are problems; the runtime's quirks are notes. With several
// directories each line says which one it is about.
process_health assess_process(const run_health& health, const std::string& directory, bool several,
                              std::vector<std::string>& problems, std::vector<std::string>& notes) {
    for (const file_health& f : health.files)
        if (f.report.status != file_status::whole) problems.push_back(problem_line(f.report));
    const std::string prefix = several ? directory + ": " : "";
    for (const std::string& mixed : health.mixed_runs) problems.push_back(prefix + mixed);
    for (const std::string& note : health.notes) notes.push_back(prefix + note);
    return {health.files.size(), health.threads(), health.records()};
}

// What check notes of a file ("_mvt.0: 1 task_end record with ...") the
// analysis may count as a problem of the same file ("dir/_mvt.0: 1 ...");
// the page says it once, as a problem.
bool said_as_problem(const std::string& note, const std::vector<std::string>& problems) {
    for (const std::string& problem : problems) {
        if (problem == note) return true;
        if (problem.size() > note.size() && problem.compare(problem.size() - note.size(), note.size(), note) == 0 &&
            problem[problem.size() - note.size() - 1] == '/')
            return true;
    }
    return false;
}

std::vector<trace_file> files_of(const std::vector<trace_file>& files, std::size_t process) {
    std::vector<trace_file> chosen;
    for (const trace_file& f : files)
        if (f.process == process) chosen.push_back(f);
    return chosen;
}

// The "run" object: the title is the recorded command line, where record
// left one, else the directory.
void write_run(const std::vector<trace_file>& files, const report_inputs& inputs, const timeline_exporter& timeline,
               std::ostream& out) {
    std::vector<std::string> titles, problems, notes;
    process_health total;
    std::optional<recorded_run> first_recorded;
    const bool several = inputs.directories.size() > 1;
    for (std::size_t p = 0; p < inputs.directories.size(); ++p) {
        const std::string& directory = inputs.directories[p];
        std::vector<std::string> process_notes;
        const process_health health =
            assess_process(inputs.health ? inputs.health->at(p) : assess_run(files_of(files, p)), directory, several,
                           problems, process_notes);
        for (const std::string& note : process_notes)
            if (!said_as_problem(several ? note.substr(directory.size() + 2) : note, inputs.analysis_problems))
                notes.push_back(note);
        total.files += health.files;
        total.threads += health.threads;
        total.records += health.records;
        const std::optional<recorded_run> recorded = read_recorded_run(directory);
        titles.push_back(recorded ? command_line(recorded->command) : directory);
        if (p == 0) first_recorded = recorded;
    }
    // The analysis repeats check's problems in its own words.
    if (!inputs.analysis_json.empty()) problems = inputs.analysis_problems;
    std::string title;
    for (const std::string& t : titles) title += (title.empty() ? "" : ", ") + t;

    out << "{\"title\":" << json_quoted(title) << ",\"directories\":" << string_array(inputs.directories)
        << ",\"command\":" << (first_recorded ? string_array(first_recorded->command) : "null")
        << ",\"exit_status\":"
        << (first_recorded && first_recorded->exit_status ? std::to_string(*first_recorded->exit_status) : "null")
        << ",\"outcome\":" << (first_recorded ? json_quoted(first_recorded->outcome) : "null")
        << ",\"origin_utc\":" << json_quoted(format_utc(timeline.first_timestamp()))
        << ",\"wall_ns\":" << timeline.last_timestamp() - timeline.first_timestamp() << ",\"threads\":" << total.threads
        << ",\"files\":" << total.files << ",\"records\":" << total.records << ",\"problems\":" << string_array(problems)
        << ",\"notes\":" << string_array(notes) << "}";
}

}  // namespace

std::vector<file_report> write_report_data(const std::vector<trace_file>& files, report_inputs inputs,
                                           std::ostream& out, const report_preparation& alongside) {
    timeline_exporter timeline(inputs.limits);
    std::vector<file_report> reports;
    {
        // The timeline's read needs nothing from the analysis until it
        // settles: the two read the run side by side.
        std::exception_ptr failed;
        std::thread reader([&] {
            try {
                reports = timeline.read(files);
            } catch (...) {
                failed = std::current_exception();
            }
        });
        try {
            if (alongside) alongside(inputs);
        } catch (...) {
            reader.join();
            throw;
        }
        reader.join();
        if (failed) std::rethrow_exception(failed);
    }
    timeline.settle(inputs.node_of);
    out << "{\"format\":1,\"generator\":\"mvt-trace " MVT_TRACE_VERSION "\",\"run\":";
    write_run(files, inputs, timeline, out);
    out << ",\n\"analysis\":" << (inputs.analysis_json.empty() ? std::string("null") : script_safe(inputs.analysis_json))
        << ",\n\"timeline\":";
    timeline.write_json(out);
    out << ",\n\"graph\":{\"svg\":" << (inputs.graph_svg.empty() ? "null" : json_quoted(inputs.graph_svg))
        << ",\"note\":" << (inputs.graph_note.empty() ? "null" : json_quoted(inputs.graph_note)) << "}}\n";
    return reports;
}

std::vector<file_report> write_report(const std::vector<trace_file>& files, const report_inputs& inputs,
                                      std::ostream& out, const report_preparation& alongside) {
    std::vector<file_report> reports;
    write_report_page([&](std::ostream& data) { reports = write_report_data(files, inputs, data, alongside); }, out);
    return reports;
}

}  // namespace mvt_trace
