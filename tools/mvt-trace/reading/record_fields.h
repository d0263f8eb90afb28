#ifndef MVT_TRACE_RECORD_FIELDS_H
#define MVT_TRACE_RECORD_FIELDS_H

// Named views of a record's fields. Each view is for one record kind, and
// every accessor's position is checked at compile time against the kind's
// row in the catalogue the library writes with: a field read as the wrong
// kind, or at a position the catalogue moved, does not compile.
//
//   if (record.kind == record_kind::task_begin) {
//       const task_begin_fields begin(record);
//       open(begin.id(), begin.parent(), begin.name());
//   }

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "reading/trace_record.h"

namespace mvt_trace {

template <record_kind Kind>
class record_fields {
public:
    explicit record_fields(const trace_record& record) : record_(record) {}

protected:
    template <std::size_t I>
    static constexpr field_code code() {
        static_assert(I < max_fields, "a record has at most six fields");
        return catalogue[static_cast<std::size_t>(Kind)].codes[I];
    }
    template <std::size_t I>
    std::uint64_t number_at() const {
        static_assert(code<I>() == field_code::unsigned_64, "the catalogue has no unsigned field there");
        return record_.fields[I].number;
    }
    template <std::size_t I>
    int int_at() const {
        static_assert(code<I>() == field_code::small_int, "the catalogue has no 8-bit field there");
        return static_cast<int>(record_.fields[I].number);
    }
    template <std::size_t I>
    const trace_id& id_at() const {
        static_assert(code<I>() == field_code::identifier, "the catalogue has no identifier there");
        return record_.fields[I].id;
    }
    template <std::size_t I>
    std::string_view text_at() const {
        static_assert(code<I>() == field_code::text || code<I>() == field_code::wide_text,
                      "the catalogue has no text field there");
        return record_.fields[I].text;
    }

    const trace_record& record_;
};

// domain_createA, domain_createW, string_handle_createA/W: a name for an address.
template <record_kind Kind>
struct name_fields : record_fields<Kind> {
    using record_fields<Kind>::record_fields;
    std::uint64_t address() const { return this->template number_at<0>(); }
    int length() const { return this->template int_at<1>(); }
    std::string_view name() const { return this->template text_at<2>(); }
};
using domain_create_fields = name_fields<record_kind::domain_createA>;
using string_handle_create_fields = name_fields<record_kind::string_handle_createA>;

// task_begin, task_group and region_begin share their first four fields.
template <record_kind Kind>
struct opening_fields : record_fields<Kind> {
    using record_fields<Kind>::record_fields;
    std::uint64_t domain() const { return this->template number_at<0>(); }
    const trace_id& id() const { return this->template id_at<1>(); }
    const trace_id& parent() const { return this->template id_at<2>(); }
    std::uint64_t name() const { return this->template number_at<3>(); }
};
using task_begin_fields = opening_fields<record_kind::task_begin>;
using task_group_fields = opening_fields<record_kind::task_group>;
using region_begin_fields = opening_fields<record_kind::region_begin>;

struct task_end_fields : record_fields<record_kind::task_end> {
    using record_fields::record_fields;
    std::uint64_t domain() const { return number_at<0>(); }
};

// region_end, id_create, id_destroy: a domain and an identifier.
template <record_kind Kind>
struct identifier_fields : record_fields<Kind> {
    using record_fields<Kind>::record_fields;
    std::uint64_t domain() const { return this->template number_at<0>(); }
    const trace_id& id() const { return this->template id_at<1>(); }
};
using region_end_fields = identifier_fields<record_kind::region_end>;

struct relation_fields : record_fields<record_kind::relation> {
    using record_fields::record_fields;
    std::uint64_t domain() const { return number_at<0>(); }
    const trace_id& head() const { return id_at<1>(); }
    int relation() const { return int_at<2>(); }
    const trace_id& tail() const { return id_at<3>(); }
};

struct metadata_fields : record_fields<record_kind::metadata> {
    using record_fields::record_fields;
    std::uint64_t domain() const { return number_at<0>(); }
    const trace_id& id() const { return id_at<1>(); }
    std::uint64_t key() const { return number_at<2>(); }
    int type() const { return int_at<3>(); }
    std::uint64_t count() const { return number_at<4>(); }
    // The one field the catalogue's codes do not list: it follows the count.
    std::uint64_t value() const {
        static_assert(code<5>() == field_code::none, "the value comes after the listed fields");
        return record_.fields[5].number;
    }
};

template <record_kind Kind>
struct metadata_text_fields : record_fields<Kind> {
    using record_fields<Kind>::record_fields;
    std::uint64_t domain() const { return this->template number_at<0>(); }
    const trace_id& id() const { return this->template id_at<1>(); }
    std::uint64_t key() const { return this->template number_at<2>(); }
    std::uint64_t length() const { return this->template number_at<3>(); }
    std::string_view text() const { return this->template text_at<4>(); }
};
using metadata_string_fields = metadata_text_fields<record_kind::metadata_stringA>;
using metadata_wide_string_fields = metadata_text_fields<record_kind::metadata_stringW>;

}  // namespace mvt_trace

#endif
