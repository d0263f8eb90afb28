#ifndef MVT_TRACE_FINDINGS_H
#define MVT_TRACE_FINDINGS_H

#include <cstdint>
#include <string>
#include <vector>

namespace mvt_trace {

inline constexpr std::uint32_t no_index = UINT32_MAX;

// What reading a run finds worth telling, as typed values: a kind, where
// (a process, a file), how many, and a detail. A problem is something wrong
// in the trace; a note is something a user should know that is not wrong:
// what a runtime normally does is never a problem.
//
// One row per kind: name, severity, and how a line about it reads. The line
// is made from the pieces of the finding: {count} the count with its noun
// ("3 task executions"), {file} the file, {detail} the detail.
#define MVT_FINDINGS(X)                                                                                        \
    X(file_not_whole, problem, "{detail}")                                                                     \
    X(not_one_run, problem, "not one run: {detail}")                                                           \
    X(open_node_execution, problem, "{file}: {count} of graph nodes still open at the end of the file")         \
    X(role_conflict, problem, "{detail}")                                                                      \
    X(edges_incomplete, problem, "{detail}")                                                                   \
    X(open_runtime_execution, note, "{file}: {count} of the runtime's own still open at the end of the file")   \
    X(open_execution, note, "{file}: {count} of no node still open at the end of the file")                   \
    X(ended_by_exec, note, "{file}: ends without its end records: its process image was replaced by exec, "         \
                           "which runs no exit handler")                                                        \
    X(unmatched_task_end, note, "{file}: {count} with no task execution open")                                  \
    X(open_region, note, "{file}: {count} still open at the end of the file")                                   \
    X(unmatched_region_end, note, "{file}: {count} with no such region open")                                   \
    X(unnamed_handles, note, "{detail}")                                                                       \
    X(restarted_tasks, note, "{detail}")                                                                       \
    X(no_graph, note, "{detail}")                                                                              \
    X(format_limit, note, "{detail}")

enum class finding_kind {
#define MVT_FINDING_KIND(name, severity, text) name,
    MVT_FINDINGS(MVT_FINDING_KIND)
#undef MVT_FINDING_KIND
};

enum class severity { problem, note };

struct finding {
    finding_kind kind = finding_kind::file_not_whole;
    std::uint32_t process = no_index;  // no_index: the run's; always set for a file's
    std::uint32_t thread = no_index;   // the file it is about, by position in the run
    std::uint64_t count = 0;
    // For kinds whose line counts: the noun, one and many ("task execution",
    // "task executions"); for the others, the whole detail.
    std::string one, many;
    std::string detail;
};

class trace_model;

severity severity_of(finding_kind kind);
const char* finding_name(finding_kind kind);
// The finding as one line of text.
std::string finding_text(const finding& f, const trace_model& model);

}  // namespace mvt_trace

#endif
