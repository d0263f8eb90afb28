#include "reading/trace_file_reader.h"

namespace mvt_trace {

const char* status_name(file_status status) {
    switch (status) {
        case file_status::whole: return "whole";
        case file_status::truncated: return "truncated";
        case file_status::malformed: return "malformed";
        case file_status::unreadable: return "unreadable";
    }
    return "?";
}

std::string problem_line(const file_report& report) {
    std::string line = report.path;
    if (report.line != 0) line += ":" + std::to_string(report.line);
    line += ": ";
    if (report.status == file_status::malformed) line += "malformed: ";
    return line + report.message;
}

trace_file_reader::trace_file_reader(const std::string& path, std::size_t buffer_size) : lines_(buffer_size) {
    report_.path = path;
    if (!lines_.open(path)) {
        report_.status = file_status::unreadable;
        report_.message = "cannot open: " + lines_.error();
        done_ = true;
    }
}

bool trace_file_reader::next(const trace_record*& record) {
    if (done_) return false;
    std::string_view line;
    for (;;) {
        if (!lines_.next(line)) break;
        if (!lines_.ended_with_line_feed()) {
            // Every line is written whole, so a last line without its line
            // feed is a write cut short by the end of the process.
            report_.status = file_status::truncated;
            report_.line = lines_.line_number();
            report_.message = "truncated: the last line has no line feed, where the file should have " +
                              parser_.expectation();
            break;
        }
        record_parser::outcome got = parser_.feed(line, lines_.line_number());
        if (got == record_parser::outcome::record_done) {
            record = &parser_.record();
            report_.whole_records = parser_.whole_records();
            report_.bytes = lines_.bytes_consumed();
            return true;
        }
        if (got == record_parser::outcome::failed) {
            report_.status = file_status::malformed;
            report_.line = lines_.line_number();
            report_.message = parser_.problem();
            break;
        }
    }
    if (report_.status == file_status::whole) finish_at_end();
    report_.header_read = parser_.header_read();
    report_.hardware_concurrency = parser_.hardware_concurrency();
    report_.whole_records = parser_.whole_records();
    report_.bytes = lines_.bytes_consumed();
    done_ = true;
    return false;
}

void trace_file_reader::finish_at_end() {
    if (!lines_.error().empty()) {
        report_.status = lines_.line_too_long() ? file_status::malformed : file_status::unreadable;
        report_.line = lines_.line_number() + 1;
        report_.message = lines_.line_too_long() ? lines_.error() : "read error: " + lines_.error();
    } else if (!parser_.finished()) {
        report_.status = file_status::truncated;
        report_.line = lines_.line_number() + 1;
        report_.message = "truncated: the file ends where it should have " + parser_.expectation();
    }
}

}  // namespace mvt_trace
