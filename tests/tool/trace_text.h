#ifndef MVT_TEST_TRACE_TEXT_H
#define MVT_TEST_TRACE_TEXT_H

// Trace files written by hand, line for line as the library writes them, so
// that tests can give the tool exactly the quirks they are about.

#include <cstdint>
#include <string>

namespace trace_text {

inline std::string field(const std::string& text) { return "<field>" + text + "</field>\n"; }
inline std::string field(std::uint64_t value) { return field(std::to_string(value)); }

inline std::string id(std::uint64_t d1, std::uint64_t d2 = 0, std::uint64_t d3 = 0) {
    return "<compound_field>\n" + field(d1) + field(d2) + field(d3) + "</compound_field>\n";
}

inline std::string record(const std::string& name, std::uint64_t timestamp, const std::string& fields = "") {
    return "<record>\n" + field(name) + field(timestamp) + fields + "</record>\n";
}

// The fields of a few records; `domain` and `name` are addresses.
inline std::string task_begin(std::uint64_t ts, std::uint64_t task, std::uint64_t name, std::uint64_t domain = 1) {
    return record("task_begin", ts, field(domain) + id(task) + id(0) + field(name) + field(0));
}
inline std::string task_end(std::uint64_t ts, std::uint64_t domain = 1) {
    return record("task_end", ts, field(domain));
}
inline std::string region_begin(std::uint64_t ts, std::uint64_t region, std::uint64_t name, std::uint64_t domain = 1) {
    return record("region_begin", ts, field(domain) + id(region) + id(0) + field(name));
}
inline std::string region_end(std::uint64_t ts, std::uint64_t region, std::uint64_t domain = 1) {
    return record("region_end", ts, field(domain) + id(region));
}
inline std::string string_handle(std::uint64_t ts, std::uint64_t address, const std::string& name) {
    return record("string_handle_createA", ts, field(address) + field(name.size()) + field(name));
}

// A whole file: header, `records`, and the closing lines when `end_ts` is
// not 0 (a file without them is one cut short by a crash).
inline std::string file(const std::string& records, std::uint64_t end_ts, unsigned hardware_concurrency = 2) {
    std::string text = "<?xml version=\"1.0\"?>\n<trace version=\"0\" ts_frequency=\"1000000000\" "
                       "hardware_concurrency=\"" + std::to_string(hardware_concurrency) + "\">\n" + records;
    if (end_ts != 0) text += record("end_of_records", end_ts) + "</trace>\n";
    return text;
}

}  // namespace trace_text

#endif
