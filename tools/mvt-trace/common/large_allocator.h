#ifndef MVT_TRACE_LARGE_ALLOCATOR_H
#define MVT_TRACE_LARGE_ALLOCATOR_H

#include <cstddef>
#include <new>

namespace mvt_trace {

// Memory for the big tables of an analysis (graph objects, hash tables,
// chunks of declarations). Blocks of a few megabytes and more are mapped on
// their own and asked to be backed by huge pages: a run with a graph object
// per task fills hundreds of megabytes, and faulting them in 4 KiB at a time
// costs more than reading the trace. Smaller blocks come from operator new.
void* allocate_large(std::size_t bytes);
void release_large(void* block, std::size_t bytes) noexcept;

template <typename T>
struct large_allocator {
    using value_type = T;

    large_allocator() = default;
    template <typename U>
    large_allocator(const large_allocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
        return static_cast<T*>(allocate_large(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t n) noexcept { release_large(p, n * sizeof(T)); }

    template <typename U>
    bool operator==(const large_allocator<U>&) const noexcept { return true; }
    template <typename U>
    bool operator!=(const large_allocator<U>&) const noexcept { return false; }
};

}  // namespace mvt_trace

#endif
