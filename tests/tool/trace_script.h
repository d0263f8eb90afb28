#ifndef MVT_TOOL_TRACE_SCRIPT_H
#define MVT_TOOL_TRACE_SCRIPT_H

#include <string>
#include <vector>

#include "reading/run_layout.h"

namespace mvt_tool_test {

// Writes the trace directories that a script describes, one record a line,
// so that golden traces read as the calls that made them:
//
//   # a comment                 (only at the start of a line)
//   process                     the records below go to the next directory
//   thread 1                    ... to _mvt.1 of the current directory
//   cut                         this file ends without end_of_records
//   20ms task_begin flow 10 0 A
//
// A record line is a time (ns, or with "us" or "ms"), a record name and its
// fields after the timestamp, as the collector writes them. Identifiers are
// "d1.d2.d3" (missing words are 0); the first field of every non-creation
// record is a domain, by name; other address fields are string handles, by
// name; relation kinds may be named ("child_of"); a text field takes the
// rest of the line; missing trailing fields are 0. Every name gets an
// address of its own in each directory (different ones in different
// directories) and a creation record at the top of the directory's first
// file. Files end with end_of_records at their last time.
//
// Returns the directories (dir/p0, dir/p1, ...); throws on a bad line.
std::vector<std::string> write_trace_script(const std::string& script, const std::string& dir);

// The same, the directories named relative to `dir`: p0, p1, ...
std::vector<std::string> write_trace_script_here(const std::string& script, const std::string& dir);

// The layout of the run that `script` writes into `dir`, read as the tool reads it.
mvt_trace::run_layout scripted_layout(const std::string& script, const std::string& dir);

}  // namespace mvt_tool_test

#endif
