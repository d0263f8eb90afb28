// Parses arbitrary bytes as a document and dumps the result, then drives the
// tokenizer's operations directly with small buffers over the same bytes, and
// plays the bytes as edits on an attribute map and on std::map side by side.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
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
    const xml::document& view = doc;
    if (view.elem("") != doc.elem("")) std::abort();
    if (view.elems("a").size() != doc.elems("a").size()) std::abort();
    if (view.elems("id", "").size() != doc.elems("id", "").size()) std::abort();
    if (view.elems("a", "id", "").size() != doc.elems("a", "id", "").size()) std::abort();
    if (doc.root != nullptr) doc.root->first_child(nullptr, "x", "y");
    std::ostringstream again;
    view.dump(again);
    if (again.str() != out.str()) std::abort();
}

// Each edit takes a byte for the operation and the key's length, then up to
// two bytes of key; keys are short so that edits meet the same names often.
void drive_attribute_map(const std::uint8_t* data, std::size_t size) {
    xml::attribute_map map;
    std::map<std::string, std::string> reference;
    for (std::size_t i = 0; i < size;) {
        const int op = data[i] % 4;
        const std::size_t key_length = std::min<std::size_t>((data[i] >> 2) % 3, size - i - 1);
        const std::string key(reinterpret_cast<const char*>(data + i + 1), key_length);
        const std::string value = std::to_string(i) + std::string(data[i] >> 4, 'v');
        i += 1 + key_length;
        switch (op) {
        case 0:
            map.insert_or_assign(key, value);
            reference.insert_or_assign(key, value);
            break;
        case 1:
            map[key] += value;
            reference[key] += value;
            break;
        case 2:
            if (map.erase(key) != reference.erase(key)) std::abort();
            break;
        default:
            if (map.count(key) != reference.count(key)) std::abort();
            if (map.count(key) != 0 && map.find(key)->second != reference.find(key)->second) std::abort();
        }
    }
    const xml::attribute_map copy = map;
    if (copy.size() != reference.size() || !std::equal(copy.begin(), copy.end(), reference.begin(), reference.end(),
                                                     [](const auto& a, const auto& b) {
                                                         return a.first == b.first && a.second == b.second;
                                                     })) {
        std::abort();
    }
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
    drive_attribute_map(data, size);
    return 0;
}
