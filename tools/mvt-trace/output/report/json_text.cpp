#include "output/report/json_text.h"

#include <cstdint>

namespace mvt_trace {

namespace {

const char hex_digits[] = "0123456789abcdef";

void escape_byte(unsigned char byte, std::string& out) {
    out += "\\u00";
    out += hex_digits[byte >> 4];
    out += hex_digits[byte & 15];
}

}  // namespace

std::size_t utf8_length(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = lead >= 0xf0 && lead <= 0xf4 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc2 && lead <= 0xdf ? 2 : 0;
    if (length == 0 || i + length > text.size()) return 0;
    std::uint32_t code = lead & (length == 2 ? 0x1f : length == 3 ? 0x0f : 0x07);
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xc0) != 0x80) return 0;
        code = code << 6 | (byte(i + k) & 0x3f);
    }
    // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
    const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
    if (overlong || (code >= 0xd800 && code <= 0xdfff) || code > 0x10ffff) return 0;
    return length;
}

std::string json_quoted(std::string_view text) {
    std::string out = "\"";
    out.reserve(text.size() + 2);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        switch (c) {
            case '"': out += "\\\""; continue;
            case '\\': out += "\\\\"; continue;
            case '\n': out += "\\n"; continue;
            case '\r': out += "\\r"; continue;
            case '\t': out += "\\t"; continue;
            default: break;
        }
        if (c == '<' && (text.substr(i, 2) == "</" || text.substr(i, 4) == "<!--")) {
            out += text[i + 1] == '/' ? "<\\/" : "\\u003c";
            if (text[i + 1] == '/') ++i;
        } else if (c < 0x20 || c == 0x7f) {
            escape_byte(c, out);
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (const std::size_t length = utf8_length(text, i); length > 0) {
            out.append(text.substr(i, length));
            i += length - 1;
        } else {
            escape_byte(c, out);
        }
    }
    return out + "\"";
}

}  // namespace mvt_trace
