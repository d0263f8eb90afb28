// The instrumentation API front end: the exported __itt_* functions, the
// domain and string-handle registries, and the static initializer that sets
// up trace output when the library is loaded.

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include <mvt_xml/itt.h>
#include <mvt_xml/writer.h>

#include "adopt.h"
#include "name_registry.h"
#include "writer/keep_alive.h"
#include "writer/mvt_collector.h"
#include "writer/run_end.h"
#include "writer/trace_writer.h"

// The collector is built when the library is loaded and is never destroyed:
// threads, late exit handlers and an OpenMP runtime's own shutdown may call in
// after the run has ended, and its lock keeps guarding the registries for the
// life of the process. The registries are built right after it and are never
// destroyed either (see name_registry.h).
namespace writer {
namespace {
alignas(mvt_collector) unsigned char collector_storage[sizeof(mvt_collector)];
}  // namespace

mvt_collector& mtc = *new (collector_storage) mvt_collector;

mvt_collector* get_mtc() { return &mtc; }

namespace {

// Registered right after the collector is built, so that it runs after the
// exit handlers registered later, by the program or by other libraries.
// Usually it ends the run; run_end.h says when the end comes later.
const bool exit_handler_registered = std::atexit([] { end_run_at_exit(mtc); }) == 0;

// The library's ELF destructor runs at exit after every exit handler, or at
// dlclose (there before the exit handler above; either order ends the run
// once). By then the run must have ended, whoever was to end it.
__attribute__((destructor)) void end_run_at_library_fini() { end_run_at_unload(mtc); }

}  // namespace
}  // namespace writer

namespace internal {

// Set by the build, which shows the same banner in mvt-trace --version.
const char* const api_version = MVT_API_BANNER;

name_registry<__itt_domain> domain_map;
name_registry<__itt_string_handle> string_handle_map;

namespace {

using writer::record_scope;

// Handed out when no record can be allocated, so that callers, which read a
// domain's flags before every call, always get a usable object.
__itt_domain fallback_domain = {1, "", nullptr, 0, nullptr, nullptr};
__itt_string_handle fallback_string_handle = {"", nullptr, 0, nullptr, nullptr};

__itt_domain* fallback(__itt_domain*) { return &fallback_domain; }
__itt_string_handle* fallback(__itt_string_handle*) { return &fallback_string_handle; }

void fill(__itt_domain* d, const char* name) { *d = {1, name, nullptr, 0, nullptr, nullptr}; }
void fill(__itt_string_handle* h, const char* name) { *h = {name, nullptr, 0, nullptr, nullptr}; }

template <typename Record>
Record* make_record(const char* name) {
    auto* record = static_cast<Record*>(std::malloc(sizeof(Record)));
    char* copy = strdup(name);
    if (!record || !copy) {
        std::free(record);
        std::free(copy);
        return fallback(static_cast<Record*>(nullptr));
    }
    fill(record, copy);
    writer::keep_for_process_lifetime(record);
    writer::keep_for_process_lifetime(copy);
    return record;
}

// The collector's lock guards the registries on every path: it is never
// destroyed, and fork() hands it to the child unlocked, so a name keeps its
// one record after the run has ended and in a forked child alike.
template <typename Record, typename Make>
Record* registered_record(name_registry<Record>& registry, const char* name, Make make) {
    try {
        std::lock_guard<std::mutex> hold(writer::mtc.lock);
        return registry.find_or_add(name, make);
    } catch (...) {
        return fallback(static_cast<Record*>(nullptr));
    }
}

// Pairs an address with its name in the calling thread's trace. Written after
// the registry's lock is released: obtaining a writer takes that lock again.
template <typename Record>
void write_creation(const Record* record, const char* name, __itt_record_t record_type) {
    int length = static_cast<int>(strnlen(name, 1000) & 0xff);
    record_scope r(writer::mtc, record_type);
    if (r) {
        r->write<unsigned long long>(reinterpret_cast<unsigned long long>(record));
        r->write<int>(length);
        r->write_strA(name, static_cast<unsigned long>(length));
    }
}

template <typename Record>
Record* create_named(name_registry<Record>& registry, const char* name, __itt_record_t record_type) {
    // A null name is taken as the empty name: the caller gets the record of
    // "" rather than a record whose name pointer it would trip over.
    if (!name) name = "";
    Record* record = registered_record(registry, name, make_record<Record>);
    write_creation(record, name, record_type);
    return record;
}

// A name the library has already handed out keeps its own object: callers
// may hold it, and a creation call must go on returning the one object its
// name was first given. The static part's object is announced all the same,
// since the static part goes on passing it; the trace then pairs that name
// with two addresses, each of which it can name.
template <typename Record>
void adopt_named(name_registry<Record>& registry, Record* own, const char* name, __itt_record_t record_type) {
    registered_record(registry, name, [own](const char*) { return own; });
    write_creation(own, name, record_type);
}

unsigned long long address(const void* p) { return reinterpret_cast<unsigned long long>(p); }

void write_id(const record_scope& r, const __itt_id& id) { r->write_id(id.d1, id.d2, id.d3); }

// The integer a caller passed as an enumeration. Callers may pass any int;
// reading its bytes, rather than loading it as the enumeration, keeps values
// outside the enumerators' range well defined.
template <typename Enumeration>
unsigned code_of(const Enumeration& value) {
    static_assert(sizeof(Enumeration) == sizeof(unsigned), "passed as an int");
    unsigned code;
    std::memcpy(&code, &value, sizeof code);
    return code;
}

// An 8-bit code field: only the low byte is kept, widened without sign.
int low_byte(unsigned value) { return static_cast<int>(value & 0xffu); }

// Element sizes of the metadata types; only u64 and u32 values are recorded.
size_t metadata_size(unsigned type) {
    return type == __itt_metadata_u64 ? 8 : type == __itt_metadata_u32 ? 4 : 0;
}

void write_metadata_string(const __itt_domain* domain, __itt_id id, __itt_string_handle* key, const char* data,
                           size_t length) {
    record_scope r(writer::mtc, __itt_record_metadata_stringA);
    if (!r) return;
    r->write<unsigned long long>(address(domain));
    write_id(r, id);
    r->write<unsigned long long>(address(key));
    r->write<unsigned long long>(length);
    // The text runs to its NUL whatever `length` says, so a text that is not
    // NUL-terminated is the caller's error; a null text is written empty.
    r->write_strA(data, length);
}

void write_group_like(__itt_record_t type, const __itt_domain* domain, __itt_id id, __itt_id parent,
                      __itt_string_handle* name) {
    record_scope r(writer::mtc, type);
    if (!r) return;
    r->write<unsigned long long>(address(domain));
    write_id(r, id);
    write_id(r, parent);
    r->write<unsigned long long>(address(name));
}

void write_domain_and_id(__itt_record_t type, const __itt_domain* domain, __itt_id id) {
    record_scope r(writer::mtc, type);
    if (!r) return;
    r->write<unsigned long long>(address(domain));
    write_id(r, id);
}

}  // namespace

__itt_domain* __itt_domain_create(const char* name) {
    return create_named(domain_map, name, __itt_record_domain_createA);
}

__itt_string_handle* __itt_string_handle_create(const char* name) {
    return create_named(string_handle_map, name, __itt_record_string_handle_createA);
}

void adopt(__itt_domain* domain, const char* name) noexcept {
    adopt_named(domain_map, domain, name, __itt_record_domain_createA);
}

void adopt(__itt_string_handle* handle, const char* name) noexcept {
    adopt_named(string_handle_map, handle, name, __itt_record_string_handle_createA);
}

}  // namespace internal

