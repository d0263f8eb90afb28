#include "common/text_format.h"

#include <charconv>
#include <ctime>

namespace mvt_trace {

namespace {

std::string with_three_decimals(std::uint64_t value, std::uint64_t unit) {
    // Rounds to the nearest thousandth of the unit without going through
    // floating point, so large counts print exactly.
    std::uint64_t thousandths_unit = unit / 1000;
    std::uint64_t scaled = value / thousandths_unit + (value % thousandths_unit >= (thousandths_unit + 1) / 2 ? 1 : 0);
    std::string fraction = std::to_string(scaled % 1000);
    return std::to_string(scaled / 1000) + "." + std::string(3 - fraction.size(), '0') + fraction;
}


}  // namespace

std::string format_duration(std::uint64_t ns) {
    if (ns < 1000) return std::to_string(ns) + " ns";
    if (ns < 1000000) return with_three_decimals(ns, 1000) + " us";
    if (ns < 1000000000) return with_three_decimals(ns, 1000000) + " ms";
    return with_three_decimals(ns, 1000000000) + " s";
}

std::string format_utc(std::uint64_t ns) {
    std::time_t seconds = static_cast<std::time_t>(ns / 1000000000);
    std::tm parts{};
    if (gmtime_r(&seconds, &parts) == nullptr) return std::to_string(ns) + " ns";
    char text[64];
    std::string fraction = std::to_string(ns % 1000000000);
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return std::string(text) + "." + std::string(9 - fraction.size(), '0') + fraction + " UTC";
}

std::string microseconds_text(std::uint64_t ns) {
    std::string fraction = std::to_string(ns % 1000);
    return std::to_string(ns / 1000) + "." + std::string(3 - fraction.size(), '0') + fraction;
}

std::string hex_address(std::uint64_t address) {
    char text[2 + 16] = {'0', 'x'};
    const char* end = std::to_chars(text + 2, text + sizeof text, address, 16).ptr;
    return std::string(text, static_cast<std::size_t>(end - text));
}

std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string_view base_name(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string counted(std::uint64_t n, const std::string& one, const std::string& many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string xml_escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '&': out += "&amp;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default:
                // XML 1.0 forbids most control characters even as references;
                // bytes that are not UTF-8 cannot stand in the document.
                if (u >= 0x80) {
                    const std::size_t length = utf8_length(text, i);
                    if (length == 0) {
                        out += '?';
                    } else {
                        out.append(text.substr(i, length));
                        i += length - 1;
                    }
                } else if (u < 0x20 && c != '\n' && c != '\t') {
                    out += '?';
                } else {
                    out += c;
                }
        }
    }
    return out;
}

}  // namespace mvt_trace

namespace mvt_trace {

std::size_t utf8_length(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = lead >= 0xf0 && lead <= 0xf4 ? 4 : lead >= 0xe0 && lead <= 0xef ? 3 : lead >= 0xc2 && lead <= 0xdf ? 2 : 0;
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

}  // namespace mvt_trace
