#ifndef MVT_TEST_ITT_API_H
#define MVT_TEST_ITT_API_H

// The __itt_* functions bound the way instrumented runtimes bind a collector:
// dlopen() of the library by path, then dlsym() of every function by name.

#include <mvt_xml/itt.h>

namespace mvt_test {

struct itt_api {
    decltype(&::__itt_domain_create) domain_create;
    decltype(&::__itt_domain_createA) domain_createA;
    decltype(&::__itt_string_handle_create) string_handle_create;
    decltype(&::__itt_string_handle_createA) string_handle_createA;
    decltype(&::__itt_id_create) id_create;
    decltype(&::__itt_id_destroy) id_destroy;
    decltype(&::__itt_metadata_add) metadata_add;
    decltype(&::__itt_metadata_str_add) metadata_str_add;
    decltype(&::__itt_metadata_str_addA) metadata_str_addA;
    decltype(&::__itt_relation_add) relation_add;
    decltype(&::__itt_task_begin) task_begin;
    decltype(&::__itt_task_end) task_end;
    decltype(&::__itt_task_group) task_group;
    decltype(&::__itt_region_begin) region_begin;
    decltype(&::__itt_region_end) region_end;
    decltype(&::__itt_api_version) api_version;
    decltype(&::__itt_api_fini) api_fini;
};

// Loads the library at `path` and binds every function; exits the process
// with status 3 when the library or a function is missing.
itt_api load_itt_api(const char* path);

}  // namespace mvt_test

#endif
