#ifndef MVT_TRACE_OUTPUT_REPORT_REPORT_PAGE_H
#define MVT_TRACE_OUTPUT_REPORT_REPORT_PAGE_H

#include <functional>
#include <ostream>
#include <string>
#include <string_view>

namespace mvt_trace {

// Writes the self-contained report page: the built-in template with its style
// sheet and scripts written into it, and the page's data object, which
// `write_data` writes, in its <script type="application/json" id="mvt-data">
// element. What write_data writes must be script_safe already.
void write_report_page(const std::function<void(std::ostream&)>& write_data, std::ostream& out);

// JSON that no text inside can end or upset the script element holding it:
// "</" becomes "<\/" and "<!--" becomes "\u003c!--" (both mean the same to a
// JSON reader; both can only occur inside strings).
std::string script_safe(std::string_view json);

}  // namespace mvt_trace

#endif