extern "C" {

__itt_domain* __itt_domain_create(const char* name) { return internal::__itt_domain_create(name); }
__itt_domain* __itt_domain_createA(const char* name) { return internal::__itt_domain_create(name); }

__itt_string_handle* __itt_string_handle_create(const char* name) {
    return internal::__itt_string_handle_create(name);
}
__itt_string_handle* __itt_string_handle_createA(const char* name) {
    return internal::__itt_string_handle_create(name);
}

void __itt_id_create(const __itt_domain* domain, __itt_id id) {
    internal::write_domain_and_id(__itt_record_id_create, domain, id);
}

void __itt_id_destroy(const __itt_domain* domain, __itt_id id) {
    internal::write_domain_and_id(__itt_record_id_destroy, domain, id);
}

void __itt_metadata_add(const __itt_domain* domain, __itt_id id, __itt_string_handle* key,
                        __itt_metadata_type type, size_t count, void* data) {
    unsigned type_code = internal::code_of(type);
    size_t size = internal::metadata_size(type_code);
    if (count != 1 || size == 0) return;
    writer::record_scope r(writer::mtc, __itt_record_metadata);
    if (!r) return;
    r->write<unsigned long long>(internal::address(domain));
    internal::write_id(r, id);
    r->write<unsigned long long>(internal::address(key));
    r->write<int>(internal::low_byte(type_code));
    r->write<unsigned long long>(1);
    // A null value pointer is recorded as the value 0 rather than read.
    r->write_bytes(size, data);
}

void __itt_metadata_str_add(const __itt_domain* domain, __itt_id id, __itt_string_handle* key, const char* data,
                            size_t length) {
    internal::write_metadata_string(domain, id, key, data, length);
}

void __itt_metadata_str_addA(const __itt_domain* domain, __itt_id id, __itt_string_handle* key, const char* data,
                             size_t length) {
    internal::write_metadata_string(domain, id, key, data, length);
}

void __itt_relation_add(const __itt_domain* domain, __itt_id head, __itt_relation relation, __itt_id tail) {
    writer::record_scope r(writer::mtc, __itt_record_relation);
    if (!r) return;
    r->write<unsigned long long>(internal::address(domain));
    internal::write_id(r, head);
    r->write<int>(internal::low_byte(internal::code_of(relation)));
    internal::write_id(r, tail);
}

void __itt_task_begin(const __itt_domain* domain, __itt_id taskid, __itt_id parentid, __itt_string_handle* name) {
    writer::record_scope r(writer::mtc, __itt_record_task_begin);
    if (!r) return;
    r->write<unsigned long long>(internal::address(domain));
    internal::write_id(r, taskid);
    internal::write_id(r, parentid);
    r->write<unsigned long long>(internal::address(name));
    r->write<unsigned long long>(0);
}

void __itt_task_end(const __itt_domain* domain) {
    writer::record_scope r(writer::mtc, __itt_record_task_end);
    if (!r) return;
    r->write<unsigned long long>(internal::address(domain));
}

void __itt_task_group(const __itt_domain* domain, __itt_id id, __itt_id parentid, __itt_string_handle* name) {
    internal::write_group_like(__itt_record_task_group, domain, id, parentid, name);
}

void __itt_region_begin(const __itt_domain* domain, __itt_id id, __itt_id parentid, __itt_string_handle* name) {
    internal::write_group_like(__itt_record_region_begin, domain, id, parentid, name);
}

void __itt_region_end(const __itt_domain* domain, __itt_id id) {
    internal::write_domain_and_id(__itt_record_region_end, domain, id);
}

const char* __itt_api_version(void) { return internal::api_version; }

void __itt_api_fini(void*) {}

}  // extern "C"
