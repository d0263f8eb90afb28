#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>

#include "analysis/run_analysis.h"
#include "capture/library_location.h"
#include "capture/preload/process_directory.h"
#include "capture/program_run.h"
#include "capture/trace_destination.h"
#include "commands/commands.h"
#include "commands/common.h"
#include "common/text_format.h"
#include "output/check_report.h"
#include "reading/recorded_run.h"
#include "reading/run_layout.h"

namespace mvt_trace {

namespace {

void say(const std::string& line) { std::cerr << "mvt-trace: " << line << "\n"; }

// The environment that makes the program's runtimes load the library: the
// trace directory, the OpenMP tool (ahead of any the user named), and the
// collector that instrumented runtimes' loaders look for. The helper, ahead
// of any preload the user named, hands every further process image a
// directory of its own; the first one is handed over here, claimed the way
// the helper claims the others, for the child of this process.
std::vector<std::string> tracing_environment(const std::string& run, const std::string& first,
                                             const std::string& library, const std::string& helper) {
    std::string tools = library;
    if (const char* named = std::getenv("OMP_TOOL_LIBRARIES"); named != nullptr && *named != '\0')
        tools += std::string(":") + named;
    std::string preload = helper;
    if (const char* named = std::getenv("LD_PRELOAD"); named != nullptr && *named != '\0')
        preload += std::string(":") + named;
    return {std::string(MVT_TRACE_DIRECTORY_VARIABLE) + "=" + run + "/" + first,
            "OMP_TOOL_LIBRARIES=" + tools,
            "INTEL_LIBITTNOTIFY64=" + library,
            "LD_PRELOAD=" + preload,
            std::string(MVT_RECORD_RUN_VARIABLE) + "=" + run,
            std::string(MVT_RECORD_NEXT_VARIABLE) + "=child:" + std::to_string(::getpid()) + ":" + first,
            std::string(MVT_RECORD_SELF_VARIABLE) + "="};
}

// Per process of the model: its records, its threads, and how whole it is
// in a word or a few: "whole", "whole up to its exec", "NOT whole: 2 files
// cut short". An image replaced by exec never runs the library's exit
// handlers, so its files stop without their end; that alone is no loss.
struct process_state {
    trace_model::activity active;
    bool sound = true;
    std::string verdict = "whole";
};

std::vector<process_state> states_of(const trace_model& model) {
    std::vector<process_state> states(model.processes().size());
    std::vector<std::size_t> cut_short(states.size(), 0);
    std::vector<char> by_exec(states.size(), 0);
    for (std::uint32_t p = 0; p < states.size(); ++p) states[p].active = model.activity_of(p);
    for (const finding& f : model.findings()) {
        const std::uint32_t p = f.process;
        if (p >= states.size()) continue;
        if (f.kind == finding_kind::ended_by_exec) by_exec[p] = 1;
        if (severity_of(f.kind) != severity::problem) continue;
        states[p].sound = false;
        if (f.kind == finding_kind::file_not_whole) ++cut_short[p];
    }
    for (std::size_t p = 0; p < states.size(); ++p) {
        if (states[p].sound) {
            if (by_exec[p]) states[p].verdict = "whole up to its exec";
            continue;
        }
        states[p].verdict = "NOT whole";
        if (cut_short[p] > 0) states[p].verdict += ": " + counted(cut_short[p], "file", "files") + " cut short";
    }
    return states;
}

std::string records_and_threads(const process_state& state) {
    return counted(state.active.records, "record", "records") + " from " +
           counted(state.active.threads, "thread", "threads");
}

// A few lines after the run: where the trace is, how many processes left
// one and whether each is whole, and what to do next.
void report_recording(const std::string& directory, const program_outcome& outcome) {
    if (!outcome.started || !outcome.exited || outcome.exit_status != 0)
        say("the program " + outcome.description());
    if (!outcome.started) return;
    // The library writes its files when it is loaded, and records when a
    // thread calls it; no files, or files without records, tell which
    // step never happened.
    run_layout layout;
    std::string error;
    const bool loaded = read_run_layout({directory}, layout, error);
    const trace_model model = loaded ? read_model(layout) : trace_model{};
    const std::vector<process_state> states = states_of(model);
    bool nothing = true, sound = true;
    for (const process_state& state : states) {
        nothing = nothing && state.active.records == 0;
        sound = sound && state.sound;
    }
    if (!loaded || nothing) {
        say("nothing was recorded in " + directory + "/: the program " +
            (loaded ? "loaded the library, but no thread called it" : "never loaded the library"));
        say("(the library traces OpenMP on LLVM's libomp - GCC's libgomp has no tool interface - and");
        say("runtimes instrumented with the __itt_* API)");
        return;
    }
    if (layout.processes.size() == 1) {
        say("trace in " + directory + "/: " + records_and_threads(states[0]) + ", " + states[0].verdict);
    } else {
        say("trace in " + directory + "/: " + std::to_string(layout.processes.size()) + " processes traced, " +
            (sound ? "all whole" : "NOT all whole"));
        for (std::size_t p = 0; p < layout.processes.size(); ++p)
            say("  " + layout.processes[p].label + ": " + records_and_threads(states[p]) + ", " + states[p].verdict);
    }
    if (!layout.untraced.empty()) {
        std::string names;
        for (std::size_t p = 0; p < layout.untraced.size() && p < 3; ++p)
            names += (p == 0 ? "" : ", ") + layout.untraced[p].label;
        if (layout.untraced.size() > 3) names += ", ...";
        say(counted(layout.untraced.size(), "more process", "more processes") + " ran without loading the library (" +
            names + ")");
    }
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
    std::string library, helper, directory, error;
    if (!locate_library(call.value("--library"), library, error) || !locate_helper(helper, error) ||
        !prepare_trace_directory(call.value("--output"), directory, error)) {
        print_error("record: " + error);
        return 2;
    }
    // An absolute run directory keeps the trace in place even if the
    // program changes its working directory before the library loads.
    std::string absolute = directory;
    if (absolute.front() != '/') {
        char* here = ::getcwd(nullptr, 0);
        if (here != nullptr) absolute = std::string(here) + "/" + directory;
        ::free(here);
    }
    char label[64], first[256];
    mvt_program_label(call.program.at(0).c_str(), label, sizeof label);
    if (const int failed = mvt_claim_process_directory(absolute.c_str(), label, first, sizeof first); failed != 0) {
        print_error("record: cannot create a process directory in " + directory + ": " + std::strerror(failed));
        return 2;
    }
    const program_outcome outcome =
        run_program(call.program, tracing_environment(absolute, first, library, helper));
    if (!outcome.started) {
        // Nothing ran: the run directory is left as empty as it was given.
        ::rmdir((absolute + "/" + first).c_str());
        std::remove((absolute + "/" + MVT_SEQUENCE_FILE).c_str());
    }
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
    "Every process the program starts, and every exec, gets a directory of its own in the\n"
    "run directory (001-PROGRAM, 002-..., in start order), so that none overwrites another's\n"
    "trace; beside its trace files it holds mvt-process.txt (pid, parent, command line, how\n"
    "it began and ended) and mvt-modules.txt (where its modules were loaded, which names\n"
    "code addresses). A preload helper of mvt-trace's own, libmvt_record_helper.so, does this;\n"
    "the README says which ways of starting a process it covers.\n"
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
