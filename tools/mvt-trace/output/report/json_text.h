#ifndef MVT_TRACE_OUTPUT_REPORT_JSON_TEXT_H
#define MVT_TRACE_OUTPUT_REPORT_JSON_TEXT_H

#include <string>
#include <string_view>

namespace mvt_trace {

// A JSON string literal, quotes included, for text shown in the page. Well
// formed UTF-8 stays as it is, so names in any script read right; any other
// byte becomes the character of that number (\u00XX), which keeps the JSON
// valid whatever the trace holds. "</" and "<!--" are written "<\/" and
// "\u003c!--", so the literal can stand inside a <script> element.
std::string json_quoted(std::string_view text);

// The length of the well-formed UTF-8 sequence of two to four bytes that
// starts at text[i], or 0 (a byte below 0x80 is not counted as one).
std::size_t utf8_length(std::string_view text, std::size_t i);

}  // namespace mvt_trace

#endif
