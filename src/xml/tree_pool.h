#ifndef MVT_XML_SRC_XML_TREE_POOL_H
#define MVT_XML_SRC_XML_TREE_POOL_H

#include <cstddef>

namespace xml {
namespace tree_pool {

// Memory for one element or one attribute array of `size` bytes; throws
// std::bad_alloc when there is none. Sizes the pool has no class for come
// from the global operator new.
void* allocate(std::size_t size);
// Gives back memory from allocate, or from the global operator new: the pool
// tells its own memory apart by address.
void release(void* p) noexcept;

}  // namespace tree_pool
}  // namespace xml

#endif
