#include "common/large_allocator.h"

#include <sys/mman.h>

namespace mvt_trace {

namespace {

constexpr std::size_t mapped_from = std::size_t{4} << 20;

}  // namespace

void* allocate_large(std::size_t bytes) {
    if (bytes < mapped_from) return ::operator new(bytes);
    void* block = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
    ::madvise(block, bytes, MADV_HUGEPAGE);
#endif
    return block;
}

void release_large(void* block, std::size_t bytes) noexcept {
    if (block == nullptr) return;
    if (bytes < mapped_from)
        ::operator delete(block);
    else
        ::munmap(block, bytes);
}

}  // namespace mvt_trace
