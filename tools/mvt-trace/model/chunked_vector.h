#ifndef MVT_TRACE_CHUNKED_VECTOR_H
#define MVT_TRACE_CHUNKED_VECTOR_H

#include <cstddef>
#include <utility>
#include <vector>

#include "common/large_allocator.h"

namespace mvt_trace {

// A vector that grows by chunks and never moves its elements: what a read of
// a large run accumulates is written once into memory, instead of being
// copied at every doubling into fresh pages that must be faulted in. The
// first three chunks grow (4 KiB, 64 KiB, 512 KiB) and are faulted in a page
// at a time as they fill, so that a small graph takes little memory; the
// others are of 2 MiB, which large_allocator backs by one huge page each: a
// fault of a 4 KiB page costs about as much as one of a huge page.
template <typename T>
class chunked_vector {
public:
    chunked_vector() = default;
    chunked_vector(chunked_vector&&) noexcept = default;
    chunked_vector& operator=(chunked_vector&&) noexcept = default;

    void push_back(const T& value) {
        if (chunks_.empty() || chunks_.back().size() == chunks_.back().capacity()) add_chunk();
        chunks_.back().push_back(value);
        ++size_;
    }
    T& operator[](std::size_t i) {
        const auto [chunk, offset] = place(i);
        return chunks_[chunk][offset];
    }
    const T& operator[](std::size_t i) const {
        const auto [chunk, offset] = place(i);
        return chunks_[chunk][offset];
    }
    T& back() { return chunks_.back().back(); }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    template <typename Visit>
    void for_each(Visit visit) const {
        for (const chunk& elements : chunks_)
            for (const T& element : elements) visit(element);
    }

private:
    using chunk = std::vector<T, large_allocator<T>>;

    static constexpr std::size_t first = sizeof(T) < 4096 ? 4096 / sizeof(T) : 1;
    static constexpr std::size_t second = 16 * first;
    static constexpr std::size_t third = 128 * first;
    static constexpr std::size_t whole =
        (std::size_t{2} << 20) / sizeof(T) > third ? (std::size_t{2} << 20) / sizeof(T) : third;

    static std::pair<std::size_t, std::size_t> place(std::size_t i) {
        if (i < first) return {0, i};
        if (i < first + second) return {1, i - first};
        if (i < first + second + third) return {2, i - first - second};
        const std::size_t beyond = i - first - second - third;
        return {3 + beyond / whole, beyond % whole};
    }

    void add_chunk() {
        static constexpr std::size_t sizes[] = {first, second, third};
        const std::size_t k = chunks_.size();
        chunks_.emplace_back();
        chunks_.back().reserve(k < 3 ? sizes[k] : whole);
    }

    std::vector<chunk> chunks_;
    std::size_t size_ = 0;
};

}  // namespace mvt_trace

#endif
