#ifndef MVT_TRACE_COMMON_JSON_TEXT_H
#define MVT_TRACE_COMMON_JSON_TEXT_H

#include <string>
#include <string_view>

namespace mvt_trace {

// A JSON string literal, quotes included: the one quoter of every JSON the
// tool writes by hand. Well
// formed UTF-8 stays as it is, so names in any script read right; any other
// byte becomes the character of that number (\u00XX), which keeps the JSON
// valid whatever the trace holds. "</" and "<!--" are written "<\/" and
// "\u003c!--", so the literal can stand inside a <script> element.
std::string json_quoted(std::string_view text);

}  // namespace mvt_trace

#endif
