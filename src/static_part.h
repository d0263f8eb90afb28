#ifndef MVT_STATIC_PART_H
#define MVT_STATIC_PART_H

// The global structure that an instrumented runtime's compiled-in "static
// part" of the instrumentation API hands to __itt_api_init, as far as the
// library reads it. The static part owns it; the library only writes the
// function pointers its API list points to.

#include <pthread.h>

#include <cstddef>

#include <mvt_xml/itt.h>

namespace static_part {

// One function of the API as the static part lists it.
struct api_entry {
    const char* name;  // the exported function name; a null name ends the list
    void** func_ptr;   // where the static part keeps the function it calls
    void* init_func;   // the static part's own stand-in until it is bound
    void* null_func;   // what the static part keeps for a function it cannot bind
    int group;         // the API groups the function belongs to, as bits
};

struct global {
    unsigned char magic[8];
    unsigned long version[3];
    long state[3];
    pthread_mutex_t mutex;
    void* library;
    void* error_handler;
    const char** library_path;
    api_entry* api_list;
    global* next;  // another static part's global; never followed here
    // The objects the static part made itself while no collector was bound,
    // each list chained through the objects' own `next`.
    void* thread_list;  // never read here
    __itt_domain* domain_list;
    __itt_string_handle* string_list;
};

// Tells a static part's global apart from anything else a caller might pass.
constexpr unsigned char magic[8] = {0xED, 0xAB, 0xAB, 0xEC, 0x0D, 0xEE, 0xDA, 0x30};

#if defined(__x86_64__)
static_assert(sizeof(api_entry) == 40 && offsetof(global, mutex) == 56 && offsetof(global, library) == 96 &&
                  offsetof(global, api_list) == 120 && offsetof(global, next) == 128 &&
                  offsetof(global, domain_list) == 144 && offsetof(global, string_list) == 152,
              "the layout static parts are compiled with on x86-64 Linux");
static_assert(offsetof(__itt_domain, nameA) == 8 && offsetof(__itt_domain, next) == 40 &&
                  offsetof(__itt_string_handle, strA) == 0 && offsetof(__itt_string_handle, next) == 32,
              "the domain and string-handle layout static parts chain their lists with");
#endif

}  // namespace static_part

#endif
