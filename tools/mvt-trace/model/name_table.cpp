#include "model/name_table.h"

#include "common/text_format.h"

namespace mvt_trace {

std::string name_table::handle_name(std::uint64_t address) const {
    auto found = handles_.find(address);
    if (found != handles_.end()) return found->second;
    return address == 0 ? std::string("(no name)") : "(unnamed " + hex_address(address) + ")";
}

std::vector<std::uint64_t> name_table::domains_named(std::string_view name) const {
    std::vector<std::uint64_t> addresses;
    for (const auto& [address, text] : domains_)
        if (text == name) addresses.push_back(address);
    return addresses;
}

std::string id_text(const trace_id& id) {
    std::string text = std::to_string(id.d1);
    if (id.d2 != 0 || id.d3 != 0) text += "." + std::to_string(id.d2);
    if (id.d3 != 0) text += "." + std::to_string(id.d3);
    return text;
}

}  // namespace mvt_trace
