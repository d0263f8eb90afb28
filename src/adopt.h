#ifndef MVT_ADOPT_H
#define MVT_ADOPT_H

#include <mvt_xml/itt.h>

namespace internal {

// A domain or string handle that an instrumented runtime's static part made
// itself before the library was bound, and `name`, its narrow name as the
// caller read it once. The object becomes its name's record unless the name
// already has one, and its creation record is written on the calling thread
// with the object's own address either way: that is the address the static
// part passes in every later call.
void adopt(__itt_domain* domain, const char* name) noexcept;
void adopt(__itt_string_handle* handle, const char* name) noexcept;

}  // namespace internal

#endif
