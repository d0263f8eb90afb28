#include "common/terminal_text.h"

#include <cstdint>

namespace mvt_trace {

namespace {

void escape_byte(std::string& out, unsigned char byte) {
    static const char digits[] = "0123456789abcdef";
    out += "\\x";
    out += digits[byte >> 4];
    out += digits[byte & 15];
}

bool continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The length of the valid UTF-8 sequence that starts text[at], or 0. Overlong
// forms, surrogates and code points past U+10FFFF are not valid; C1 controls
// are valid UTF-8 but come back as 0 all the same, since terminals obey
// them.
std::size_t sequence_length(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    std::uint32_t point = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        point = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        point = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        point = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() - at < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if (!continuation(byte(i))) return 0;
        point = point << 6 | (byte(i) & 0x3F);
    }
    const bool overlong = (length == 3 && point < 0x800) || (length == 4 && point < 0x10000);
    const bool surrogate = point >= 0xD800 && point <= 0xDFFF;
    const bool c1 = point >= 0x80 && point <= 0x9F;
    if (overlong || surrogate || c1 || point > 0x10FFFF) return 0;
    return length;
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
