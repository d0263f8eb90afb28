#ifndef MVT_TRACE_SYMBOLS_SYMBOL_RESOLVER_H
#define MVT_TRACE_SYMBOLS_SYMBOL_RESOLVER_H

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

#include "reading/run_layout.h"
#include "symbols/module_map.h"

namespace mvt_trace {

struct source_frame {
    std::string function;
    std::string file;   // as the debug information names it: usually a full path
    unsigned line = 0;  // 0: no line information
};

// What one code address is.
struct source_place {
    std::uint64_t address = 0;
    bool resolved = false;  // false: only the hex address is known
    source_frame frame;     // innermost
    // The function the innermost frame was inlined into, at the call.
    std::optional<source_frame> inlined_into;
    std::string module;               // the file the address lies in; empty when none
    std::uint64_t module_offset = 0;  // the address as the module's ELF file numbers it
    std::uint64_t function_offset = 0;  // from the function's first byte

    // "sweep (jacobi.c:57)", "sweep+0x1c", "0x55d4a1b2c3d4".
    std::string label() const;
};

// {"address", "label", "resolved", and when known "function", "file",
// "line", "inlined_into": {...}, "module", "module_offset"}; addresses and
// offsets as "0x..." text, file names whole.
nlohmann::json place_json(const source_place& place);

// Turns the code addresses of one process into source places, through
// LLVM's llvm-symbolizer run as a separate process. Every address the
// library records is a return address (OpenMP's codeptr_ra), which points
// just past the call; the byte before it is what lies on the line of the
// #pragma, so that is what is looked up.
class symbol_resolver {
public:
    // `symbolizer` names the llvm-symbolizer to run; empty: the one named
    // by LLVM_SYMBOLIZER_PATH, else llvm-symbolizer or llvm-symbolizer-14
    // in PATH, else LLVM 14's own directory.
    explicit symbol_resolver(module_map map, std::string symbolizer = "");
    // For a process of a run: its module map, or hex addresses and a hint
    // when it has none.
    static symbol_resolver for_process(const traced_process& process, std::string symbolizer = "");

    // The places of `addresses`, in their order. Addresses not seen before
    // go to one llvm-symbolizer run together; each module's answers are
    // kept, so an address is looked up once.
    std::vector<source_place> resolve(const std::vector<std::uint64_t>& addresses);

    // One line for the user when names could not be had for every address
    // (no module map, no llvm-symbolizer, no debug information); empty
    // otherwise.
    std::string hint() const;

private:
    struct load_segment {
        std::uint64_t file_offset, file_size, address;
    };
    bool module_address(const module_mapping& mapping, std::uint64_t address, std::uint64_t& offset);
    void symbolize(std::vector<source_place*>& places);

    module_map map_;
    std::string symbolizer_;
    std::string no_map_reason_;
    bool symbolizer_missing_ = false;
    bool without_lines_ = false;
    // By module path, then by module offset.
    std::map<std::string, std::unordered_map<std::uint64_t, source_place>> cache_;
    std::map<std::string, std::vector<load_segment>> segments_;
};

}  // namespace mvt_trace

#endif
