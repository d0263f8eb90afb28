#include "common/large_allocator.h"

#include <sys/mman.h>

#include <cstdint>

namespace mvt_trace {

namespace {

// Blocks from half a huge page up: smaller ones are faulted in 4 KiB pages
// as they are used, and would waste most of a huge page.
constexpr std::size_t mapped_from = std::size_t{1} << 20;
constexpr std::size_t huge_page = std::size_t{2} << 20;

std::size_t whole_huge_pages(std::size_t bytes) { return (bytes + huge_page - 1) / huge_page * huge_page; }

}  // namespace

// A mapping is only backed by huge pages where it covers whole aligned
// 2 MiB pages: map one huge page more than needed and trim both ends.
void* allocate_large(std::size_t bytes) {
    if (bytes < mapped_from) return ::operator new(bytes);
    const std::size_t size = whole_huge_pages(bytes);
    void* raw = ::mmap(nullptr, size + huge_page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) throw std::bad_alloc();
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + huge_page - 1) / huge_page * huge_page;
    if (aligned > start) ::munmap(raw, aligned - start);
    ::munmap(reinterpret_cast<void*>(aligned + size), start + huge_page - aligned);
    void* block = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
    ::madvise(block, size, MADV_HUGEPAGE);
#endif
    return block;
}

void release_large(void* block, std::size_t bytes) noexcept {
    if (block == nullptr) return;
    if (bytes < mapped_from)
        ::operator delete(block);
    else
        ::munmap(block, whole_huge_pages(bytes));
}

void prefer_huge_pages(const void* block, std::size_t bytes) noexcept {
#ifdef MADV_HUGEPAGE
    const auto start = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t first = (start + huge_page - 1) / huge_page * huge_page;
    const std::uintptr_t end = (start + bytes) / huge_page * huge_page;
    if (block != nullptr && end > first) ::madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#else
    (void)block;
    (void)bytes;
#endif
}

}  // namespace mvt_trace
