#ifndef MVT_TRACE_COMPRESSED_ROWS_H
#define MVT_TRACE_COMPRESSED_ROWS_H

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "common/large_allocator.h"

namespace mvt_trace {

using index_pair = std::pair<std::uint32_t, std::uint32_t>;
using index_pairs = std::vector<index_pair, large_allocator<index_pair>>;
using index_list = std::vector<std::uint32_t, large_allocator<std::uint32_t>>;

// Adjacency lists of a graph on 0..n-1 in two arrays: the targets of v are
// targets[begin[v] .. begin[v + 1]), in the order of the pairs they came from.
struct compressed_rows {
    index_list begin;
    index_list targets;

    compressed_rows() = default;
    compressed_rows(std::size_t n, const index_pairs& pairs) : begin(n + 1, 0), targets(pairs.size()) {
        for (const index_pair& pair : pairs) ++begin[pair.first + 1];
        for (std::size_t v = 0; v < n; ++v) begin[v + 1] += begin[v];
        index_list next(begin.begin(), begin.end() - 1);
        for (const index_pair& pair : pairs) targets[next[pair.first]++] = pair.second;
    }

    std::size_t size() const { return begin.empty() ? 0 : begin.size() - 1; }
    const std::uint32_t* row_begin(std::size_t v) const { return targets.data() + begin[v]; }
    const std::uint32_t* row_end(std::size_t v) const { return targets.data() + begin[v + 1]; }
    std::size_t row_size(std::size_t v) const { return begin[v + 1] - begin[v]; }
};

}  // namespace mvt_trace

#endif
