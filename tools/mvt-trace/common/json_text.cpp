#include "common/json_text.h"

#include <cstdint>

#include "common/text_format.h"

namespace mvt_trace {

namespace {

const char hex_digits[] = "0123456789abcdef";

void escape_byte(unsigned char byte, std::string& out) {
    out += "\\u00";
    out += hex_digits[byte >> 4];
    out += hex_digits[byte & 15];
}

}  // namespace

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
