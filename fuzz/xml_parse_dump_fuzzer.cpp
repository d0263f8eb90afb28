// Parses arbitrary bytes as a document and dumps the result, then drives the
// tokenizer's operations directly with small buffers over the same bytes.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "mvt_xml/xml.h"

namespace {

// The document reads a file, so every input goes through a scratch file.
const std::string& scratch_path() {
    static const std::string path = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != 0 ? base : "/tmp") + "/mvt_xml_fuzz_XXXXXX";
        const int fd = mkstemp(pattern.data());
        if (fd < 0) std::abort();
        close(fd);
        return pattern;
    }();
    return path;
}

class memory_tokenizer : public xml::tokenizer {
public:
    memory_tokenizer(const std::uint8_t* data, std::size_t size) : xml::tokenizer(nullptr), data_(data), size_(size) {}
    int getc() override { return pos_ < size_ ? data_[pos_++] : -1; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

void parse_and_dump(const std::uint8_t* data, std::size_t size) {
    FILE* f = std::fopen(scratch_path().c_str(), "wb");
    if (f == nullptr) std::abort();
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    xml::document doc(scratch_path().c_str());
    // The document holds the file open; the name can go at once, so nothing
    // is left behind however the fuzzer exits.
    unlink(scratch_path().c_str());
    doc.parse();
    std::ostringstream out;
    doc.dump(out);
    doc.elem("");
    doc.elems("a");
    doc.elems("id", "");
    if (doc.root != nullptr) doc.root->first_child(nullptr, "x", "y");
}

// The first byte picks the buffer size; every token decides the next call.
void drive_tokenizer(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return;
    const int buf_size = data[0] % 12;
    memory_tokenizer t(data + 1, size - 1);
    char buf[16];
    char* target = buf_size == 0 ? nullptr : buf;
    for (std::size_t step = 0; step <= size; ++step) {
        const int kind = t.next_token(target, buf_size);
        if (kind == -1) break;
        if (kind == '>') t.get_text(target, buf_size);
        if (kind == '=') t.capture_string(target, buf_size);
        if (kind == 'b') t.look_ahead();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    parse_and_dump(data, size);
    drive_tokenizer(data, size);
    return 0;
}
