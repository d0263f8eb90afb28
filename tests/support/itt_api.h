#ifndef MVT_TEST_ITT_API_H
#define MVT_TEST_ITT_API_H

// The __itt_* functions bound the way instrumented runtimes bind a collector:
// dlopen() of the library by path, then dlsym() of every function by name.

#include <mvt_xml/itt.h>

#define MVT_ITT_FUNCTIONS(X)                                                                               \
    X(domain_create) X(domain_createA) X(string_handle_create) X(string_handle_createA) X(id_create)      \
    X(id_destroy) X(metadata_add) X(metadata_str_add) X(metadata_str_addA) X(relation_add) X(task_begin) \
    X(task_end) X(task_group) X(region_begin) X(region_end) X(api_version) X(api_fini)

namespace mvt_test {

struct itt_api {
#define MVT_ITT_MEMBER(name) decltype(&::__itt_##name) name;
    MVT_ITT_FUNCTIONS(MVT_ITT_MEMBER)
#undef MVT_ITT_MEMBER
};

// Loads the library at `path` and binds every function; exits the process
// with status 3 when the library or a function is missing.
itt_api load_itt_api(const char* path);

}  // namespace mvt_test

#endif
