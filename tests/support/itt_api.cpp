#include "itt_api.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <type_traits>

namespace mvt_test {

itt_api load_itt_api(const char* path) {
    void* library = dlopen(path, RTLD_NOW | RTLD_GLOBAL);
    if (!library) {
        std::fprintf(stderr, "dlopen: %s\n", dlerror());
        std::exit(3);
    }
    itt_api api{};
    auto bind = [library](const char* name, auto& target) {
        void* symbol = dlsym(library, name);
        if (!symbol) {
            std::fprintf(stderr, "missing symbol %s\n", name);
            std::exit(3);
        }
        target = reinterpret_cast<std::remove_reference_t<decltype(target)>>(symbol);
    };
#define MVT_BIND(name) bind("__itt_" #name, api.name)
    MVT_BIND(domain_create), MVT_BIND(domain_createA), MVT_BIND(string_handle_create);
    MVT_BIND(string_handle_createA), MVT_BIND(id_create), MVT_BIND(id_destroy), MVT_BIND(metadata_add);
    MVT_BIND(metadata_str_add), MVT_BIND(metadata_str_addA), MVT_BIND(relation_add), MVT_BIND(task_begin);
    MVT_BIND(task_end), MVT_BIND(task_group), MVT_BIND(region_begin), MVT_BIND(region_end);
    MVT_BIND(api_version), MVT_BIND(api_fini);
#undef MVT_BIND
    return api;
}

}  // namespace mvt_test
