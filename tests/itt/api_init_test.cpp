// An instrumented runtime's compiled-in static part binding the library
// through __itt_api_init. The static part's global is built byte by byte at
// the offsets static parts are compiled with (deliberately not from the
// library's own declaration, so that a layout mistake on either side shows).
// A bound entry is the library's own function, so its calls are those that
// entry_points_test checks.

#include <dlfcn.h>
#include <pthread.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <mvt_xml/itt.h>

#include "files.h"
#include "trace_reader.h"

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
constexpr size_t mutex_at = 56, library_at = 96, path_at = 112, api_list_at = 120, next_at = 128,
                 domain_list_at = 144, string_list_at = 152, size = 160;

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
    bool untouched() const {
        for (size_t k = 0; k < slots.size(); ++k)
            if (slots[k] != entries[k].init_func) return false;
        return true;
    }
};

// The library, loaded once for this program with its trace files in a
// directory of their own, and its __itt_api_init.
struct loaded_library {
    loaded_library() {
        setenv("MVA_DIR", trace.path().c_str(), 1);
        handle = dlopen(MVT_LIB_PATH, RTLD_NOW | RTLD_LOCAL);
        if (handle) init = reinterpret_cast<void (*)(void*, int)>(dlsym(handle, "__itt_api_init"));
    }
    mvt_test::temp_dir trace;
    void* handle = nullptr;
    void (*init)(void*, int) = nullptr;
};

const loaded_library& library() {
    static const loaded_library loaded;
    return loaded;
}

global make_global(api_list* list, const char** path = nullptr) {
    global g;
    std::memcpy(g.bytes, magic, sizeof magic);
    g.put<unsigned long>(8, 3);
    const pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    g.put(mutex_at, mutex);
    g.put(library_at, library().handle);
    g.put(path_at, path);
    g.put(api_list_at, list ? list->entries.data() : nullptr);
    return g;
}

// Every function the library exports, wanted, must be bound to the function
// of its own name; a wanted name the library lacks, or a function in a group
// not asked for, gets the entry's null function; an entry without a slot is
// passed by. Binding records nothing.
TEST(ApiInit, BindsWantedFunctionsByName) {
    ASSERT_NE(library().init, nullptr);
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
    global g = make_global(&list, &path);
    library().init(g.bytes, wanted_a | wanted_b);
    const size_t exported_and_wanted = 16;  // the first entries, one per exported function
    for (size_t k = 0; k < list.slots.size(); ++k)
        EXPECT_EQ(list.slots[k], k < exported_and_wanted ? dlsym(library().handle, list.entries[k].name)
                                                         : list.entries[k].null_func)
            << list.entries[k].name;
    EXPECT_EQ(mvt_test::read_lines(library().trace / "_mvt.0").size(), 2u);
}

// A global with the wrong magic, a null one, one without an API list, and
// a second static part's global reached through the first's `next`.
TEST(ApiInit, LeavesAnythingButAStaticPartsOwnGlobalAlone) {
    ASSERT_NE(library().init, nullptr);
    const std::vector<std::pair<const char*, int>> names = {{"__itt_task_begin", wanted_a}, {"__itt_pause", wanted_a}};
    api_list list(names), second_list(names);
    // Binds through `bound` and requires that `g` and its list stay as they were.
    auto expect_untouched = [](global& bound, const global& g, const api_list& l) {
        const global before = g;
        library().init(bound.bytes, ~0);
        EXPECT_EQ(std::memcmp(before.bytes, g.bytes, size), 0);
        EXPECT_TRUE(l.untouched());
    };
    global wrong = make_global(&list), empty = make_global(nullptr), second = make_global(&second_list),
           first = make_global(&list);
    wrong.bytes[7] ^= 0x01;
    expect_untouched(wrong, wrong, list);
    library().init(nullptr, ~0);
    expect_untouched(empty, empty, list);
    first.put<void*>(next_at, second.bytes);
    expect_untouched(first, second, second_list);
}

// Domains and string handles as a static part makes them while no collector
// is bound, at their published offsets, chained through `next` in list order.
template <size_t Size, size_t NameAt, size_t NextAt>
struct object_list {
    struct alignas(8) object {
        unsigned char bytes[Size] = {};
    };
    std::vector<object> objects;

    explicit object_list(const std::vector<const char*>& names) : objects(names.size()) {
        for (size_t k = 0; k < names.size(); ++k) {
            std::memcpy(objects[k].bytes + NameAt, &names[k], sizeof names[k]);
            link(k, k + 1 < names.size() ? at(k + 1) : nullptr);
        }
    }
    void* at(size_t k) { return objects[k].bytes; }
    void* head() { return objects.empty() ? nullptr : at(0); }
    void link(size_t from, void* to) { std::memcpy(objects[from].bytes + NextAt, &to, sizeof to); }
};
using domain_list = object_list<48, 8, 40>;
using handle_list = object_list<40, 0, 32>;

std::string address(const void* p) { return std::to_string(reinterpret_cast<unsigned long long>(p)); }

