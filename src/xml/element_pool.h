#ifndef MVT_XML_SRC_XML_ELEMENT_POOL_H
#define MVT_XML_SRC_XML_ELEMENT_POOL_H

#include <cstddef>

namespace xml {
namespace element_pool {

// Memory for one element of `size` bytes; throws std::bad_alloc when there is
// none. Sizes other than sizeof(element) (derived classes) go to the global
// allocator.
void* allocate(std::size_t size);
// Gives back memory from allocate with the same size.
void release(void* p, std::size_t size) noexcept;

}  // namespace element_pool
}  // namespace xml

#endif
