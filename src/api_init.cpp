// __itt_api_init: the way an instrumented runtime's static part binds a
// collector without being told which API groups to bind by name. It hands
// over its global and the groups it wants; the library fills in the static
// part's function pointers itself.

#include <cstring>

#include <mvt_xml/itt.h>

#include "static_part.h"

namespace {

struct exported_function {
    const char* name;
    void* address;
};

template <typename Function>
void* address_of(Function* function) {
    return reinterpret_cast<void*>(function);
}

#define MVT_EXPORTED(function) {#function, address_of(&function)}

// Every function the library exports for instrumented code, by the name a
// static part lists it under.
const exported_function exported[] = {
    MVT_EXPORTED(__itt_domain_create),        MVT_EXPORTED(__itt_domain_createA),
    MVT_EXPORTED(__itt_string_handle_create), MVT_EXPORTED(__itt_string_handle_createA),
    MVT_EXPORTED(__itt_id_create),            MVT_EXPORTED(__itt_id_destroy),
    MVT_EXPORTED(__itt_metadata_add),         MVT_EXPORTED(__itt_metadata_str_add),
    MVT_EXPORTED(__itt_metadata_str_addA),    MVT_EXPORTED(__itt_relation_add),
    MVT_EXPORTED(__itt_task_begin),           MVT_EXPORTED(__itt_task_end),
    MVT_EXPORTED(__itt_task_group),           MVT_EXPORTED(__itt_region_begin),
    MVT_EXPORTED(__itt_region_end),           MVT_EXPORTED(__itt_api_version),
    MVT_EXPORTED(__itt_api_fini),
};

#undef MVT_EXPORTED

void* exported_by_name(const char* name) {
    for (const exported_function& f : exported)
        if (std::strcmp(f.name, name) == 0) return f.address;
    return nullptr;
}

// A wanted function the library has gets the library's; every other entry
// gets the entry's own null function, the static part's "unbound".
void bind(const static_part::api_entry& entry, int groups) {
    if (!entry.func_ptr) return;
    void* own = (entry.group & groups) != 0 ? exported_by_name(entry.name) : nullptr;
    *entry.func_ptr = own ? own : entry.null_func;
}

}  // namespace

extern "C" void __itt_api_init(void* global, int init_groups) {
    auto* part = static_cast<static_part::global*>(global);
    if (!part || std::memcmp(part->magic, static_part::magic, sizeof static_part::magic) != 0) return;
    // The list ends at its null name; a list without one is the caller's error.
    for (const static_part::api_entry* entry = part->api_list; entry && entry->name; ++entry) bind(*entry, init_groups);
}
