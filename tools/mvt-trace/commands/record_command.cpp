#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>

#include "analysis/run_analysis.h"
#include "output/check_report.h"
#include "capture/library_location.h"
#include "capture/program_run.h"
#include "capture/trace_destination.h"
#include "commands/commands.h"
#include "commands/common.h"
#include "common/text_format.h"
#include "output/check_report.h"
#include "output/report/recorded_run.h"

namespace mvt_trace {

namespace {

void say(const std::string& line) { std::cerr << "mvt-trace: " << line << "\n"; }

// The environment that makes the program's runtimes load the library: the
// trace directory, the OpenMP tool (ahead of any the user named), and the
// collector that instrumented runtimes' loaders look for.
std::vector<std::string> tracing_environment(const std::string& directory, const std::string& library) {
    std::string tools = library;
    if (const char* named = std::getenv("OMP_TOOL_LIBRARIES"); named != nullptr && *named != '\0')
        tools += std::string(":") + named;
    return {"MVA_DIR=" + directory, "OMP_TOOL_LIBRARIES=" + tools, "INTEL_LIBITTNOTIFY64=" + library};
}

// A few lines after the run: where the trace is, whether it is whole, and
// what to do next.
void report_recording(const std::string& directory, const program_outcome& outcome) {
    if (!outcome.started || !outcome.exited || outcome.exit_status != 0)
        say("the program " + outcome.description());
    if (!outcome.started) return;
    // The library writes its files when it is loaded, and records when a
    // thread calls it; no files, or files without records, tell which
    // step never happened.
    std::vector<trace_file> files;
    std::string error;
    const bool loaded = list_trace_files(directory, files, error);
    std::vector<file_report> reports;
    const trace_model model = loaded ? read_model(files, {directory}, reports) : trace_model{};
    std::uint64_t records = 0;
    std::size_t whole = 0;
    for (const trace_model::thread& t : model.threads()) {
        records += t.records;
        whole += t.report.status == file_status::whole ? 1 : 0;
    }
    if (!loaded || records == 0) {
        say("nothing was recorded in " + directory + "/: the program " +
            (loaded ? "loaded the library, but no thread called it" : "never loaded the library"));
        say("(the library traces OpenMP on LLVM's libomp - GCC's libgomp has no tool interface - and");
        say("runtimes instrumented with the __itt_* API)");
        return;
    }
    bool sound = whole == model.threads().size();
    for (const finding& f : model.findings()) sound = sound && severity_of(f.kind) != severity::problem;
    std::string state = sound ? "whole" : "NOT whole";
    if (whole < model.threads().size())
        state += ": " + counted(model.threads().size() - whole, "file", "files") + " cut short";
    say("trace in " + directory + "/: " + counted(records, "record", "records") + " from " +
        counted(model.active_threads(), "thread", "threads") + ", " + state);
    if (!sound) say("see: mvt-trace check " + directory);
    say("next: mvt-trace analyze " + directory);
    say("      mvt-trace report " + directory + " -o " + directory + ".html");
}

// Leaves DIR/mvt-record.json beside the trace files, so that a report can
// say what was run and how it ended. Written whole under a temporary name and
// renamed, so a reader never meets half a file; a failure costs a warning,
// never the recording.
void write_record_file(const std::string& directory, const std::vector<std::string>& command,
                       const program_outcome& outcome) {
    const std::optional<int> status =
        outcome.started && outcome.exited ? std::optional<int>(outcome.exit_status) : std::nullopt;
    const std::string json = recorded_run_text(command, status, outcome.description());
    const std::string path = directory + "/" + recorded_run_file;
    const std::string temporary = path + ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << json;
        out.close();
        if (out && std::rename(temporary.c_str(), path.c_str()) == 0) return;
    }
    std::remove(temporary.c_str());
    say("warning: could not write " + path + " (the report will show the directory name instead)");
}

int run_record(const invocation& call) {
    std::string library, directory, error;
    if (!locate_library(call.value("--library"), library, error) ||
        !prepare_trace_directory(call.value("--output"), directory, error)) {
        print_error("record: " + error);
        return 2;
    }
    // An absolute MVA_DIR keeps the trace in place even if the program
    // changes its working directory before the library loads.
    std::string absolute = directory;
    if (absolute.front() != '/') {
        char* here = ::getcwd(nullptr, 0);
        if (here != nullptr) absolute = std::string(here) + "/" + directory;
        ::free(here);
    }
    const program_outcome outcome = run_program(call.program, tracing_environment(absolute, library));
    if (outcome.started) write_record_file(directory, call.program, outcome);
    report_recording(directory, outcome);
    return outcome.shell_status();
}

}  // namespace

const command_spec record_command = {
    "record",
    "-- PROGRAM [ARGS...]",
    "run a program and trace it into a fresh directory",
    "Runs PROGRAM with tracing on: MVA_DIR names a new trace directory, OMP_TOOL_LIBRARIES\n"
    "makes LLVM's libomp load the library as its OpenMP tool, and INTEL_LIBITTNOTIFY64 makes\n"
    "instrumented runtimes load it as their collector. The program keeps the terminal and its\n"
    "exit status becomes mvt-trace's; afterwards a few lines on standard error say where the\n"
    "trace is, whether it is whole, and what to run next. The directory also gets\n"
    "mvt-record.json, the command and how it ended, which mvt-trace report shows.\n"
    "\n"
    "Without -o the trace goes into a new directory named after the date and time\n"
    "(mvt_20261206_120233) in the working directory. A directory given with -o must not hold\n"
    "anything yet: two runs in one directory would mix their files.",
    {{"--output", "-o", "DIR", "trace into DIR (created; refused unless empty)"},
     {"--library", "", "PATH", "the libmvt_xml.so to load (default: the one beside mvt-trace)"}},
    0,
    0,
    true,
    run_record,
};

}  // namespace mvt_trace
