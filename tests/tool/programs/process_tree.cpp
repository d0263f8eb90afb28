// Starts traced processes the ways a program can, for record's tests. It
// binds the library with dlopen(), as the test client does, and records
// id_create {stage, k, 0} with a null domain.
//
//   process_tree LIB exec N CLIENT     N records, then exec CLIENT LIB stress 2 N
//   process_tree LIB system N CLIENT   N records, then system("CLIENT LIB stress 1 N"), then N more
//   process_tree LIB reload N          three times: load, N records, unload

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <mvt_xml/itt.h>

namespace {

using id_create_function = decltype(&::__itt_id_create);

void* load(const char* library, id_create_function& id_create) {
    void* handle = dlopen(library, RTLD_NOW | RTLD_GLOBAL);
    id_create = handle ? reinterpret_cast<id_create_function>(dlsym(handle, "__itt_id_create")) : nullptr;
    if (id_create == nullptr) {
        std::fprintf(stderr, "cannot load %s\n", library);
        std::exit(3);
    }
    return handle;
}

void record(id_create_function id_create, unsigned long long stage, unsigned long long count) {
    for (unsigned long long k = 0; k < count; ++k) id_create(nullptr, {stage, k, 0});
}

bool unloads = false;

}  // namespace

// The library keeps its per-thread holders and names for the life of the
// process, by design; unloading it leaves them behind, which LeakSanitizer,
// where present, would report at exit.
extern "C" int __lsan_is_turned_off() { return unloads ? 1 : 0; }

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    const char* library = argv[1];
    const std::string mode = argv[2];
    const std::string count = argv[3];
    const unsigned long long n = std::strtoull(argv[3], nullptr, 10);
    id_create_function id_create = nullptr;
    if (mode == "exec" && argc > 4) {
        load(library, id_create);
        record(id_create, 1, n);
        execl(argv[4], argv[4], library, "stress", "2", count.c_str(), static_cast<char*>(nullptr));
        return 4;
    }
    if (mode == "system" && argc > 4) {
        load(library, id_create);
        record(id_create, 1, n);
        const std::string command = std::string(argv[4]) + " " + library + " stress 1 " + count;
        if (std::system(command.c_str()) != 0) return 5;
        record(id_create, 2, n);
        return 0;
    }
    if (mode == "reload") {
        unloads = true;
        for (unsigned long long stage = 1; stage <= 3; ++stage) {
            void* handle = load(library, id_create);
            record(id_create, stage, n);
            if (dlclose(handle) != 0) return 6;
        }
        return 0;
    }
    return 2;
}
