#ifndef MVT_TRACE_OUTPUT_OTF2_OUTPUT_H
#define MVT_TRACE_OUTPUT_OTF2_OUTPUT_H

#include <string>

#include "analysis/run_analysis.h"

namespace mvt_trace {

// The anchor file's name inside the archive directory: DIR/traces.otf2 is
// what OTF2's readers open.
extern const char* const otf2_archive_name;

// Writes the run as an OTF2 archive into `directory`, which exists and is
// empty:
//   - one location group per process, one location per trace file with
//     records, under a system tree of one node;
//   - a region per construct, per node outside a construct, and per name of
//     the executions of no node, with the source place of its code where it
//     is known;
//   - an ENTER and a LEAVE for every piece of every execution, on the
//     piece's location, at nanoseconds from the run's first timestamp
//     (whose date the clock properties give);
//   - on each ENTER the execution's number (`execution`, the executions.id
//     of the SQLite export); on an execution's first piece also its node
//     (`node`), the executions it waited for in the graph of executions
//     (`waits_for`, their numbers) and its step on the critical path
//     (`critical_path_step`); on later pieces which piece it is (`piece`).
// False, with `error` set, when OTF2 fails; what was written is then the
// caller's to remove.
bool write_otf2(const run_analysis& run, const std::string& directory, const std::string& creator,
                std::string& error);

}  // namespace mvt_trace

#endif
