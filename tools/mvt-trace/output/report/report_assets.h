#ifndef MVT_TRACE_OUTPUT_REPORT_REPORT_ASSETS_H
#define MVT_TRACE_OUTPUT_REPORT_REPORT_ASSETS_H

#include <string_view>

namespace mvt_trace {

// A file of the report page (output/report/page/), built into the binary:
// "report.html", "report.css", "timeline.js", ... Empty for an unknown name.
std::string_view report_asset(std::string_view name);

}  // namespace mvt_trace

#endif
