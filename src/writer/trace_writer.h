#ifndef MVT_WRITER_TRACE_WRITER_H
#define MVT_WRITER_TRACE_WRITER_H

#include <mutex>
#include <string>

#include "writer/line_sink.h"

namespace writer {

// Owns one trace file: the header at construction, one record frame line or
// field per call, the closing line at destruction. Each call's lines are
// written under `lock` and each line is handed to the operating system before
// the call returns. A record spans several calls; it stays whole because a
// writer serves a single thread.
class trace_writer {
public:
    trace_writer(int index, std::string directory) noexcept;
    ~trace_writer();
    trace_writer(const trace_writer&) = delete;
    trace_writer& operator=(const trace_writer&) = delete;

    void begin_record() noexcept;
    void end_record() noexcept;
    // Instantiated for int and unsigned long long only.
    template <typename T>
    void write(const T& value) noexcept;
    // Writes `s` up to its NUL, unchanged; `length` does not bound the output.
    void write_strA(const char* s, unsigned long length) noexcept;
    void write_id(unsigned long long d1, unsigned long long d2, unsigned long long d3) noexcept;
    // Writes the unsigned integer of `size` bytes (1, 2, 4 or 8) stored at `data`.
    void write_bytes(unsigned long size, void* data) noexcept;

    bool is_open() const noexcept { return out.is_open(); }

private:
    std::string directory;
    std::mutex lock;
    line_sink out;
};

extern template void trace_writer::write<int>(const int&) noexcept;
extern template void trace_writer::write<unsigned long long>(const unsigned long long&) noexcept;

}  // namespace writer

#endif
