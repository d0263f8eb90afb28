#include "trace_reader.h"

#include <thread>

#include "files.h"

namespace mvt_test {

namespace {

bool starts_with(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }
bool ends_with(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

class line_parser {
public:
    line_parser(std::vector<std::string> lines, trace_file& out) : lines_(std::move(lines)), out_(out) {}

    void run() {
        if (lines_.size() < 2) return fail("missing header");
        out_.header = {lines_[0], lines_[1]};
        pos_ = 2;
        while (pos_ < lines_.size() && out_.error.empty()) {
            const std::string& line = lines_[pos_];
            if (line == "</trace>") {
                out_.closed = true;
                if (++pos_ != lines_.size()) fail("lines after </trace>");
                return;
            }
            if (line != "<record>") return fail("expected <record>, got '" + line + "'");
            ++pos_;
            read_record();
        }
    }

private:
    void fail(const std::string& what) {
        if (out_.error.empty()) out_.error = "line " + std::to_string(pos_ + 1) + ": " + what;
    }

    void read_record() {
        trace_record record;
        while (pos_ < lines_.size()) {
            const std::string& line = lines_[pos_];
            if (line == "</record>") {
                ++pos_;
                out_.records.push_back(std::move(record));
                return;
            }
            if (line == "<compound_field>") {
                record.fields.push_back(read_id());
            } else if (starts_with(line, "<field>")) {
                record.fields.push_back(read_text());
            } else {
                return fail("unexpected line '" + line + "' in a record");
            }
            if (!out_.error.empty()) return;
        }
        fail("record cut short");
    }

    trace_field read_text() {
        trace_field field;
        std::string text = lines_[pos_].substr(7);
        while (!ends_with(text, "</field>")) {
            if (++pos_ >= lines_.size()) {
                fail("field cut short");
                return field;
            }
            text += "\n" + lines_[pos_];
        }
        ++pos_;
        field.text = text.substr(0, text.size() - 8);
        return field;
    }

    trace_field read_id() {
        trace_field field;
        field.is_id = true;
        ++pos_;
        for (unsigned long long& word : field.id) {
            if (pos_ >= lines_.size() || !starts_with(lines_[pos_], "<field>")) {
                fail("identifier word expected");
                return field;
            }
            word = std::stoull(read_text().text);
        }
        if (pos_ >= lines_.size() || lines_[pos_] != "</compound_field>") fail("</compound_field> expected");
        ++pos_;
        return field;
    }

    std::vector<std::string> lines_;
    trace_file& out_;
    size_t pos_ = 0;
};

}  // namespace

std::vector<const trace_record*> trace_file::named(const std::string& name) const {
    std::vector<const trace_record*> result;
    for (const trace_record& r : records)
        if (r.name() == name) result.push_back(&r);
    return result;
}

trace_file parse_trace(const std::string& path) {
    trace_file file;
    line_parser(read_lines(path), file).run();
    return file;
}

bool has_expected_layout(const trace_record& record) {
    // 'n' a number or text field, 'i' an identifier, after name and timestamp.
    static const std::pair<const char*, const char*> layouts[] = {
        {"domain_createA", "nnn"}, {"string_handle_createA", "nnn"}, {"id_create", "ni"},
        {"id_destroy", "ni"},      {"metadata", "ninnnn"},           {"metadata_stringA", "ninnn"},
        {"relation", "nini"},      {"task_begin", "niinn"},          {"task_end", "n"},
        {"task_group", "niin"},    {"region_begin", "niin"},         {"region_end", "ni"},
        {"end_of_records", ""},
    };
    for (const auto& [name, kinds] : layouts) {
        if (record.name() != name) continue;
        std::string layout(kinds);
        if (record.fields.size() != layout.size() + 2 || record.fields[1].is_id) return false;
        for (size_t i = 0; i < layout.size(); ++i)
            if (record.fields[i + 2].is_id != (layout[i] == 'i')) return false;
        return true;
    }
    return false;
}

std::string expected_trace_header_line() {
    return "<trace version=\"0\" ts_frequency=\"1000000000\" hardware_concurrency=\"" +
           std::to_string(std::thread::hardware_concurrency()) + "\">";
}

}  // namespace mvt_test
