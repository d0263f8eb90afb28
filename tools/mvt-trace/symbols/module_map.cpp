#include "symbols/module_map.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "common/regular_file.h"

namespace mvt_trace {

namespace {

bool hex(const std::string& text, std::uint64_t& value) {
    if (text.empty() || text.size() > 16) return false;
    value = 0;
    for (char c : text) {
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0) return false;
        value = value * 16 + static_cast<std::uint64_t>(digit);
    }
    return true;
}

// A line of /proc/PID/maps: "start-end perms offset dev inode path".
bool parse_mapping(const std::string& line, module_mapping& mapping) {
    std::istringstream in(line);
    std::string range, perms, offset, device;
    if (!(in >> range >> perms >> offset >> device >> mapping.inode)) return false;
    const std::size_t dash = range.find('-');
    if (dash == std::string::npos || !hex(range.substr(0, dash), mapping.start) ||
        !hex(range.substr(dash + 1), mapping.end) || mapping.end <= mapping.start || !hex(offset, mapping.file_offset))
        return false;
    const std::size_t slash = line.find('/');
    if (slash == std::string::npos) return false;
    mapping.path = line.substr(slash);
    // The kernel marks a file removed since it was mapped; the name is
    // still the best guess at where its symbols are.
    const std::string deleted = " (deleted)";
    if (mapping.path.size() > deleted.size() &&
        mapping.path.compare(mapping.path.size() - deleted.size(), deleted.size(), deleted) == 0)
        mapping.path.resize(mapping.path.size() - deleted.size());
    return true;
}

}  // namespace

void module_map::add(const module_mapping& mapping) {
    auto after = std::upper_bound(mappings_.begin(), mappings_.end(), mapping.start,
                                  [](std::uint64_t start, const module_mapping& m) { return start < m.start; });
    if (after != mappings_.end() && after->start < mapping.end) return;
    if (after != mappings_.begin() && std::prev(after)->end > mapping.start) return;
    mappings_.insert(after, mapping);
}

const module_mapping* module_map::find(std::uint64_t address) const {
    auto after = std::upper_bound(mappings_.begin(), mappings_.end(), address,
                                  [](std::uint64_t a, const module_mapping& m) { return a < m.start; });
    if (after == mappings_.begin()) return nullptr;
    const module_mapping& candidate = *std::prev(after);
    return address < candidate.end ? &candidate : nullptr;
}

bool read_module_map(const std::string& path, module_map& map, std::string& error) {
    std::istringstream in;
    if (!read_format_file(path, "a module map", std::size_t{64} << 20, "mvt-modules 1", in, error)) return false;
    std::string line;
    map = module_map{};
    while (std::getline(in, line)) {
        module_mapping mapping;
        if (line.rfind("snapshot ", 0) != 0 && parse_mapping(line, mapping)) map.add(mapping);
    }
    return true;
}

}  // namespace mvt_trace
