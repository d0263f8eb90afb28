#ifndef MVT_TRACE_TEXT_FORMAT_H
#define MVT_TRACE_TEXT_FORMAT_H

#include <cstdint>
#include <string>
#include <string_view>

namespace mvt_trace {

// "950 ns", "12.345 us", "3.500 ms", "2.000 s": three decimals in the largest
// unit that keeps the number at 1 or more.
std::string format_duration(std::uint64_t nanoseconds);

// Nanoseconds since the epoch as "2026-12-04 00:30:52.123456789 UTC".
std::string format_utc(std::uint64_t nanoseconds);

// Nanoseconds as microseconds with three decimals, exactly ("1234.567").
std::string microseconds_text(std::uint64_t nanoseconds);

// Text for a JSON string literal, without the quotes.
std::string json_escape(std::string_view text);
// Text for XML character data and attribute values.
std::string xml_escape(std::string_view text);

}  // namespace mvt_trace

#endif
