#include "trace_records.h"

#include <sys/stat.h>

#include <cctype>

#include "files.h"

namespace mvt_test {
namespace {

const std::string header_1 = "<?xml version=\"1.0\"?>";
const std::string header_2_prefix = "<trace version=\"0\" ts_frequency=\"1000000000\" hardware_concurrency=\"";

bool starts_with(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

bool is_number(const std::string& s) {
    if (s.empty() || s.size() > 20) {
        return false;
    }
    for (char c : s) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

// Returns the text of a "<field>...</field>" line, or false.
bool field_text(const std::string& line, std::string& text) {
    static const std::string open = "<field>", close = "</field>";
    if (!starts_with(line, open) || line.size() < open.size() + close.size() ||
        line.compare(line.size() - close.size(), close.size(), close) != 0) {
        return false;
    }
    text = line.substr(open.size(), line.size() - open.size() - close.size());
    return true;
}

class line_reader {
public:
    explicit line_reader(std::vector<std::string> lines) : lines_(std::move(lines)) {}
    bool done() const { return at_ >= lines_.size(); }
    const std::string& peek() const { return lines_[at_]; }
    std::string take() { return lines_[at_++]; }
    size_t line_number() const { return at_ + 1; }

private:
    std::vector<std::string> lines_;
    size_t at_ = 0;
};

bool read_compound(line_reader& in, std::string& out) {
    std::string parts[3];
    for (std::string& part : parts) {
        if (in.done() || !field_text(in.take(), part) || !is_number(part)) {
            return false;
        }
    }
    if (in.done() || in.take() != "</compound_field>") {
        return false;
    }
    out = id_text(std::stoull(parts[0]), std::stoull(parts[1]), std::stoull(parts[2]));
    return true;
}

std::string read_record(line_reader& in, trace_record& record) {
    std::string timestamp;
    if (in.done() || !field_text(in.take(), record.name) || in.done() || !field_text(in.take(), timestamp)) {
        return "record without name and timestamp";
    }
    if (!is_number(timestamp) || timestamp.size() != 19) {
        return "bad timestamp '" + timestamp + "'";
    }
    while (!in.done()) {
        const std::string line = in.take();
        std::string text;
        if (line == "</record>") {
            return "";
        }
        if (line == "<compound_field>") {
            if (!read_compound(in, text)) {
                return "bad identifier";
            }
        } else if (!field_text(line, text)) {
            return "unexpected line '" + line + "'";
        }
        record.fields.push_back(text);
    }
    return "unterminated record";
}

std::string read_records(line_reader& in, std::vector<trace_record>& records) {
    while (!in.done() && in.peek() == "<record>") {
        in.take();
        trace_record record;
        std::string error = read_record(in, record);
        if (!error.empty()) {
            return error + " near line " + std::to_string(in.line_number());
        }
        records.push_back(record);
    }
    if (in.done() || in.take() != "</trace>" || !in.done()) {
        return "missing </trace> as the last line";
    }
    if (records.empty() || records.back().name != "end_of_records" || !records.back().fields.empty()) {
        return "missing end_of_records";
    }
    records.pop_back();
    return "";
}

bool file_exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

std::string render(const trace_record& record, const std::map<std::string, std::string>& names) {
    std::string out = record.name;
    for (const std::string& field : record.fields) {
        auto named = names.find(field);
        out += ' ';
        out += named != names.end() ? "@" + named->second : field;
    }
    return out;
}

}  // namespace

std::string id_text(unsigned long long d1, unsigned long long d2, unsigned long long d3) {
    return "{" + std::to_string(d1) + "," + std::to_string(d2) + "," + std::to_string(d3) + "}";
}

trace_file parse_trace_file(const std::string& path) {
    trace_file file;
    line_reader in(read_lines(path));
    if (in.done() || in.take() != header_1 || in.done() || !starts_with(in.take(), header_2_prefix)) {
        file.error = path + ": bad header";
        return file;
    }
    std::string error = read_records(in, file.records);
    if (!error.empty()) {
        file.error = path + ": " + error;
    }
    return file;
}

trace read_trace(const std::string& dir) {
    trace result;
    for (size_t index = 0; file_exists(dir + "/_mvt." + std::to_string(index)); ++index) {
        result.files.push_back(parse_trace_file(dir + "/_mvt." + std::to_string(index)));
        const trace_file& file = result.files.back();
        if (result.error.empty()) {
            result.error = file.error;
        }
        for (const trace_record& record : file.records) {
            if ((record.name == "domain_createA" || record.name == "string_handle_createA") &&
                record.fields.size() == 3) {
                result.names[record.fields[0]] = record.fields[2];
            }
        }
    }
    if (result.files.empty() && result.error.empty()) {
        result.error = dir + ": no trace files";
    }
    return result;
}

std::vector<std::string> trace::rendered(size_t file) const {
    std::vector<std::string> out;
    if (file < files.size()) {
        for (const trace_record& record : files[file].records) {
            out.push_back(render(record, names));
        }
    }
    return out;
}

std::vector<std::string> trace::all_rendered() const {
    std::vector<std::string> out;
    for (size_t file = 0; file < files.size(); ++file) {
        std::vector<std::string> part = rendered(file);
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

}  // namespace mvt_test
