#ifndef MVT_BENCH_XML_SAMPLE_FILES_H
#define MVT_BENCH_XML_SAMPLE_FILES_H

#include <cstddef>
#include <cstdio>

// Deterministic inputs for the XML benchmarks: the same shape and size always
// give the same bytes.
enum class sample_shape {
    // One root holding many <record> elements, each a handful of small <field>
    // elements with mostly numeric text, as the trace writer produces.
    trace,
    // One root holding many empty elements with nine short attributes each.
    attributes,
};

struct sample_counts {
    std::size_t bytes = 0;
    std::size_t top_level_elements = 0;  // children of the root
};

// Writes about `approx_bytes` of the shape to `out`.
sample_counts write_sample(std::FILE* out, sample_shape shape, std::size_t approx_bytes);

#endif
