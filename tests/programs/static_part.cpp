// Plays an instrumented runtime's compiled-in static part towards the
// library: builds the static part's global byte by byte at the offsets that
// static parts are compiled with (deliberately not from the library's own
// declaration, so that a layout mistake on either side shows), dlopen()s the
// library and hands the global to __itt_api_init.
//
//   static_part LIB bind     prints how each entry of the API list was bound
//   static_part LIB refuse   a wrong magic, a null global, a null API list and
//                            a second global behind the first: prints what changed

#include <dlfcn.h>
#include <pthread.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// One entry of the API list, 40 bytes.
struct api_entry {
    const char* name;
    void** func_ptr;
    void* init_func;
    void* null_func;
    int group;
};
static_assert(sizeof(api_entry) == 40 && sizeof(void*) == 8 && sizeof(pthread_mutex_t) == 40,
              "the static part's layout on LP64 x86-64 Linux");

constexpr unsigned char magic[8] = {0xED, 0xAB, 0xAB, 0xEC, 0x0D, 0xEE, 0xDA, 0x30};
constexpr size_t mutex_at = 56, library_at = 96, path_at = 112, api_list_at = 120, next_at = 128, size = 136;

struct alignas(8) global {
    unsigned char bytes[size] = {};

    template <typename T>
    void put(size_t at, const T& value) { std::memcpy(bytes + at, &value, sizeof value); }
};

// The groups a static part asks for, and one it does not.
constexpr int wanted_a = 1, wanted_b = 2, unwanted = 4;

// An API list whose every entry keeps its function in its own slot, first set
// to the entry's init_func. The init and null functions are never called, so
// distinct addresses stand in for them.
struct api_list {
    std::vector<api_entry> entries;
    std::vector<void*> slots;
    char init_marks[64], null_marks[64];

    explicit api_list(const std::vector<std::pair<const char*, int>>& names) : slots(names.size()) {
        for (size_t k = 0; k < names.size(); ++k) {
            slots[k] = &init_marks[k];
            entries.push_back({names[k].first, &slots[k], &init_marks[k], &null_marks[k], names[k].second});
        }
        entries.push_back({nullptr, nullptr, nullptr, nullptr, 0});
    }
};

global make_global(api_list* list, void* library, const char** path) {
    global g;
    std::memcpy(g.bytes, magic, sizeof magic);
    g.put<unsigned long>(8, 3);
    const pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    g.put(mutex_at, mutex);
    g.put(library_at, library);
    g.put(path_at, path);
    g.put(api_list_at, list ? list->entries.data() : nullptr);
    return g;
}

using init_fn = void (*)(void*, int);

// Every function the library exports, wanted, so that each must be bound to
// the function of its own name; one wanted entry without a slot; wanted names
// the library lacks; and an exported function in a group not asked for.
int bind(void* library, init_fn init) {
    api_list list({{"__itt_domain_create", wanted_a}, {"__itt_domain_createA", wanted_b},
                   {"__itt_string_handle_create", wanted_a}, {"__itt_string_handle_createA", wanted_b},
                   {"__itt_id_create", wanted_a}, {"__itt_id_destroy", wanted_b}, {"__itt_metadata_add", wanted_a},
                   {"__itt_metadata_str_add", wanted_b}, {"__itt_metadata_str_addA", wanted_a},
                   {"__itt_relation_add", wanted_b | unwanted}, {"__itt_task_begin", wanted_a},
                   {"__itt_task_end", wanted_a}, {"__itt_region_begin", wanted_b}, {"__itt_region_end", wanted_a},
                   {"__itt_api_version", wanted_a}, {"__itt_api_fini", wanted_b}, {"__itt_pause", wanted_a},
                   {"__itt_thread_set_name", wanted_b}, {"__itt_task_group", unwanted}});
    list.entries.insert(list.entries.end() - 1, {"__itt_id_create", nullptr, nullptr, nullptr, wanted_a});
    const char* path = "libmvt_xml.so";
    global g = make_global(&list, library, &path);
    init(g.bytes, wanted_a | wanted_b);
    for (size_t k = 0; k < list.slots.size(); ++k) {
        const void* slot = list.slots[k];
        const char* state = slot == dlsym(library, list.entries[k].name) ? "library"
                            : slot == list.entries[k].null_func         ? "null"
                                                                         : "untouched";
        std::printf("%s %s\n", list.entries[k].name, state);
    }
    return 0;
}

const char* unchanged(const global& before, const global& after, const api_list& list) {
    bool same = std::memcmp(before.bytes, after.bytes, size) == 0;
    for (size_t k = 0; k < list.slots.size(); ++k) same &= list.slots[k] == list.entries[k].init_func;
    return same ? "untouched" : "changed";
}

int refuse(void* library, init_fn init) {
    const std::vector<std::pair<const char*, int>> names = {{"__itt_task_begin", wanted_a}, {"__itt_pause", wanted_a}};
    api_list list(names), second_list(names);
    global wrong = make_global(&list, library, nullptr);
    wrong.bytes[7] ^= 0x01;
    const global wrong_before = wrong;
    init(wrong.bytes, ~0);
    std::printf("wrong magic: %s\n", unchanged(wrong_before, wrong, list));

    init(nullptr, ~0);
    std::printf("null global: survived\n");

    global empty = make_global(nullptr, library, nullptr);
    const global empty_before = empty;
    init(empty.bytes, ~0);
    std::printf("null API list: %s\n", unchanged(empty_before, empty, list));

    // Two static parts in one process: each binds only through its own global.
    global second = make_global(&second_list, library, nullptr);
    global first = make_global(&list, library, nullptr);
    first.put<void*>(next_at, second.bytes);
    const global second_before = second;
    init(first.bytes, ~0);
    std::printf("next global: %s\n", unchanged(second_before, second, second_list));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    const auto init = library ? reinterpret_cast<init_fn>(dlsym(library, "__itt_api_init")) : nullptr;
    if (!init) {
        std::fprintf(stderr, "cannot bind __itt_api_init\n");
        return 3;
    }
    const std::string mode = argv[2];
    if (mode == "bind") return bind(library, init);
    if (mode == "refuse") return refuse(library, init);
    return 2;
}
