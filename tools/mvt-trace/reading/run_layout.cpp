#include "reading/run_layout.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "capture/preload/process_directory.h"
#include "common/regular_file.h"
#include "common/text_format.h"

namespace mvt_trace {

namespace {

bool exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The helper writes any byte but NUL; "\\", "\n" and "\xHH" stand for the
// ones that would break a line; a damaged one reads as what follows its
// backslash.
std::string unescaped(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
        } else if (text[i + 1] == 'n') {
            out += '\n';
            ++i;
        } else if (text[i + 1] == 'x' && i + 3 < text.size() && hex_digit(text[i + 2]) >= 0 &&
                   hex_digit(text[i + 3]) >= 0) {
            out += static_cast<char>(hex_digit(text[i + 2]) * 16 + hex_digit(text[i + 3]));
            i += 3;
        } else {
            out += text[++i];
        }
    }
    return out;
}

std::uint64_t number(const std::string& text) {
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value;
}

// The number a record run gave the directory ("012-sh" is 12), or none.
std::optional<unsigned long> start_number(const std::string& name) {
    const std::size_t dash = name.find('-');
    if (dash == 0 || dash == std::string::npos || dash > 9) return std::nullopt;
    for (std::size_t i = 0; i < dash; ++i)
        if (name[i] < '0' || name[i] > '9') return std::nullopt;
    return std::stoul(name.substr(0, dash));
}

std::string joined(const std::string& directory, const std::string& name) {
    return directory.empty() || directory.back() == '/' ? directory + name : directory + "/" + name;
}

// What the helper left beside a process's trace files: where its modules
// lie, and the facts that name it.
void describe_process(traced_process& process) {
    const std::string& directory = process.directory;
    std::string ignored;
    const std::string modules = joined(directory, MVT_MODULES_FILE);
    if (exists(modules)) process.module_map = modules;
    process_facts facts;
    const std::string facts_path = joined(directory, MVT_PROCESS_FILE);
    if (exists(facts_path) && read_process_facts(facts_path, facts, ignored)) {
        // The name it was started by, else its file, else the name its
        // directory was given.
        std::string_view program = facts.arguments.empty() ? "" : base_name(facts.arguments[0]);
        if (program.empty()) program = base_name(facts.executable);
        if (program.empty()) program = base_name(directory).substr(base_name(directory).find('-') + 1);
        process.label = std::string(program) + " (pid " + std::to_string(facts.pid) + ")";
        process.facts = std::move(facts);
    }
}

// The directory, its trace files (possibly none), and what the helper left
// beside them.
traced_process read_process(const std::string& directory, std::vector<ignored_entry>& passed_over) {
    traced_process process{directory, directory, {}, {}, {}};
    std::string ignored;
    list_trace_files(directory, process.files, passed_over, ignored);
    describe_process(process);
    return process;
}

// The process directories of a record run, in the order they were claimed.
std::vector<std::string> process_directories(const std::string& run) {
    std::vector<std::pair<unsigned long, std::string>> found;
    DIR* dir = ::opendir(run.c_str());
    if (dir == nullptr) return {};
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        const std::optional<unsigned long> n = start_number(name);
        if (n && exists(joined(joined(run, name), MVT_PROCESS_FILE))) found.emplace_back(*n, name);
        else if (n && exists(joined(run, name) + "/_mvt.0")) found.emplace_back(*n, name);
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end());
    std::vector<std::string> paths;
    for (const auto& [n, name] : found) paths.push_back(joined(run, name));
    return paths;
}

}  // namespace

bool read_process_facts(const std::string& path, process_facts& facts, std::string& error) {
    std::istringstream in;
    if (!read_format_file(path, "a process file", std::size_t{16} << 20, "mvt-process 1", in, error)) return false;
    std::string line;
    facts = process_facts{};
    while (std::getline(in, line)) {
        const std::size_t space = line.find(' ');
        const std::string key = line.substr(0, space);
        const std::string value = space == std::string::npos ? "" : line.substr(space + 1);
        if (key == "pid") facts.pid = static_cast<long>(number(value));
        else if (key == "parent") facts.parent = static_cast<long>(number(value));
        else if (key == "exec-of" || key == "child-of" || key == "descendant-of" || key == "reload-of") {
            facts.relation = key;
            facts.related = value;
        } else if (key == "started") facts.started = number(value);
        else if (key == "executable") facts.executable = unescaped(value);
        else if (key == "arg") facts.arguments.push_back(unescaped(value));
        else if (key == "ended") {
            // "ended HOW TIME [NEXT]"; the last one counts.
            const std::size_t second = value.find(' ');
            const std::size_t third = second == std::string::npos ? second : value.find(' ', second + 1);
            facts.ending = value.substr(0, second);
            facts.ended = second == std::string::npos ? 0 : number(value.substr(second + 1));
            facts.next = third == std::string::npos ? "" : value.substr(third + 1);
        } else if (key == "exec-failed") {
            // The exec it announced never happened; the image went on.
            facts.ending.clear();
            facts.ended = 0;
            facts.next.clear();
        }
        // Keys added by later versions of the helper are passed over.
    }
    return true;
}

std::vector<trace_file> run_layout::files() const {
    std::vector<trace_file> all;
    for (const traced_process& process : processes) all.insert(all.end(), process.files.begin(), process.files.end());
    return all;
}

std::vector<std::string> run_layout::directories() const {
    std::vector<std::string> all;
    for (const traced_process& process : processes) all.push_back(process.directory);
    return all;
}

bool read_run_layout(const std::vector<std::string>& paths, run_layout& layout, std::string& error) {
    layout = run_layout{};
    for (const std::string& path : paths) {
        std::vector<trace_file> files;
        std::vector<ignored_entry> ignored;
        if (list_trace_files(path, files, ignored, error)) {
            layout.ignored.insert(layout.ignored.end(), ignored.begin(), ignored.end());
            traced_process process{path, path, std::move(files), {}, {}};
            if (is_directory(path)) describe_process(process);
            layout.processes.push_back(std::move(process));
            continue;
        }
        if (!is_directory(path)) return false;
        const std::vector<std::string> directories = process_directories(path);
        if (directories.empty()) return false;  // list_trace_files said why
        for (const std::string& directory : directories) {
            traced_process process = read_process(directory, layout.ignored);
            (process.files.empty() ? layout.untraced : layout.processes).push_back(std::move(process));
        }
    }
    if (layout.processes.empty()) {
        error = "no process of " + (paths.size() == 1 ? paths[0] : std::string("the run")) +
                " left a trace (its process directories hold no _mvt.N files)";
        return false;
    }
    for (std::size_t p = 0; p < layout.processes.size(); ++p)
        for (trace_file& file : layout.processes[p].files) file.process = p;
    return true;
}

}  // namespace mvt_trace
