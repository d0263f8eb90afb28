#include "common/text_format.h"

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

const char hex_digits[] = "0123456789abcdef";

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
    static const char digits[] = "0123456789abcdef";
    std::string text;
    do {
        text.insert(text.begin(), digits[address & 15]);
        address >>= 4;
    } while (address != 0);
    return "0x" + text;
}

std::string counted(std::uint64_t n, const std::string& one, const std::string& many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string json_escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (u < 0x20 || u >= 0x80) {
                    // Trace text is bytes of no declared encoding; escaping
                    // every non-ASCII byte keeps the JSON valid UTF-8.
                    out += "\\u00";
                    out += hex_digits[u >> 4];
                    out += hex_digits[u & 15];
                } else {
                    out += c;
                }
        }
    }
    return out;
}

std::string xml_escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        switch (c) {
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '&': out += "&amp;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default:
                // XML 1.0 forbids most control characters even as references,
                // and non-ASCII bytes may not be valid UTF-8.
                if (u >= 0x80 || (u < 0x20 && c != '\n' && c != '\t'))
                    out += '?';
                else
                    out += c;
        }
    }
    return out;
}

}  // namespace mvt_trace
