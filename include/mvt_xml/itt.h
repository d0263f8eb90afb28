#ifndef MVT_XML_ITT_H
#define MVT_XML_ITT_H

// The instrumentation API that libmvt_xml collects, with the published type
// layouts. Instrumented runtimes read these structures directly (a domain's
// `flags` gates every call), so field order and types must not change.

#include <stddef.h>

#include "mvt_xml/export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ___itt_domain {
    volatile int flags;          // non-zero: the domain is traced
    const char* nameA;
    void* nameW;
    int extra1;
    void* extra2;
    struct ___itt_domain* next;
} __itt_domain;

typedef struct ___itt_string_handle {
    const char* strA;
    void* strW;
    int extra1;
    void* extra2;
    struct ___itt_string_handle* next;
} __itt_string_handle;

typedef struct ___itt_id {
    unsigned long long d1, d2, d3;
} __itt_id;

static const __itt_id __itt_null = {0, 0, 0};

typedef enum {
    __itt_relation_is_unknown = 0,
    __itt_relation_is_dependent_on,
    __itt_relation_is_sibling_of,
    __itt_relation_is_parent_of,
    __itt_relation_is_continuation_of,
    __itt_relation_is_child_of,
    __itt_relation_is_continued_by,
    __itt_relation_is_predecessor_to
} __itt_relation;

typedef enum {
    __itt_metadata_unknown = 0,
    __itt_metadata_u64,
    __itt_metadata_s64,
    __itt_metadata_u32,
    __itt_metadata_s32,
    __itt_metadata_u16,
    __itt_metadata_s16,
    __itt_metadata_float,
    __itt_metadata_double
} __itt_metadata_type;

MVT_API __itt_domain* __itt_domain_create(const char* name);
MVT_API __itt_domain* __itt_domain_createA(const char* name);
MVT_API __itt_string_handle* __itt_string_handle_create(const char* name);
MVT_API __itt_string_handle* __itt_string_handle_createA(const char* name);

MVT_API void __itt_id_create(const __itt_domain* domain, __itt_id id);
MVT_API void __itt_id_destroy(const __itt_domain* domain, __itt_id id);
MVT_API void __itt_metadata_add(const __itt_domain* domain, __itt_id id, __itt_string_handle* key,
                                __itt_metadata_type type, size_t count, void* data);
MVT_API void __itt_metadata_str_add(const __itt_domain* domain, __itt_id id, __itt_string_handle* key,
                                    const char* data, size_t length);
MVT_API void __itt_metadata_str_addA(const __itt_domain* domain, __itt_id id, __itt_string_handle* key,
                                     const char* data, size_t length);
MVT_API void __itt_relation_add(const __itt_domain* domain, __itt_id head, __itt_relation relation,
                                __itt_id tail);
MVT_API void __itt_task_begin(const __itt_domain* domain, __itt_id taskid, __itt_id parentid,
                              __itt_string_handle* name);
MVT_API void __itt_task_end(const __itt_domain* domain);
MVT_API void __itt_task_group(const __itt_domain* domain, __itt_id id, __itt_id parentid,
                              __itt_string_handle* name);
MVT_API void __itt_region_begin(const __itt_domain* domain, __itt_id id, __itt_id parentid,
                                __itt_string_handle* name);
MVT_API void __itt_region_end(const __itt_domain* domain, __itt_id id);

MVT_API const char* __itt_api_version(void);
MVT_API void __itt_api_fini(void* reserved);

// Called by an instrumented runtime's compiled-in static part with its global
// structure: stores this library's function in every entry of the global's API
// list whose group is in `init_groups` and whose name the library exports, and
// the entry's own null function in every other entry. A null global, or one
// without the static part's magic, is left untouched.
MVT_API void __itt_api_init(void* global, int init_groups);

#ifdef __cplusplus
}
#endif

#endif
