#include "trace_like_file.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace {

// A fixed linear congruential sequence keeps every run on the same bytes.
class number_source {
public:
    std::uint64_t next() {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return state_ >> 11;
    }

private:
    std::uint64_t state_ = 42;
};

const char* const record_names[] = {"task_begin", "task_end", "relation_add", "metadata_add", "id_create"};

void write_record(std::string& out, number_source& numbers, std::uint64_t timestamp) {
    const std::uint64_t pick = numbers.next();
    out += "<record>\n<field>";
    out += record_names[pick % 5];
    out += "</field>\n<field>" + std::to_string(timestamp) + "</field>\n";
    out += "<field>" + std::to_string(140000000000000ULL + pick % 100000) + "</field>\n";
    if (pick % 3 == 0) {
        out += "<compound_field>\n";
        for (int i = 0; i < 3; ++i) out += "<field>" + std::to_string(numbers.next() % 100000) + "</field>\n";
        out += "</compound_field>\n";
    }
    out += "<field>" + std::to_string(pick % 7) + "</field>\n</record>\n";
}

}  // namespace

trace_like_file::trace_like_file(std::size_t approx_bytes) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != 0 ? base : "/tmp") + "/mvt_xml_bench_XXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd < 0) throw std::runtime_error("cannot create " + pattern);
    path_ = pattern;
    FILE* f = fdopen(fd, "w");
    std::string chunk = "<?xml version=\"1.0\"?>\n<trace version=\"0\" ts_frequency=\"1000000000\" hardware_concurrency=\"2\">\n";
    number_source numbers;
    std::uint64_t timestamp = 1733412345000000000ULL;
    while (bytes_ + chunk.size() < approx_bytes) {
        write_record(chunk, numbers, timestamp += 1 + numbers.next() % 5000);
        ++records_;
        if (chunk.size() > (1u << 16)) {
            bytes_ += std::fwrite(chunk.data(), 1, chunk.size(), f);
            chunk.clear();
        }
    }
    chunk += "</trace>\n";
    bytes_ += std::fwrite(chunk.data(), 1, chunk.size(), f);
    std::fclose(f);
}

trace_like_file::~trace_like_file() { unlink(path_.c_str()); }
