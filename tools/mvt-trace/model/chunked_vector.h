#ifndef MVT_TRACE_CHUNKED_VECTOR_H
#define MVT_TRACE_CHUNKED_VECTOR_H

#include <cstddef>
#include <vector>

#include "common/large_allocator.h"

namespace mvt_trace {

// A vector that grows by whole chunks and never moves its elements: what a
// read of a large run accumulates is written once into memory, instead of
// being copied at every doubling into fresh pages.
template <typename T>
class chunked_vector {
public:
    chunked_vector() = default;
    chunked_vector(chunked_vector&&) noexcept = default;
    chunked_vector& operator=(chunked_vector&&) noexcept = default;

    void push_back(const T& value) {
        // The first chunk grows as a vector does, so that a small graph
        // takes little memory; later ones are whole from the start.
        if (chunks_.empty() || chunks_.back().size() == chunk_size) {
            chunks_.emplace_back();
            if (chunks_.size() > 1) chunks_.back().reserve(chunk_size);
        }
        chunks_.back().push_back(value);
        ++size_;
    }
    T& operator[](std::size_t i) { return chunks_[i / chunk_size][i % chunk_size]; }
    const T& operator[](std::size_t i) const { return chunks_[i / chunk_size][i % chunk_size]; }
    T& back() { return (*this)[size_ - 1]; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    template <typename Visit>
    void for_each(Visit visit) const {
        for (std::size_t i = 0; i < size_; ++i) visit((*this)[i]);
    }

private:
    // Chunks of 8 MiB or so, which large_allocator backs by huge pages.
    static constexpr std::size_t chunk_size = (std::size_t{8} << 20) / sizeof(T);

    std::vector<std::vector<T, large_allocator<T>>> chunks_;
    std::size_t size_ = 0;
};

}  // namespace mvt_trace

#endif
