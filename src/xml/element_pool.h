#ifndef MVT_XML_SRC_XML_ELEMENT_POOL_H
#define MVT_XML_SRC_XML_ELEMENT_POOL_H

#include <cstddef>

namespace xml {
namespace element_pool {

// Memory for one element of `size` bytes; throws std::bad_alloc when there is
// none. Sizes other than sizeof(element) (derived classes) come from the
// global allocator.
void* allocate(std::size_t size);
// Gives back memory from allocate, or from the global operator new: the pool
// tells its own memory apart by address.
void release(void* p) noexcept;

}  // namespace element_pool
}  // namespace xml

#endif
