#ifndef MVT_TRACE_FILE_LOG_H
#define MVT_TRACE_FILE_LOG_H

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "model/chunked_vector.h"
#include "model/id_table.h"
#include "reading/run_pass.h"
#include "reading/trace_record.h"

namespace mvt_trace {

// What the model keeps of one file while the pass reads it: each record as a
// few numbers, in the file's order. Identifiers, and the addresses of
// domains and name handles, are numbered within the file (files are read
// side by side, each into its own log), and the builder maps the numbers to
// the process's once every file is read.
struct file_log : file_sink {
    // Addresses of domains and name handles, numbered within the file.
    struct address_table {
        std::vector<std::uint64_t> addresses;
        std::unordered_map<std::uint64_t, std::uint32_t> numbers;
        std::uint32_t intern(std::uint64_t address) {
            auto [at, added] = numbers.emplace(address, static_cast<std::uint32_t>(addresses.size()));
            if (added) addresses.push_back(address);
            return at->second;
        }
    };

    struct name_entry {
        bool is_domain;
        std::uint64_t address;
        std::uint32_t text_begin;
        std::uint32_t text_size;
    };
    struct declaration {
        std::uint64_t timestamp;
        std::uint32_t order;  // its place among the file's records
        std::uint32_t id;
        std::uint32_t parent;
        std::uint32_t domain;  // address number
        std::uint32_t kind;    // address number of the name handle
    };
    struct relation_entry {
        std::uint64_t timestamp;
        std::uint32_t order;
        std::uint32_t head;
        std::uint32_t tail;
        std::uint32_t domain;
        int code;
    };
    struct metadata_entry {
        std::uint32_t id;
        std::uint32_t key;  // address number of the name handle
        std::uint64_t value;  // the number, or where the text begins in texts
        std::uint32_t text_size;
        bool is_text;
    };
    enum class event_kind : std::uint8_t { task_begin, task_end, region_begin, region_end };
    // 24 bytes: a log holds two for every execution.
    struct event {
        std::uint64_t timestamp;
        std::uint32_t id;
        std::uint32_t parent;
        std::uint32_t name;         // address number
        std::uint32_t domain : 30;  // address number
        std::uint32_t kind_bits : 2;
        event_kind kind() const { return static_cast<event_kind>(kind_bits); }
    };

    void record(const trace_record& record) override;
    void finish(const file_report& report) override { this->report = report; }

    std::uint32_t text(std::string_view value);
    void add_event(std::uint64_t timestamp, std::uint32_t id, std::uint32_t parent, std::uint32_t name,
                   std::uint32_t domain, event_kind kind);

    id_table ids;
    address_table addresses;
    std::string texts;
    std::vector<name_entry> names;
    chunked_vector<declaration> declarations;
    chunked_vector<relation_entry> relations;
    chunked_vector<metadata_entry> metadata;
    chunked_vector<event> events;

    file_report report;
    std::array<std::uint64_t, record_kind_count> by_kind{};
    std::uint32_t records = 0;  // every record, end_of_records too
    std::uint64_t first_timestamp = 0, last_timestamp = 0;
    std::uint64_t program_records = 0;
    std::uint64_t first_record = 0, last_record = 0;
    bool ended = false;
    std::uint64_t end_timestamp = 0;
    // task_group records by the address number of their kind; relations by code.
    std::unordered_map<std::uint32_t, std::uint64_t> groups_by_kind;
    std::array<std::uint64_t, 256> relations_by_code{};
    // Metadata strings whose length field differs from the text written.
    std::uint64_t longer_metadata_texts = 0;
    // Names and metadata texts holding a line feed or markup.
    std::uint64_t texts_with_markup = 0;
};

}  // namespace mvt_trace

#endif
