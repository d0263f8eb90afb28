#include "sample_files.h"

#include <cstdint>
#include <string>

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

const char* const node_kinds[] = {"task", "region", "barrier", "taskgroup", "composite"};
const char* const colours[] = {"red", "green", "blue", "grey", "orange", "black"};

// A graph node as a layout tool would keep it: names and numbers, none longer
// than a timestamp's low digits.
void write_node(std::string& out, number_source& numbers, std::uint64_t index) {
    const std::uint64_t pick = numbers.next();
    out += "<node id=\"n" + std::to_string(index) + "\" kind=\"" + node_kinds[pick % 5] + "\" name=\"omp_" +
           std::to_string(pick % 997) + "\" x=\"" + std::to_string(numbers.next() % 100000) + "\" y=\"" +
           std::to_string(numbers.next() % 10000) + "\" w=\"" + std::to_string(20 + pick % 180) + "\" h=\"" +
           std::to_string(10 + pick % 40) + "\" colour=\"" + colours[pick % 6] + "\" parent=\"n" +
           std::to_string(index / 8) + "\"/>\n";
}

}  // namespace

sample_counts write_sample(std::FILE* out, sample_shape shape, std::size_t approx_bytes) {
    sample_counts counts;
    std::string chunk = "<?xml version=\"1.0\"?>\n";
    chunk += shape == sample_shape::trace
                 ? "<trace version=\"0\" ts_frequency=\"1000000000\" hardware_concurrency=\"2\">\n"
                 : "<graph version=\"0\">\n";
    number_source numbers;
    std::uint64_t timestamp = 1733412345000000000ULL;
    while (counts.bytes + chunk.size() < approx_bytes) {
        if (shape == sample_shape::trace) {
            write_record(chunk, numbers, timestamp += 1 + numbers.next() % 5000);
        } else {
            write_node(chunk, numbers, counts.top_level_elements);
        }
        ++counts.top_level_elements;
        if (chunk.size() > (1u << 16)) {
            counts.bytes += std::fwrite(chunk.data(), 1, chunk.size(), out);
            chunk.clear();
        }
    }
    chunk += shape == sample_shape::trace ? "</trace>\n" : "</graph>\n";
    counts.bytes += std::fwrite(chunk.data(), 1, chunk.size(), out);
    return counts;
}
