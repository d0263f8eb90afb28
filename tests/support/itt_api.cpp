#include "itt_api.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

namespace mvt_test {

itt_api load_itt_api(const char* path) {
    void* library = dlopen(path, RTLD_NOW | RTLD_GLOBAL);
    itt_api api{};
    const char* missing = library ? nullptr : dlerror();
#define MVT_ITT_BIND(name)                                                                   \
    if (library && !(api.name = reinterpret_cast<decltype(api.name)>(dlsym(library, "__itt_" #name)))) \
        missing = "__itt_" #name;
    MVT_ITT_FUNCTIONS(MVT_ITT_BIND)
#undef MVT_ITT_BIND
    if (missing) {
        std::fprintf(stderr, "cannot bind %s\n", missing);
        std::exit(3);
    }
    return api;
}

}  // namespace mvt_test
