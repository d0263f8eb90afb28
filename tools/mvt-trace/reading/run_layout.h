#ifndef MVT_TRACE_READING_RUN_LAYOUT_H
#define MVT_TRACE_READING_RUN_LAYOUT_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "reading/trace_directory.h"

namespace mvt_trace {

// What record's preload helper wrote about one process image
// (mvt-process.txt beside its trace files).
struct process_facts {
    long pid = 0;
    long parent = 0;
    // How this image came to be: "exec-of" (the same pid before an exec),
    // "child-of", "descendant-of" or "reload-of" (the library loaded again
    // in the same image); `related` names that image's directory. Both
    // empty for the run's first image.
    std::string relation, related;
    std::uint64_t started = 0;  // nanoseconds, the clock of the traces
    // "exit", "exec" or "unload", with its time; empty when the image
    // never got to say (killed, or _exit).
    std::string ending;
    std::uint64_t ended = 0;
    std::string next;  // the directory of the image an exec or unload led to
    std::string executable;
    std::vector<std::string> arguments;
};

// Reads mvt-process.txt; false, with `error` set, when it cannot be read or
// is not of a version this program knows.
bool read_process_facts(const std::string& path, process_facts& facts, std::string& error);

// One traced process of a run.
struct traced_process {
    std::string directory;
    // "omp_example (pid 4242)" when the facts are known, else the directory.
    std::string label;
    std::vector<trace_file> files;  // file.process is this process's position
    std::string module_map;         // mvt-modules.txt, or empty when there is none
    std::optional<process_facts> facts;
};

// The processes of one run, from the paths given on the command line.
struct run_layout {
    std::vector<traced_process> processes;
    // Images of a record run that wrote no trace (a shell, a program that
    // never loaded the library), in start order.
    std::vector<traced_process> untraced;
    // Entries named like trace files that are none (see ignored_entry).
    std::vector<ignored_entry> ignored;

    // Every process's files, in process order.
    std::vector<trace_file> files() const;
    std::vector<std::string> directories() const;
};

// A path that holds _mvt.N files is one process; one that holds none but
// has the process directories of a record run is one process per
// directory, in the order they started; a path that names a file is that
// one file. Several paths are several processes, in the order given. False,
// with `error` set, when a path cannot be read or no process has a trace.
bool read_run_layout(const std::vector<std::string>& paths, run_layout& layout, std::string& error);

}  // namespace mvt_trace

#endif
