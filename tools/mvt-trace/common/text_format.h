#ifndef MVT_TRACE_TEXT_FORMAT_H
#define MVT_TRACE_TEXT_FORMAT_H

#include <cstdint>
#include <string>
#include <string_view>

namespace mvt_trace {

inline bool starts_with(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}
inline bool ends_with(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// "950 ns", "12.345 us", "3.500 ms", "2.000 s": three decimals in the largest
// unit that keeps the number at 1 or more.
std::string format_duration(std::uint64_t nanoseconds);

// Nanoseconds since the epoch as "2026-12-04 00:30:52.123456789 UTC".
std::string format_utc(std::uint64_t nanoseconds);

// Nanoseconds as microseconds with three decimals, exactly ("1234.567").
std::string microseconds_text(std::uint64_t nanoseconds);

// "0x55d4a1b2c3d4".
std::string hex_address(std::uint64_t address);

// A number with that many decimals: "6.53".
std::string fixed(double value, int decimals);

// The last name of a path, trailing slashes aside: "b" of "a/b" and "a/b/".
std::string_view base_name(std::string_view path);

// "1 file", "3 files": the count and the word that fits it.
std::string counted(std::uint64_t n, const std::string& one, const std::string& many);

// The length of the well-formed UTF-8 sequence of two to four bytes that
// starts at text[i], or 0 (a byte below 0x80 is not counted as one).
std::size_t utf8_length(std::string_view text, std::size_t i);

// Text for XML character data and attribute values; well-formed UTF-8 stays.
std::string xml_escape(std::string_view text);

}  // namespace mvt_trace

#endif
