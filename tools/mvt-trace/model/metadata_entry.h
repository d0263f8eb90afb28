#ifndef MVT_TRACE_MODEL_METADATA_ENTRY_H
#define MVT_TRACE_MODEL_METADATA_ENTRY_H

#include <cstdint>
#include <string>

namespace mvt_trace {

// One metadata value attached to an identifier.
struct metadata_entry {
    std::uint64_t key = 0;  // string-handle address
    bool is_text = false;
    std::uint64_t number = 0;
    std::string text;
};

}  // namespace mvt_trace

#endif
