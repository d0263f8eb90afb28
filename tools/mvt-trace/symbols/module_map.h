#ifndef MVT_TRACE_SYMBOLS_MODULE_MAP_H
#define MVT_TRACE_SYMBOLS_MODULE_MAP_H

#include <cstdint>
#include <string>
#include <vector>

namespace mvt_trace {

// One executable mapping of a module in the traced process.
struct module_mapping {
    std::uint64_t start = 0, end = 0;  // [start, end) in the process
    std::uint64_t file_offset = 0;     // where `start` lies in the file
    std::uint64_t inode = 0;
    std::string path;
};

// Where the modules of one process lay: the mappings of every snapshot
// record's helper took (at start, before an exec or unload, at exit).
class module_map {
public:
    // A mapping that overlaps one already known is dropped: a range reused
    // after an unload cannot be told apart by address alone, and the
    // earlier snapshot is the one the process started with.
    void add(const module_mapping& mapping);
    // The mapping that holds `address`, or null.
    const module_mapping* find(std::uint64_t address) const;
    const std::vector<module_mapping>& mappings() const { return mappings_; }
    bool empty() const { return mappings_.empty(); }

private:
    std::vector<module_mapping> mappings_;  // by start, disjoint
};

// Reads an mvt-modules.txt; false, with `error` set, when it cannot be
// read or is of a version this program does not know. Lines it cannot
// parse are passed over.
bool read_module_map(const std::string& path, module_map& map, std::string& error);

}  // namespace mvt_trace

#endif
