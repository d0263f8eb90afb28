#include "writer/trace_writer.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>

namespace writer {

namespace {

// Text of one "<field>...</field>" line for a number; 20 digits and a sign fit.
class number_line {
public:
    template <typename T>
    explicit number_line(T value) noexcept {
        std::memcpy(text_, "<field>", 7);
        char* end = std::to_chars(text_ + 7, text_ + 7 + 21, value).ptr;
        std::memcpy(end, "</field>\n", 9);
        length_ = static_cast<size_t>(end + 9 - text_);
    }
    iovec piece() noexcept { return {text_, length_}; }

private:
    char text_[7 + 21 + 9];
    size_t length_;
};

iovec literal(const char* text) noexcept { return {const_cast<char*>(text), std::strlen(text)}; }

unsigned long long read_unsigned(unsigned long size, const void* data) noexcept {
    switch (size) {
        case 1: { std::uint8_t v; std::memcpy(&v, data, 1); return v; }
        case 2: { std::uint16_t v; std::memcpy(&v, data, 2); return v; }
        case 4: { std::uint32_t v; std::memcpy(&v, data, 4); return v; }
        default: { std::uint64_t v; std::memcpy(&v, data, 8); return v; }
    }
}

}  // namespace

trace_writer::trace_writer(int index, std::string dir) noexcept : directory(std::move(dir)) {
    std::lock_guard<std::mutex> hold(lock);
    char name[32];
    *std::to_chars(name, name + sizeof name - 1, index).ptr = '\0';
    try {
        out.open(directory + "/_mvt." + name);
    } catch (...) {
        // Without memory for the path the writer stays unopened and reports on stderr.
    }
    iovec declaration = literal("<?xml version=\"1.0\"?>\n");
    out.write_line(&declaration, 1, true);
    char trace_open[96];
    int n = std::snprintf(trace_open, sizeof trace_open,
                          "<trace version=\"0\" ts_frequency=\"1000000000\" hardware_concurrency=\"%u\">\n",
                          std::thread::hardware_concurrency());
    iovec trace_line = {trace_open, static_cast<size_t>(n)};
    out.write_line(&trace_line, 1, false);
}

trace_writer::~trace_writer() {
    std::lock_guard<std::mutex> hold(lock);
    iovec closing = literal("</trace>\n");
    out.write_line(&closing, 1, true);
    out.close();
}

void trace_writer::begin_record() noexcept {
    std::lock_guard<std::mutex> hold(lock);
    iovec line = literal("<record>\n");
    out.write_line(&line, 1, true);
}

void trace_writer::end_record() noexcept {
    std::lock_guard<std::mutex> hold(lock);
    iovec line = literal("</record>\n");
    out.write_line(&line, 1, true);
}

template <typename T>
void trace_writer::write(const T& value) noexcept {
    number_line line(value);
    iovec piece = line.piece();
    std::lock_guard<std::mutex> hold(lock);
    out.write_line(&piece, 1, true);
}

template void trace_writer::write<int>(const int&) noexcept;
template void trace_writer::write<unsigned long long>(const unsigned long long&) noexcept;

void trace_writer::write_strA(const char* s, unsigned long) noexcept {
    // A null string cannot come from a well-behaved caller; it is written as
    // an empty field rather than read.
    const char* text = s ? s : "";
    iovec pieces[3] = {literal("<field>"), {const_cast<char*>(text), std::strlen(text)}, literal("</field>\n")};
    std::lock_guard<std::mutex> hold(lock);
    out.write_line(pieces, 3, true);
}

void trace_writer::write_id(unsigned long long d1, unsigned long long d2, unsigned long long d3) noexcept {
    number_line words[3] = {number_line(d1), number_line(d2), number_line(d3)};
    iovec open = literal("<compound_field>\n");
    iovec close = literal("</compound_field>\n");
    std::lock_guard<std::mutex> hold(lock);
    out.write_line(&open, 1, true);
    for (number_line& word : words) {
        iovec piece = word.piece();
        out.write_line(&piece, 1, false);
    }
    out.write_line(&close, 1, false);
}

void trace_writer::write_bytes(unsigned long size, void* data) noexcept {
    // Sizes other than 1, 2, 4 and 8 have no integer to show; a missing value
    // is written as 0 rather than read.
    bool readable = data && (size == 1 || size == 2 || size == 4 || size == 8);
    write<unsigned long long>(readable ? read_unsigned(size, data) : 0);
}

}  // namespace writer
