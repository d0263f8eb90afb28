#include "trace_script.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdint>
#include <map>
#include <sstream>
#include <stdexcept>

#include "files.h"
#include "reading/record_catalogue.h"

namespace mvt_tool_test {

namespace {

using mvt_trace::field_kind;
using mvt_trace::record_kind;

constexpr std::uint64_t time_origin = 1796347852000000000ull;

struct file_text {
    std::string records;
    std::uint64_t first = UINT64_MAX, last = 0;
    bool cut = false;
};

struct process_text {
    std::map<unsigned, file_text> files;
    std::vector<std::pair<std::string, bool>> names;  // name, is a domain; in order of first use
    std::map<std::string, std::uint64_t> addresses;
};

std::string field(const std::string& v) { return "<field>" + v + "</field>\n"; }

std::uint64_t parse_time(const std::string& token) {
    std::size_t digits = 0;
    const std::uint64_t value = std::stoull(token, &digits);
    const std::string unit = token.substr(digits);
    if (unit.empty() || unit == "ns") return value;
    if (unit == "us") return value * 1000;
    if (unit == "ms") return value * 1000000;
    throw std::runtime_error("bad time " + token);
}

std::string id_field(const std::string& token) {
    std::string words[3] = {"0", "0", "0"};
    std::istringstream in(token);
    for (int i = 0; i < 3 && std::getline(in, words[i], '.'); ++i) {}
    return "<compound_field>\n" + field(words[0]) + field(words[1]) + field(words[2]) + "</compound_field>\n";
}

std::string relation_code(const std::string& token) {
    static const std::map<std::string, int> codes = {{"dependent_on", 1}, {"sibling_of", 2},   {"parent_of", 3},
                                                     {"continuation_of", 4}, {"child_of", 5}, {"continued_by", 6},
                                                     {"predecessor_to", 7}};
    auto found = codes.find(token);
    return found == codes.end() ? token : std::to_string(found->second);
}

bool is_number(const std::string& token) {
    return !token.empty() && std::isdigit(static_cast<unsigned char>(token[0]));
}

std::string address_of(process_text& process, std::size_t index, const std::string& name, bool domain) {
    auto [at, added] = process.addresses.emplace(name, 0x10000 * (index + 1) + 0x40 * process.addresses.size());
    if (added) process.names.push_back({name, domain});
    return std::to_string(at->second);
}

std::string record_text(process_text& process, std::size_t index, record_kind kind, std::uint64_t time,
                        std::istringstream& tokens) {
    const mvt_trace::record_layout& layout = mvt_trace::layout_of(kind);
    std::string text = "<record>\n" + field(std::string(layout.name)) + field(std::to_string(time_origin + time));
    for (std::size_t i = 0; i < layout.field_count; ++i) {
        std::string token;
        if (layout.fields[i] == field_kind::narrow_text) {
            std::getline(tokens >> std::ws, token);
            text += field(token);
            continue;
        }
        if (!(tokens >> token)) token = "0";
        if (layout.fields[i] == field_kind::identifier)
            text += id_field(token);
        else if (layout.fields[i] == field_kind::small_int && kind == record_kind::relation)
            text += field(relation_code(token));
        else if (is_number(token))
            text += field(token);
        else
            text += field(address_of(process, index, token, i == 0));
    }
    return text + "</record>\n";
}

std::string creation_records(const process_text& process, std::uint64_t time) {
    std::string text;
    for (const auto& [name, domain] : process.names)
        text += "<record>\n" + field(domain ? "domain_createA" : "string_handle_createA") +
                field(std::to_string(time_origin + time)) + field(std::to_string(process.addresses.at(name))) +
                field(std::to_string(name.size())) + field(name) + "</record>\n";
    return text;
}

}  // namespace

std::vector<std::string> write_trace_script(const std::string& script, const std::string& dir) {
    std::vector<process_text> processes(1);
    file_text* current = &processes[0].files[0];
    std::istringstream lines(script);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream tokens(line);
        std::string first;
        if (!(tokens >> first) || first[0] == '#') continue;
        if (first == "process") {
            processes.emplace_back();
            current = &processes.back().files[0];
        } else if (first == "thread") {
            unsigned index = 0;
            tokens >> index;
            current = &processes.back().files[index];
        } else if (first == "cut") {
            current->cut = true;
        } else {
            std::string name;
            tokens >> name;
            record_kind kind;
            if (!mvt_trace::find_record_kind(name, kind)) throw std::runtime_error("bad record: " + line);
            const std::uint64_t time = parse_time(first);
            current->records += record_text(processes.back(), processes.size() - 1, kind, time, tokens);
            current->first = std::min(current->first, time);
            current->last = std::max(current->last, time);
        }
    }
    std::vector<std::string> directories;
    for (std::size_t p = 0; p < processes.size(); ++p) {
        const std::string path = dir + "/p" + std::to_string(p);
        ::mkdir(path.c_str(), 0755);
        directories.push_back(path);
        bool first_file = true;
        for (const auto& [index, file] : processes[p].files) {
            const std::uint64_t start = file.first == UINT64_MAX ? 0 : file.first;
            std::string text = "<?xml version=\"1.0\"?>\n<trace version=\"0\" ts_frequency=\"1000000000\" "
                               "hardware_concurrency=\"2\">\n";
            if (first_file) text += creation_records(processes[p], start);
            text += file.records;
            if (!file.cut)
                text += "<record>\n" + field("end_of_records") + field(std::to_string(time_origin + file.last)) +
                        "</record>\n</trace>\n";
            mvt_test::write_file(path + "/_mvt." + std::to_string(index), text);
            first_file = false;
        }
    }
    return directories;
}

std::vector<std::string> write_trace_script_here(const std::string& script, const std::string& dir) {
    std::vector<std::string> directories = write_trace_script(script, dir);
    for (std::string& d : directories) d = d.substr(dir.size() + 1);
    return directories;
}

mvt_trace::run_layout scripted_layout(const std::string& script, const std::string& dir) {
    mvt_trace::run_layout layout;
    std::string error;
    if (!mvt_trace::read_run_layout(write_trace_script(script, dir), layout, error)) throw std::runtime_error(error);
    return layout;
}

}  // namespace mvt_tool_test
