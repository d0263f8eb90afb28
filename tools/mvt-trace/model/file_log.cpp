#include "model/file_log.h"

#include <algorithm>

#include "reading/record_fields.h"

namespace mvt_trace {

namespace {

// The library writes names and texts as they are: one holding markup or a
// line feed can make lines that look like records of their own.
bool looks_like_markup(std::string_view text) {
    return text.find('\n') != std::string_view::npos || text.find('<') != std::string_view::npos;
}

}  // namespace

void file_log::add_event(std::uint64_t timestamp, std::uint32_t id, std::uint32_t parent, std::uint32_t name,
                         std::uint32_t domain, event_kind kind) {
    event e{};
    e.timestamp = timestamp;
    e.id = id;
    e.parent = parent;
    e.name = name;
    // A file that names more than a billion domains is none a runtime
    // wrote; its later domains read as the last one.
    e.domain = std::min<std::uint32_t>(domain, (1u << 30) - 1);
    e.kind_bits = static_cast<std::uint32_t>(kind);
    events.push_back(e);
}

std::uint32_t file_log::text(std::string_view value) {
    const auto begin = static_cast<std::uint32_t>(std::min<std::size_t>(texts.size(), UINT32_MAX));
    texts.append(value.data(), value.size());
    return begin;
}

void file_log::record(const trace_record& r) {
    ++by_kind[static_cast<std::size_t>(r.kind)];
    if (records++ == 0) first_timestamp = last_timestamp = r.timestamp;
    first_timestamp = std::min(first_timestamp, r.timestamp);
    last_timestamp = std::max(last_timestamp, r.timestamp);
    if (r.kind == record_kind::end_of_records) {
        ended = true;
        end_timestamp = r.timestamp;
        return;
    }
    if (program_records++ == 0) first_record = last_record = r.timestamp;
    first_record = std::min(first_record, r.timestamp);
    last_record = std::max(last_record, r.timestamp);
    const std::uint32_t order = records - 1;

    switch (r.kind) {
        case record_kind::task_begin: {
            const task_begin_fields begin(r);
            add_event(r.timestamp, ids.intern(begin.id()), ids.intern(begin.parent()), addresses.intern(begin.name()),
                      addresses.intern(begin.domain()), event_kind::task_begin);
            break;
        }
        case record_kind::task_end: add_event(r.timestamp, 0, 0, 0, 0, event_kind::task_end); break;
        case record_kind::region_begin: {
            const region_begin_fields begin(r);
            add_event(r.timestamp, ids.intern(begin.id()), ids.intern(begin.parent()), addresses.intern(begin.name()),
                      addresses.intern(begin.domain()), event_kind::region_begin);
            break;
        }
        case record_kind::region_end: {
            const region_end_fields end(r);
            add_event(r.timestamp, ids.intern(end.id()), 0, 0, addresses.intern(end.domain()), event_kind::region_end);
            break;
        }
        case record_kind::task_group: {
            const task_group_fields group(r);
            const std::uint32_t kind = addresses.intern(group.name());
            declarations.push_back({r.timestamp, order, ids.intern(group.id()), ids.intern(group.parent()),
                                    addresses.intern(group.domain()), kind});
            ++groups_by_kind[kind];
            break;
        }
        case record_kind::relation: {
            const relation_fields relation(r);
            relations.push_back({r.timestamp, order, ids.intern(relation.head()), ids.intern(relation.tail()),
                                 addresses.intern(relation.domain()), relation.relation()});
            ++relations_by_code[static_cast<std::size_t>(relation.relation()) & 0xFF];
            break;
        }
        case record_kind::metadata: {
            const metadata_fields value(r);
            metadata.push_back({ids.intern(value.id()), addresses.intern(value.key()), value.value(), 0, false});
            break;
        }
        case record_kind::metadata_stringA:
        case record_kind::metadata_stringW: {
            const metadata_string_fields value(r);
            // A length of 0 says "up to the NUL", as the API has it.
            if (value.length() != 0 && value.length() != value.text().size()) ++longer_metadata_texts;
            if (looks_like_markup(value.text())) ++texts_with_markup;
            const std::string_view shown = value.text();
            metadata.push_back({ids.intern(value.id()), addresses.intern(value.key()), text(shown),
                                static_cast<std::uint32_t>(std::min<std::size_t>(shown.size(), UINT32_MAX)), true});
            break;
        }
        case record_kind::domain_createA:
        case record_kind::domain_createW:
        case record_kind::string_handle_createA:
        case record_kind::string_handle_createW: {
            // Both layouts are the same: an address, a length, the name.
            const domain_create_fields created(r);
            if (looks_like_markup(created.name())) ++texts_with_markup;
            const bool is_domain = r.kind == record_kind::domain_createA || r.kind == record_kind::domain_createW;
            names.push_back({is_domain, created.address(), text(created.name()),
                             static_cast<std::uint32_t>(std::min<std::size_t>(created.name().size(), UINT32_MAX))});
            break;
        }
        default: break;
    }
}

}  // namespace mvt_trace
