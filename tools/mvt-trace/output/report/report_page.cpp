#include "output/report/report_page.h"

#include "output/report/report_assets.h"

namespace mvt_trace {

namespace {

constexpr std::string_view include_marker = "<!--@include ";
constexpr std::string_view data_marker = "<!--@data-->";
constexpr std::string_view marker_end = "-->";

}  // namespace

std::string script_safe(std::string_view json) {
    std::string safe;
    safe.reserve(json.size() + json.size() / 64);
    for (std::size_t i = 0; i < json.size(); ++i) {
        if (json[i] == '<' && json.compare(i, 2, "</") == 0) {
            safe += "<\\/";
            ++i;
        } else if (json[i] == '<' && json.compare(i, 4, "<!--") == 0) {
            safe += "\\u003c";
        } else {
            safe += json[i];
        }
    }
    return safe;
}

// The template names its parts by marker: <!--@include report.css--> takes the
// place of that file, <!--@data--> of the data.
void write_report_page(const std::function<void(std::ostream&)>& write_data, std::ostream& out) {
    const std::string_view page = report_asset("report.html");
    std::size_t done = 0;
    while (done < page.size()) {
        const std::size_t marker = page.find("<!--@", done);
        if (marker == std::string_view::npos) break;
        out << page.substr(done, marker - done);
        const std::size_t end = page.find(marker_end, marker);
        if (end == std::string_view::npos) break;
        if (page.compare(marker, data_marker.size(), data_marker) == 0) {
            write_data(out);
        } else if (page.compare(marker, include_marker.size(), include_marker) == 0) {
            const std::size_t name_start = marker + include_marker.size();
            out << report_asset(page.substr(name_start, end - name_start));
        }
        done = end + marker_end.size();
    }
    out << page.substr(std::min(done, page.size()));
}

}  // namespace mvt_trace
