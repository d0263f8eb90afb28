#include "common/terminal_text.h"

#include <cstdint>

#include "common/text_format.h"

namespace mvt_trace {

namespace {

void escape_byte(std::string& out, unsigned char byte) {
    static const char digits[] = "0123456789abcdef";
    out += "\\x";
    out += digits[byte >> 4];
    out += digits[byte & 15];
}

// The length of the valid UTF-8 sequence that starts text[at], or 0. C1
// controls (U+0080 to U+009F, lead byte C2) are valid UTF-8 but come back as
// 0 all the same, since terminals obey them.
std::size_t sequence_length(std::string_view text, std::size_t at) {
    const std::size_t length = utf8_length(text, at);
    const bool c1 = length == 2 && static_cast<unsigned char>(text[at]) == 0xC2 &&
                    static_cast<unsigned char>(text[at + 1]) < 0xA0;
    return c1 ? 0 : length;
}

}  // namespace

std::string printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        const auto byte = static_cast<unsigned char>(text[at]);
        if (byte >= 0x20 && byte < 0x7F) {
            out += static_cast<char>(byte);
            ++at;
        } else if (const std::size_t length = byte >= 0x80 ? sequence_length(text, at) : 0) {
            out.append(text.substr(at, length));
            at += length;
        } else {
            escape_byte(out, byte);
            ++at;
        }
    }
    return out;
}

}  // namespace mvt_trace
