// __itt_api_init: the way an instrumented runtime's static part binds a
// collector without being told which API groups to bind by name. It hands
// over its global and the groups it wants; the library fills in the static
// part's function pointers itself, and announces the domains and string
// handles the static part made before any collector was bound.

#include <cstddef>
#include <cstring>

#include <mvt_xml/itt.h>

#include "adopt.h"
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

// A runtime creates a few dozen names; a list far longer than that is torn
// or hostile, and its walk has to end somewhere.
constexpr size_t longest_list = 1 << 18;

// How many entries a list holds before it ends or comes back to an entry
// already passed, at most `bound`: a torn list may loop, and announcing each
// entry once needs its length known. Brent's cycle detection, as it keeps no
// memory of the entries passed.
template <typename Entry>
size_t distinct_entries(const Entry* head, size_t bound) {
    if (!head) return 0;
    const Entry* fixed = head;  // the entry the walk is compared with
    const Entry* walk = head->next;
    size_t walked = 1, since_fixed = 1, stretch = 1;
    while (walk && walk != fixed) {
        if (walked >= bound) return bound;
        if (since_fixed == stretch) {
            fixed = walk;
            stretch *= 2;
            since_fixed = 0;
        }
        walk = walk->next;
        ++walked;
        ++since_fixed;
    }
    if (!walk) return walked;
    // A loop of since_fixed entries: its first entry is where a walk from the
    // head and one that many entries ahead of it first meet.
    const size_t loop = since_fixed;
    const Entry* ahead = head;
    for (size_t k = 0; k < loop; ++k) ahead = ahead->next;
    size_t before_loop = 0;
    for (const Entry* behind = head; behind != ahead; behind = behind->next, ahead = ahead->next) ++before_loop;
    return before_loop + loop < bound ? before_loop + loop : bound;
}

const char* name_of(const __itt_domain& domain) { return domain.nameA; }
const char* name_of(const __itt_string_handle& handle) { return handle.strA; }

// Entries without a narrow name (a wide-only name, or a torn entry) are
// passed by. A name pointer into unmapped memory cannot be told apart from a
// good one without touching it, so, like the list itself, it is trusted.
// The static part's own lock is left alone: it may hold it around this call.
template <typename Entry>
void announce(Entry* head) {
    const size_t count = distinct_entries(head, longest_list);
    Entry* entry = head;
    for (size_t k = 0; k < count && entry; ++k, entry = entry->next)
        if (const char* name = name_of(*entry)) internal::adopt(entry, name);
}

}  // namespace

extern "C" void __itt_api_init(void* global, int init_groups) {
    auto* part = static_cast<static_part::global*>(global);
    if (!part || std::memcmp(part->magic, static_part::magic, sizeof static_part::magic) != 0) return;
    // The list ends at its null name; a list without one is the caller's error.
    for (const static_part::api_entry* entry = part->api_list; entry && entry->name; ++entry) bind(*entry, init_groups);
    // From here on the static part passes these objects in its calls; the
    // trace names them, and a later creation call of one of their names
    // returns the static part's object.
    announce(part->domain_list);
    announce(part->string_list);
}
