#ifndef MVT_TRACE_LARGE_ALLOCATOR_H
#define MVT_TRACE_LARGE_ALLOCATOR_H

#include <cstddef>
#include <new>

namespace mvt_trace {

// Memory for the big tables of an analysis (graph objects, identifier
// tables, chunks of declarations). A run with a graph object per task fills
// hundreds of megabytes, and faulting them in 4 KiB at a time costs more than
// reading the trace: blocks of a megabyte and more are mapped on their own,
// aligned to 2 MiB and asked to be backed by huge pages, so that one fault
// brings in 2 MiB. Smaller blocks come from operator new.
void* allocate_large(std::size_t bytes);
void release_large(void* block, std::size_t bytes) noexcept;

// Asks for huge pages under memory that something else allocated (a
// std::vector whose type is fixed) before it is first written: only the
// whole 2 MiB pages inside the block are concerned.
void prefer_huge_pages(const void* block, std::size_t bytes) noexcept;

// Room for n elements in such a vector, in huge pages where it is large.
template <typename Vector>
void reserve_in_huge_pages(Vector& vector, std::size_t n) {
    vector.reserve(n);
    prefer_huge_pages(vector.data(), vector.capacity() * sizeof(typename Vector::value_type));
}

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
