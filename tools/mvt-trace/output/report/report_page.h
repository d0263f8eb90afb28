#ifndef MVT_TRACE_OUTPUT_REPORT_REPORT_PAGE_H
#define MVT_TRACE_OUTPUT_REPORT_REPORT_PAGE_H

#include <ostream>
#include <string>
#include <string_view>

namespace mvt_trace {

// Writes the self-contained report page: the built-in template with its style
// sheet and scripts written into it, and `data_json` (the page's data object)
// in its <script type="application/json" id="mvt-data"> element.
void write_report_page(std::string_view data_json, std::ostream& out);

// JSON that no text inside can end or upset the script element holding it:
// "</" becomes "<\/" and "<!--" becomes "\u003c!--" (both mean the same to a
// JSON reader; both can only occur inside strings).
std::string script_safe(std::string_view json);

}  // namespace mvt_trace

#endif
