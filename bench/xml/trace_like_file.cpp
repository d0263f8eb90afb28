#include "trace_like_file.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "sample_files.h"

trace_like_file::trace_like_file(std::size_t approx_bytes) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != 0 ? base : "/tmp") + "/mvt_xml_bench_XXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd < 0) throw std::runtime_error("cannot create " + pattern);
    path_ = pattern;
    FILE* f = fdopen(fd, "w");
    const sample_counts counts = write_sample(f, sample_shape::trace, approx_bytes);
    std::fclose(f);
    bytes_ = counts.bytes;
    records_ = counts.top_level_elements;
}

trace_like_file::~trace_like_file() { unlink(path_.c_str()); }
