#include "symbols/symbol_resolver.h"

#include <elf.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "common/regular_file.h"
#include "common/text_format.h"

extern char** environ;

namespace mvt_trace {

namespace {

bool runnable(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::string in_path(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream directories(path != nullptr ? path : "/usr/bin:/bin");
    std::string directory;
    while (std::getline(directories, directory, ':'))
        if (!directory.empty() && runnable(directory + "/" + name)) return directory + "/" + name;
    return "";
}

std::string find_symbolizer(const std::string& requested) {
    if (!requested.empty()) return requested;
    if (const char* named = std::getenv("LLVM_SYMBOLIZER_PATH"); named != nullptr && *named != '\0') return named;
    for (const char* name : {"llvm-symbolizer", "llvm-symbolizer-14"})
        if (std::string found = in_path(name); !found.empty()) return found;
    return "/usr/lib/llvm-14/bin/llvm-symbolizer";
}

// The PT_LOAD segments of a 64-bit ELF file: what turns a file offset into
// the address the file's symbols and line tables use.
template <typename Segment>
bool read_load_segments(const std::string& path, std::vector<Segment>& segments) {
    // The path comes from a module map: anything but a regular file is
    // refused before it is read.
    std::string reason;
    const int fd = open_regular_file(path, "a module", reason);
    if (fd < 0) return false;
    ::close(fd);
    std::ifstream in(path, std::ios::binary);
    Elf64_Ehdr header{};
    if (!in.read(reinterpret_cast<char*>(&header), sizeof header) ||
        std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64 ||
        header.e_phentsize != sizeof(Elf64_Phdr))
        return false;
    in.seekg(static_cast<std::streamoff>(header.e_phoff));
    for (unsigned i = 0; i < header.e_phnum; ++i) {
        Elf64_Phdr program{};
        if (!in.read(reinterpret_cast<char*>(&program), sizeof program)) return false;
        if (program.p_type == PT_LOAD) segments.push_back({program.p_offset, program.p_filesz, program.p_vaddr});
    }
    return !segments.empty();
}

// Runs the symbolizer with `input` as its standard input and returns its
// standard output. The input goes through an in-memory file rather than a
// pipe, so a large batch cannot stall the two processes on each other's
// full pipes. `missing` tells a symbolizer that could not be run.
bool run_symbolizer(const std::string& program, const std::string& input, std::string& output, bool& missing) {
    missing = false;
    const int in = ::memfd_create("mvt-trace-addresses", MFD_CLOEXEC);
    if (in < 0) return false;
    bool ok = ::write(in, input.data(), input.size()) == static_cast<ssize_t>(input.size()) &&
              ::lseek(in, 0, SEEK_SET) == 0;
    int out[2] = {-1, -1};
    ok = ok && ::pipe2(out, O_CLOEXEC) == 0;
    pid_t child = -1;
    if (ok) {
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawn_file_actions_adddup2(&actions, in, 0);
        ::posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        ::posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        std::vector<std::string> words = {program, "--output-style=JSON", "--inlines", "--demangle",
                                          "--functions=linkage"};
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        const int started = ::posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
        ::posix_spawn_file_actions_destroy(&actions);
        if (started != 0) {
            missing = true;
            child = -1;
            ok = false;
        }
    }
    ::close(in);
    if (out[1] >= 0) ::close(out[1]);
    if (ok) {
        char buffer[65536];
        ssize_t got;
        while ((got = ::read(out[0], buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR))
            if (got > 0) output.append(buffer, static_cast<std::size_t>(got));
    }
    if (out[0] >= 0) ::close(out[0]);
    if (child > 0) {
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        // posix_spawn may report a program it could not run only through
        // the child's exit status.
        if (WIFEXITED(status) && WEXITSTATUS(status) == 127 && output.empty()) missing = true;
        ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    return ok;
}

source_frame frame_of(const nlohmann::json& symbol) {
    source_frame frame;
    frame.function = symbol.value("FunctionName", "");
    frame.file = symbol.value("FileName", "");
    frame.line = symbol.value("Line", 0u);
    if (frame.line == 0) frame.file.clear();
    return frame;
}

// llvm-symbolizer's answer for one address into `place`.
void read_answer(const nlohmann::json& answer, source_place& place, std::uint64_t looked_up) {
    if (!answer.is_object() || answer.contains("Error")) return;
    const auto symbols = answer.find("Symbol");
    if (symbols == answer.end() || !symbols->is_array() || symbols->empty()) return;
    const nlohmann::json& innermost = symbols->front();
    source_frame frame = frame_of(innermost);
    if (frame.function.empty() || frame.function == "??") return;
    place.resolved = true;
    place.frame = std::move(frame);
    if (symbols->size() > 1) place.inlined_into = frame_of((*symbols)[1]);
    const std::string start = innermost.value("StartAddress", "");
    const std::uint64_t first = start.empty() ? 0 : std::strtoull(start.c_str(), nullptr, 16);
    if (first != 0 && first <= looked_up) place.function_offset = place.module_offset - first;
}

}  // namespace

std::string source_place::label() const {
    if (!resolved) return hex_address(address);
    if (frame.line != 0) return frame.function + " (" + std::string(base_name(frame.file)) + ":" + std::to_string(frame.line) + ")";
    return frame.function + "+" + hex_address(function_offset);
}

nlohmann::json place_json(const source_place& place) {
    nlohmann::json out = {{"address", hex_address(place.address)}, {"label", place.label()}, {"resolved", place.resolved}};
    const auto frame_json = [](const source_frame& frame) {
        nlohmann::json f = {{"function", frame.function}};
        if (frame.line != 0) {
            f["file"] = frame.file;
            f["line"] = frame.line;
        }
        return f;
    };
    if (place.resolved) {
        out.update(frame_json(place.frame));
        if (place.frame.line == 0) out["function_offset"] = hex_address(place.function_offset);
        if (place.inlined_into) out["inlined_into"] = frame_json(*place.inlined_into);
    }
    if (!place.module.empty()) {
        out["module"] = place.module;
        out["module_offset"] = hex_address(place.module_offset);
    }
    return out;
}

symbol_resolver::symbol_resolver(module_map map, std::string symbolizer)
    : map_(std::move(map)), symbolizer_(find_symbolizer(symbolizer)) {}

symbol_resolver symbol_resolver::for_process(const traced_process& process, std::string symbolizer) {
    module_map map;
    std::string error;
    if (process.module_map.empty()) error = process.directory + " has no module map";
    else if (!read_module_map(process.module_map, map, error)) map = module_map{};
    symbol_resolver resolver(std::move(map), std::move(symbolizer));
    resolver.no_map_reason_ = error;
    return resolver;
}

bool symbol_resolver::module_address(const module_mapping& mapping, std::uint64_t address, std::uint64_t& offset) {
    auto [known, added] = segments_.try_emplace(mapping.path);
    if (added) read_load_segments(mapping.path, known->second);
    const std::uint64_t in_file = address - mapping.start + mapping.file_offset;
    for (const load_segment& segment : known->second) {
        if (in_file >= segment.file_offset && in_file - segment.file_offset < segment.file_size) {
            offset = in_file - segment.file_offset + segment.address;
            return true;
        }
    }
    return false;
}

void symbol_resolver::symbolize(std::vector<source_place*>& places) {
    if (places.empty() || symbolizer_missing_) return;
    std::string input;
    for (const source_place* place : places) {
        // Quoted, so that a path with blanks stays one module.
        input += "CODE \"" + place->module + "\" " + hex_address(place->module_offset - 1) + "\n";
    }
    std::string output;
    bool missing = false;
    run_symbolizer(symbolizer_, input, output, missing);
    if (missing) {
        symbolizer_missing_ = true;
        return;
    }
    std::istringstream lines(output);
    std::string line;
    for (source_place* place : places) {
        while (std::getline(lines, line) && line.empty()) {
        }
        if (!lines) break;
        const nlohmann::json answer = nlohmann::json::parse(line, nullptr, false);
        read_answer(answer, *place, place->module_offset - 1);
        without_lines_ = without_lines_ || (place->resolved && place->frame.line == 0);
    }
}

std::vector<source_place> symbol_resolver::resolve(const std::vector<std::uint64_t>& addresses) {
    std::vector<source_place> result(addresses.size());
    std::vector<const source_place*> known(addresses.size(), nullptr);
    std::vector<source_place*> pending;
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        result[i].address = addresses[i];
        const module_mapping* mapping = map_.find(addresses[i]);
        if (mapping == nullptr) continue;
        result[i].module = mapping->path;
        std::uint64_t offset = 0;
        // Offset 0 would step back out of the module.
        if (!module_address(*mapping, addresses[i], offset) || offset == 0) continue;
        result[i].module_offset = offset;
        auto [entry, added] = cache_[mapping->path].try_emplace(offset, result[i]);
        if (added) pending.push_back(&entry->second);
        known[i] = &entry->second;
    }
    symbolize(pending);
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        if (known[i] == nullptr) continue;
        result[i] = *known[i];
        result[i].address = addresses[i];
    }
    return result;
}

std::string symbol_resolver::hint() const {
    if (!no_map_reason_.empty())
        return "code addresses are in hex: " + no_map_reason_ +
               "; 'mvt-trace record -- PROGRAM' saves where the modules lie, which names them";
    if (symbolizer_missing_)
        return "code addresses are in hex: " + symbolizer_ +
               " could not be run (Debian: apt-get install llvm-14; or name one in LLVM_SYMBOLIZER_PATH)";
    if (without_lines_)
        return "some code addresses have no source line: their module was built without debug information (-g)";
    return "";
}

}  // namespace mvt_trace
