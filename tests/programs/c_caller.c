/* Calls made the way a C program makes them: in C an enumeration parameter
   takes any int, so codes outside the enumerators reach the library. */

#include <mvt_xml/itt.h>

void c_relation_add(void (*relation_add)(const __itt_domain*, __itt_id, __itt_relation, __itt_id),
                    const __itt_domain* domain, __itt_id head, int code, __itt_id tail) {
    relation_add(domain, head, code, tail);
}

void c_metadata_add(void (*metadata_add)(const __itt_domain*, __itt_id, __itt_string_handle*, __itt_metadata_type,
                                         size_t, void*),
                    const __itt_domain* domain, __itt_string_handle* key, int code, size_t count, void* data) {
    metadata_add(domain, __itt_null, key, code, count, data);
}
