#include "model/name_table.h"

namespace mvt_trace {

void name_table::record(const trace_record& record) {
    // The first name seen for an address wins: the registry hands out one
    // address per name, so later creation records repeat it.
    if (record.kind == record_kind::string_handle_create_a || record.kind == record_kind::string_handle_create_w)
        handles_.emplace(record.number(0), std::string(record.text(2)));
    else if (record.kind == record_kind::domain_create_a || record.kind == record_kind::domain_create_w)
        domains_.emplace(record.number(0), std::string(record.text(2)));
}

std::string name_table::handle_name(std::uint64_t address) const {
    auto found = handles_.find(address);
    if (found != handles_.end()) return found->second;
    return address == 0 ? std::string("(no name)") : "handle " + std::to_string(address);
}

std::string name_table::domain_name(std::uint64_t address) const {
    auto found = domains_.find(address);
    if (found != domains_.end()) return found->second;
    return address == 0 ? std::string("(no domain)") : "domain " + std::to_string(address);
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
