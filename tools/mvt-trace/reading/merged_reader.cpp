#include "reading/merged_reader.h"

#include <sys/resource.h>

#include <algorithm>

namespace mvt_trace {

namespace {

// Every file stays open for the whole merge; a run of many threads may need
// more descriptors than the default soft limit allows.
void allow_open_files(std::size_t files) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
    const rlim_t wanted = static_cast<rlim_t>(files) + 64;
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= wanted) return;
    limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, limit.rlim_max);
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

// The comparison of std::push_heap puts the greatest first; the earliest
// record must come first, ties going to the lower file position.
struct later {
    template <typename Head>
    bool operator()(const Head& a, const Head& b) const {
        return a.timestamp != b.timestamp ? a.timestamp > b.timestamp : a.file > b.file;
    }
};

}  // namespace

merged_reader::merged_reader(const std::vector<trace_file>& files, record_kind_set fields_of, std::size_t buffer_size) {
    start(files, field_selection::of_kinds(fields_of), buffer_size);
}

merged_reader::merged_reader(const std::vector<trace_file>& files, const field_selection& fields,
                             std::size_t buffer_size) {
    start(files, fields, buffer_size);
}

void merged_reader::start(const std::vector<trace_file>& files, const field_selection& fields,
                          std::size_t buffer_size) {
    allow_open_files(files.size());
    readers_.reserve(files.size());
    for (const trace_file& file : files) {
        readers_.push_back(std::make_unique<trace_file_reader>(file.path, buffer_size));
        readers_.back()->select_fields(fields);
    }
    heap_.reserve(files.size());
    first_timestamps_.assign(files.size(), 0);
    has_first_.assign(files.size(), false);
    for (std::size_t i = 0; i < readers_.size(); ++i) advance(i);
    for (const head& h : heap_) {
        first_timestamps_[h.file] = h.timestamp;
        has_first_[h.file] = true;
    }
}

merged_reader::~merged_reader() = default;

bool merged_reader::first_timestamp(std::size_t file, std::uint64_t& timestamp) const {
    if (file >= has_first_.size() || !has_first_[file]) return false;
    timestamp = first_timestamps_[file];
    return true;
}

void merged_reader::advance(std::size_t file) {
    const trace_record* record = nullptr;
    if (!readers_[file]->next(record)) return;
    heap_.push_back({record->timestamp, file, record});
    std::push_heap(heap_.begin(), heap_.end(), later{});
}

bool merged_reader::next(const trace_record*& record, std::size_t& file) {
    // The record handed out last lives in its reader until that reader
    // moves on, which is only now. A thread's records mostly follow one
    // another: while its next one still comes first, it goes out without
    // passing through the heap.
    if (any_handed_out_) {
        const trace_record* following = nullptr;
        if (readers_[handed_out_]->next(following)) {
            const head candidate{following->timestamp, handed_out_, following};
            if (heap_.empty() || later{}(heap_.front(), candidate)) {
                record = following;
                file = handed_out_;
                return true;
            }
            heap_.push_back(candidate);
            std::push_heap(heap_.begin(), heap_.end(), later{});
        }
    }
    if (heap_.empty()) {
        any_handed_out_ = false;
        return false;
    }
    std::pop_heap(heap_.begin(), heap_.end(), later{});
    const head earliest = heap_.back();
    heap_.pop_back();
    record = earliest.record;
    file = earliest.file;
    handed_out_ = earliest.file;
    any_handed_out_ = true;
    return true;
}

std::vector<file_report> merged_reader::reports() const {
    std::vector<file_report> reports;
    reports.reserve(readers_.size());
    for (const auto& reader : readers_) reports.push_back(reader->report());
    return reports;
}

}  // namespace mvt_trace
