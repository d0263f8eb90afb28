#ifndef MVT_BENCH_XML_TRACE_LIKE_FILE_H
#define MVT_BENCH_XML_TRACE_LIKE_FILE_H

#include <cstddef>
#include <string>

// A generated file shaped like a trace: one root holding many <record>
// elements, each a handful of small <field> elements with mostly numeric
// text. Removed when the object goes away.
class trace_like_file {
public:
    explicit trace_like_file(std::size_t approx_bytes);
    ~trace_like_file();
    trace_like_file(const trace_like_file&) = delete;
    trace_like_file& operator=(const trace_like_file&) = delete;

    const std::string& path() const { return path_; }
    std::size_t bytes() const { return bytes_; }
    std::size_t records() const { return records_; }

private:
    std::string path_;
    std::size_t bytes_ = 0;
    std::size_t records_ = 0;
};

#endif
