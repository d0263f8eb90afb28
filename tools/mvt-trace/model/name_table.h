#ifndef MVT_TRACE_NAME_TABLE_H
#define MVT_TRACE_NAME_TABLE_H

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "reading/trace_record.h"

namespace mvt_trace {

// Later records name domains and string handles only by address; the
// creation records, in any file of the run, pair each address with its name.
class name_table {
public:
    // The first name given an address wins: a registry hands out one
    // address per name, so later creation records repeat it.
    void add_handle(std::uint64_t address, std::string_view name) { handles_.emplace(address, std::string(name)); }
    void add_domain(std::uint64_t address, std::string_view name) { domains_.emplace(address, std::string(name)); }

    // The handle's name, or "(unnamed 0x...)" when no record named it.
    std::string handle_name(std::uint64_t address) const;
    bool has_handle(std::uint64_t address) const { return handles_.count(address) != 0; }
    // Every address that names a domain of this name.
    std::vector<std::uint64_t> domains_named(std::string_view name) const;

private:
    std::unordered_map<std::uint64_t, std::string> handles_;
    std::unordered_map<std::uint64_t, std::string> domains_;
};

// An identifier as people read it: "19", "5.1" (value and tag) or "1.2.3".
std::string id_text(const trace_id& id);

}  // namespace mvt_trace

#endif
