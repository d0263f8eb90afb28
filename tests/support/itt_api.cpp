#include "itt_api.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

namespace mvt_test {

namespace {

template <typename Function>
void bind(void* library, const char* name, Function& target) {
    void* symbol = dlsym(library, name);
    if (!symbol) {
        std::fprintf(stderr, "missing symbol %s\n", name);
        std::exit(3);
    }
    target = reinterpret_cast<Function>(symbol);
}

}  // namespace

itt_api load_itt_api(const char* path) {
    void* library = dlopen(path, RTLD_NOW | RTLD_GLOBAL);
    if (!library) {
        std::fprintf(stderr, "dlopen: %s\n", dlerror());
        std::exit(3);
    }
    itt_api api{};
    bind(library, "__itt_domain_create", api.domain_create);
    bind(library, "__itt_domain_createA", api.domain_createA);
    bind(library, "__itt_string_handle_create", api.string_handle_create);
    bind(library, "__itt_string_handle_createA", api.string_handle_createA);
    bind(library, "__itt_id_create", api.id_create);
    bind(library, "__itt_id_destroy", api.id_destroy);
    bind(library, "__itt_metadata_add", api.metadata_add);
    bind(library, "__itt_metadata_str_add", api.metadata_str_add);
    bind(library, "__itt_metadata_str_addA", api.metadata_str_addA);
    bind(library, "__itt_relation_add", api.relation_add);
    bind(library, "__itt_task_begin", api.task_begin);
    bind(library, "__itt_task_end", api.task_end);
    bind(library, "__itt_task_group", api.task_group);
    bind(library, "__itt_region_begin", api.region_begin);
    bind(library, "__itt_region_end", api.region_end);
    bind(library, "__itt_api_version", api.api_version);
    bind(library, "__itt_api_fini", api.api_fini);
    return api;
}

}  // namespace mvt_test
