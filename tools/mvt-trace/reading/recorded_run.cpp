#include "reading/recorded_run.h"

#include <cctype>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "common/regular_file.h"

namespace mvt_trace {

const char* const recorded_run_file = "mvt-record.json";

namespace {

bool needs_quotes(const std::string& word) {
    if (word.empty()) return true;
    for (char c : word)
        if (!std::isalnum(static_cast<unsigned char>(c)) && std::string("/._-+=:,@%").find(c) == std::string::npos)
            return true;
    return false;
}

}  // namespace

std::optional<recorded_run> read_recorded_run(const std::string& directory) {
    // A FIFO or a device of that name must not hang or flood the reader.
    constexpr std::size_t limit = std::size_t{1} << 20;
    std::string text, reason;
    bool found = read_small_file(directory + "/" + recorded_run_file, "a record file", limit, text, reason);
    // record's first process ("RUN/001-omp_example") is the command it ran;
    // the record of that command lies in the run directory above it.
    std::string trimmed = directory;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    const std::size_t slash = trimmed.find_last_of('/');
    if (!found && trimmed.compare(slash == std::string::npos ? 0 : slash + 1, 4, "001-") == 0)
        found = read_small_file((slash == std::string::npos ? std::string(".") : trimmed.substr(0, slash)) + "/" +
                                    recorded_run_file,
                                "a record file", limit, text, reason);
    if (!found) return std::nullopt;
    std::istringstream in(text);
    // Members a later version may add are passed by; a file that is not
    // such an object is no record, and the report goes on without it.
    const nlohmann::json record = nlohmann::json::parse(in, nullptr, false);
    if (!record.is_object()) return std::nullopt;
    recorded_run run;
    const auto command = record.find("command");
    if (command == record.end() || !command->is_array()) return std::nullopt;
    for (const nlohmann::json& word : *command) {
        if (!word.is_string()) return std::nullopt;
        run.command.push_back(word.get<std::string>());
    }
    if (run.command.empty()) return std::nullopt;
    const auto status = record.find("exit_status");
    if (status != record.end() && status->is_number_integer()) run.exit_status = status->get<int>();
    const auto outcome = record.find("outcome");
    if (outcome != record.end() && outcome->is_string()) run.outcome = outcome->get<std::string>();
    return run;
}

std::string recorded_run_text(const std::vector<std::string>& command, std::optional<int> exit_status,
                              const std::string& outcome) {
    nlohmann::ordered_json record;
    record["command"] = command;
    record["exit_status"] = exit_status ? nlohmann::ordered_json(*exit_status) : nlohmann::ordered_json(nullptr);
    record["outcome"] = outcome;
    record["recorded_by"] = std::string("mvt-trace ") + MVT_TRACE_VERSION;
    // Arguments are bytes; any that are not UTF-8 are replaced rather than
    // refused, since the record only serves to show the command.
    return record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::string command_line(const std::vector<std::string>& command) {
    std::string line;
    for (const std::string& word : command) {
        if (!line.empty()) line += ' ';
        if (!needs_quotes(word)) {
            line += word;
            continue;
        }
        line += '\'';
        for (char c : word) line += c == '\'' ? std::string("'\\''") : std::string(1, c);
        line += '\'';
    }
    return line;
}

}  // namespace mvt_trace
