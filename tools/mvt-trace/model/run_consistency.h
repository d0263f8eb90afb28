#ifndef MVT_TRACE_RUN_CONSISTENCY_H
#define MVT_TRACE_RUN_CONSISTENCY_H

#include <cstdint>
#include <string>
#include <vector>

namespace mvt_trace {

class trace_model;

// Why the files of a process cannot all come from one run of it, one
// sentence per reason, each naming the files concerned: files left by an
// earlier run in a reused directory, gaps in the file numbers, headers that
// differ. Empty for a directory of one run, and for a process given as a
// single file (it has no siblings to compare with).
std::vector<std::string> find_mixed_runs(const trace_model& model, std::uint32_t process);

// "_mvt.3", "_mvt.3 and _mvt.5", "_mvt.8 to _mvt.11 and _mvt.14": runs of
// three or more consecutive numbers as ranges; the numbers need not be sorted.
std::string file_list(std::vector<unsigned long> indexes);

}  // namespace mvt_trace

#endif