std::string creation(const char* kind, const void* object, const std::string& name) {
    return std::string(kind) + "_createA " + address(object) + " " + std::to_string(name.size() & 0xff) + " " + name;
}

// The records this thread wrote into the trace since the last call, one line
// each as creation() spells them (the fields after the timestamp).
std::vector<std::string> new_records() {
    static size_t seen = 0;
    const mvt_test::trace_file file = mvt_test::parse_trace(library().trace / "_mvt.0");
    EXPECT_EQ(file.error, "");
    std::vector<std::string> out;
    for (; seen < file.records.size(); ++seen) {
        const mvt_test::trace_record& r = file.records[seen];
        std::string line = r.name();
        for (size_t f = 2; f < r.fields.size(); ++f) line += " " + r.fields[f].text;
        out.push_back(line);
    }
    return out;
}

// Binds a global that holds the given lists and returns what was written
// since the last look.
std::vector<std::string> init_with(void* domains, void* handles) {
    global g = make_global(nullptr);
    g.put(domain_list_at, domains);
    g.put(string_list_at, handles);
    library().init(g.bytes, ~0);
    return new_records();
}

template <typename Function>
Function* exported(const char* name) {
    return reinterpret_cast<Function*>(dlsym(library().handle, name));
}

// Each entry with a name is announced once, in list order, with its own
// address; it becomes its name's object for later creation calls, except for a
// name the library handed out before, which keeps its object.
TEST(ApiInit, AnnouncesTheObjectsAStaticPartMadeBefore) {
    ASSERT_NE(library().init, nullptr);
    auto* domain_create = exported<decltype(__itt_domain_createA)>("__itt_domain_createA");
    auto* handle_create = exported<decltype(__itt_string_handle_create)>("__itt_string_handle_create");
    const void* library_made = domain_create("taken");
    new_records();

    const std::string long_name(300, 'x');
    domain_list domains({"dnnl::primitive::execute", nullptr, "taken"});
    handle_list handles({"matmul", nullptr, "eltwise", "", long_name.c_str(), "dnnl::primitive::execute"});
    EXPECT_EQ(init_with(domains.head(), handles.head()),
              (std::vector<std::string>{creation("domain", domains.at(0), "dnnl::primitive::execute"),
                                        creation("domain", domains.at(2), "taken"),
                                        creation("string_handle", handles.at(0), "matmul"),
                                        creation("string_handle", handles.at(2), "eltwise"),
                                        creation("string_handle", handles.at(3), ""),
                                        creation("string_handle", handles.at(4), long_name),
                                        creation("string_handle", handles.at(5), "dnnl::primitive::execute")}));

    EXPECT_EQ(domain_create("dnnl::primitive::execute"), domains.at(0));
    EXPECT_EQ(handle_create("matmul"), handles.at(0));
    EXPECT_EQ(handle_create("eltwise"), handles.at(2));
    EXPECT_EQ(domain_create("taken"), library_made);
    EXPECT_EQ(new_records(), (std::vector<std::string>{creation("domain", domains.at(0), "dnnl::primitive::execute"),
                                                       creation("string_handle", handles.at(0), "matmul"),
                                                       creation("string_handle", handles.at(2), "eltwise"),
                                                       creation("domain", library_made, "taken")}));
}

// However a list is chained (a long chain, a tail running into a loop of any
// length, a loop through its head), every entry is announced exactly once and
// in order; a chain longer than any runtime makes is cut off.
TEST(ApiInit, WalksEveryListToAnEndAndAnnouncesEachEntryOnce) {
    ASSERT_NE(library().init, nullptr);
    new_records();
    std::vector<std::string> names;
    auto list_of = [&names](size_t n, const std::string& prefix) {
        names.clear();
        for (size_t k = 0; k < n; ++k) names.push_back(prefix + std::to_string(k));
        std::vector<const char*> pointers;
        for (const std::string& name : names) pointers.push_back(name.c_str());
        return handle_list(pointers);
    };
    auto expected = [&names](handle_list& list) {
        std::vector<std::string> lines;
        for (size_t k = 0; k < names.size(); ++k) lines.push_back(creation("string_handle", list.at(k), names[k]));
        return lines;
    };

    for (size_t tail = 0; tail <= 4; ++tail)
        for (size_t loop = 1; loop <= 9; ++loop) {
            handle_list looped = list_of(tail + loop, std::to_string(tail) + "+" + std::to_string(loop) + " ");
            looped.link(tail + loop - 1, looped.at(tail));
            EXPECT_EQ(init_with(nullptr, looped.head()), expected(looped)) << "tail " << tail << ", loop " << loop;
        }

    handle_list chain = list_of(5000, "chain ");
    EXPECT_EQ(init_with(nullptr, chain.head()), expected(chain));

    // Unnamed entries make the walk long without filling the trace.
    std::vector<const char*> unnamed(400000, nullptr);
    unnamed.front() = "first";
    unnamed.back() = "past the end";
    handle_list too_long(unnamed);
    EXPECT_EQ(init_with(nullptr, too_long.head()),
              std::vector<std::string>{creation("string_handle", too_long.at(0), "first")});
}

}  // namespace
