// symbols_bench DIR MODULE_MAP [SITES]: how long naming the code addresses
// of a trace takes beside reading it. Reads every _mvt.N file of DIR once,
// gathering the distinct values of its code_address metadata (what analyze
// would gather in its own pass), then resolves them against MODULE_MAP with
// the resolver analyze uses. Prints one line: bytes, read time, distinct
// addresses, resolve time, how many got a source line.
//
// A generated trace has addresses in no module, and only a few: SITES > 0
// resolves that many places spread over the first mapping of MODULE_MAP
// (the program's own code) instead, as if the program had that many task
// and region sites.
#include <dirent.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unordered_set>
#include <vector>

#include "symbols/module_map.h"
#include "symbols/symbol_resolver.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string field_text(const std::string& line) {
    return line.size() > 15 ? line.substr(7, line.size() - 15) : "";
}

// The code_address values of one file. Records have a fixed shape: a
// string handle's address is the 2nd line after its name, its text the
// 4th; a metadata record's key is the 8th line after its name, its value
// the 11th.
void gather(const std::string& path, std::unordered_set<std::uint64_t>& addresses, std::uint64_t& bytes) {
    std::ifstream in(path);
    std::string line, key;
    std::vector<std::string> ahead;
    while (std::getline(in, line)) {
        bytes += line.size() + 1;
        const bool handle = line == "<field>string_handle_createA</field>";
        if (!handle && line != "<field>metadata</field>") continue;
        ahead.clear();
        for (int i = 0; i < (handle ? 4 : 11) && std::getline(in, line); ++i) {
            bytes += line.size() + 1;
            ahead.push_back(line);
        }
        if (handle && ahead.size() == 4 && field_text(ahead[3]) == "code_address") key = field_text(ahead[1]);
        else if (!handle && ahead.size() == 11 && !key.empty() && field_text(ahead[7]) == key)
            addresses.insert(std::strtoull(field_text(ahead[10]).c_str(), nullptr, 10));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: symbols_bench DIR MODULE_MAP [SITES]\n");
        return 2;
    }
    const std::string dir = argv[1];
    const unsigned long long sites = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 0;
    mvt_trace::module_map map;
    std::string error;
    if (!mvt_trace::read_module_map(argv[2], map, error) || map.empty()) {
        std::fprintf(stderr, "%s\n", error.empty() ? "empty module map" : error.c_str());
        return 2;
    }

    const auto read_start = std::chrono::steady_clock::now();
    std::unordered_set<std::uint64_t> distinct;
    std::uint64_t bytes = 0;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return 2;
    while (const dirent* entry = readdir(d))
        if (std::string(entry->d_name).rfind("_mvt.", 0) == 0) gather(dir + "/" + entry->d_name, distinct, bytes);
    closedir(d);
    const double read = seconds_since(read_start);

    std::vector<std::uint64_t> addresses(distinct.begin(), distinct.end());
    if (sites > 0) {
        const mvt_trace::module_mapping& code = map.mappings().front();
        const std::uint64_t stride = std::max<std::uint64_t>(1, (code.end - code.start) / sites);
        addresses.clear();
        for (std::uint64_t site = 0; site < sites; ++site) addresses.push_back(code.start + 1 + site * stride);
    }
    const auto resolve_start = std::chrono::steady_clock::now();
    mvt_trace::symbol_resolver resolver(map);
    const std::vector<mvt_trace::source_place> places = resolver.resolve(addresses);
    const double resolve = seconds_since(resolve_start);
    std::size_t with_line = 0;
    for (const mvt_trace::source_place& p : places) with_line += p.resolved && p.frame.line != 0;
    std::printf("%.0f MB read in %.2f s; %zu distinct addresses resolved in %.3f s (%zu with a line)\n", bytes / 1e6,
                read, addresses.size(), resolve, with_line);
    return 0;
}
