#include "analysis/run_health.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "common/text_format.h"
#include "model/execution_tracker.h"

namespace mvt_trace {

namespace {

// The files of one run all get their end_of_records record at the run's exit,
// within the collector's bounded wait for threads still recording (at most two
// seconds); ends further apart than this come from different runs.
constexpr std::uint64_t same_run_ns = 5000000000;

// "_mvt.3", "_mvt.3 and _mvt.5", "_mvt.8 to _mvt.11 and _mvt.14": runs of
// three or more consecutive file numbers are shown as ranges.
std::string file_list(std::vector<unsigned long> indexes) {
    std::sort(indexes.begin(), indexes.end());
    std::vector<std::string> parts;
    for (std::size_t i = 0; i < indexes.size();) {
        std::size_t j = i;
        while (j + 1 < indexes.size() && indexes[j + 1] == indexes[j] + 1) ++j;
        if (j >= i + 2) {
            parts.push_back("_mvt." + std::to_string(indexes[i]) + " to _mvt." + std::to_string(indexes[j]));
            i = j + 1;
        } else {
            parts.push_back("_mvt." + std::to_string(indexes[i]));
            ++i;
        }
    }
    std::string text;
    for (std::size_t k = 0; k < parts.size(); ++k)
        text += (k == 0 ? "" : k + 1 == parts.size() ? " and " : ", ") + parts[k];
    return text;
}

// "is" or "are" after a file_list.
const char* verb(const std::vector<unsigned long>& indexes, const char* one, const char* many) {
    return indexes.size() == 1 ? one : many;
}

void pair_regions_across_files(const std::vector<std::pair<trace_id, unsigned long>>& open_regions_at_end,
                               const std::vector<std::pair<trace_id, unsigned long>>& unmatched_region_ends,
                               std::vector<std::string>& notes) {
    // Regions begun on one thread and ended on another show up as a region
    // open at the end of one file and an end with no region in another.
    std::multimap<trace_id, unsigned long> open;
    for (const auto& [id, file] : open_regions_at_end) open.emplace(id, file);
    std::map<std::pair<unsigned long, unsigned long>, std::uint64_t> crossings;
    std::map<unsigned long, std::uint64_t> unmatched;
    for (const auto& [id, file] : unmatched_region_ends) {
        auto found = open.find(id);
        if (found != open.end() && found->second != file) {
            ++crossings[{found->second, file}];
            open.erase(found);
        } else {
            ++unmatched[file];
        }
    }
    std::map<unsigned long, std::uint64_t> still_open;
    for (const auto& entry : open) ++still_open[entry.second];
    for (const auto& [files, count] : crossings)
        notes.push_back(counted(count, "region", "regions") + " begun on _mvt." + std::to_string(files.first) +
                        (count == 1 ? " was" : " were") + " ended on _mvt." + std::to_string(files.second));
    for (const auto& [file, count] : still_open)
        notes.push_back("_mvt." + std::to_string(file) + ": " + counted(count, "region", "regions") +
                        " still open at the end of the file");
    for (const auto& [file, count] : unmatched)
        notes.push_back("_mvt." + std::to_string(file) + ": " +
                        counted(count, "region_end record", "region_end records") + " with no such region open");
}

void find_differing_headers(const std::vector<file_health>& files, std::vector<std::string>& mixed) {
    std::map<std::uint64_t, std::vector<unsigned long>> by_value;
    for (const file_health& f : files)
        if (f.report.header_read) by_value[f.report.hardware_concurrency].push_back(f.file.index);
    if (by_value.size() < 2) return;
    std::string text = "the file headers differ:";
    for (const auto& [value, indexes] : by_value)
        text += " " + file_list(indexes) + verb(indexes, " says", " say") + " hardware_concurrency=" +
                std::to_string(value) + ";";
    text.back() = '.';
    mixed.push_back(text);
}

void find_missing_files(const std::vector<file_health>& files, std::vector<std::string>& mixed) {
    std::set<unsigned long> present;
    for (const file_health& f : files) present.insert(f.file.index);
    std::vector<unsigned long> missing;
    const unsigned long highest = *present.rbegin();
    // A run numbers its files from 0 without gaps; a long gap is listed by
    // its ends only, through file_list.
    for (unsigned long i = 0; i < highest && missing.size() < 100000; ++i)
        if (present.count(i) == 0) missing.push_back(i);
    if (missing.empty()) return;
    mixed.push_back(file_list(missing) + verb(missing, " is", " are") +
                    " missing: a run numbers its files from _mvt.0 without gaps.");
}

// The newest run wrote the files that end last; files that ended seconds
// earlier, or whose records all come before that run began, survive from an
// earlier run in the same directory.
void find_leftover_files(const std::vector<file_health>& files, std::vector<std::string>& mixed) {
    std::uint64_t newest_end = 0;
    for (const file_health& f : files)
        if (f.ended) newest_end = std::max(newest_end, f.end_timestamp);
    if (newest_end == 0) return;
    std::uint64_t run_start = newest_end;
    for (const file_health& f : files)
        if (f.ended && f.end_timestamp + same_run_ns >= newest_end && f.records > 0)
            run_start = std::min(run_start, f.first_timestamp);
    std::vector<unsigned long> leftovers;
    std::uint64_t largest_gap = 0;
    for (const file_health& f : files) {
        std::uint64_t seen_last = f.ended ? f.end_timestamp : f.records > 0 ? f.last_timestamp : 0;
        if (seen_last == 0) continue;
        const std::uint64_t before = f.ended ? newest_end : run_start;
        if (seen_last + same_run_ns >= before) continue;
        leftovers.push_back(f.file.index);
        largest_gap = std::max(largest_gap, newest_end - seen_last);
    }
    if (leftovers.empty()) return;
    mixed.push_back(file_list(leftovers) + verb(leftovers, " ends", " end") + " up to " +
                    format_duration(largest_gap) +
                    " before the other files: left from an earlier run in the same directory.");
}

}  // namespace

std::uint64_t run_health::records() const {
    std::uint64_t sum = 0;
    for (const file_health& f : files) sum += f.records;
    return sum;
}

std::size_t run_health::threads() const {
    return static_cast<std::size_t>(
        std::count_if(files.begin(), files.end(), [](const file_health& f) { return f.records > 0; }));
}

std::size_t run_health::whole_files() const {
    return static_cast<std::size_t>(std::count_if(
        files.begin(), files.end(), [](const file_health& f) { return f.report.status == file_status::whole; }));
}

// One file: what check reports of it, and the quirks of its executions.
class run_health_collector::file_reader : public execution_listener {
public:
    explicit file_reader(const trace_file& file) { health.file = file; }

    void record(const trace_record& record) {
        if (record.kind == record_kind::end_of_records) {
            health.ended = true;
            health.end_timestamp = record.timestamp;
            return;
        }
        if (health.records == 0) health.first_timestamp = record.timestamp;
        ++health.records;
        health.first_timestamp = std::min(health.first_timestamp, record.timestamp);
        health.last_timestamp = std::max(health.last_timestamp, record.timestamp);
    }

    void task_done(const execution& task) override { open_tasks += task.open_at_end ? 1 : 0; }
    void region_done(const execution& region) override {
        if (region.open_at_end) open_regions.push_back(region.id);
    }
    void unmatched_region_end(const trace_id& id) override { unmatched_region_ends.push_back(id); }

    file_health health;
    std::uint64_t open_tasks = 0;
    std::vector<trace_id> open_regions;
    std::vector<trace_id> unmatched_region_ends;
};

run_health_collector::run_health_collector() = default;
run_health_collector::~run_health_collector() = default;

void run_health_collector::begin_file(const trace_file& file, std::size_t position) {
    if (files_.size() <= position) files_.resize(position + 1);
    files_[position] = std::make_unique<file_reader>(file);
}

void run_health_collector::record(const trace_record& record, std::size_t position) {
    files_[position]->record(record);
}

execution_listener& run_health_collector::listener(std::size_t position) { return *files_[position]; }

void run_health_collector::end_file(std::size_t position, const file_report& report,
                                    const execution_tracker& tracker) {
    std::unique_ptr<file_reader> reader = std::move(files_[position]);
    reader->health.report = report;
    const std::string& name = reader->health.file.name;
    const unsigned long index = reader->health.file.index;
    // A file cut short leaves its executions open and loses the ends that
    // would have followed; only a whole file's quirks are the runtime's.
    const bool whole = report.status == file_status::whole;
    if (whole && reader->open_tasks > 0)
        notes_.push_back(name + ": " + counted(reader->open_tasks, "task execution", "task executions") +
                         " still open at the end of the file");
    if (whole && tracker.unmatched_task_ends() > 0)
        notes_.push_back(name + ": " + counted(tracker.unmatched_task_ends(), "task_end record", "task_end records") +
                         " with no task execution open");
    if (whole)
        for (const trace_id& id : reader->open_regions) open_regions_at_end_.push_back({id, index});
    for (const trace_id& id : reader->unmatched_region_ends) unmatched_region_ends_.push_back({id, index});
    finished_.push_back(std::move(reader->health));
}

run_health run_health_collector::finish(bool as_one_run) {
    pair_regions_across_files(open_regions_at_end_, unmatched_region_ends_, notes_);
    run_health health;
    health.files = std::move(finished_);
    health.notes = std::move(notes_);
    health.judged_as_run = as_one_run;
    if (as_one_run && !health.files.empty()) {
        find_differing_headers(health.files, health.mixed_runs);
        find_missing_files(health.files, health.mixed_runs);
        find_leftover_files(health.files, health.mixed_runs);
    }
    return health;
}

run_health assess_run(const std::vector<trace_file>& files, bool as_one_run) {
    run_health_collector collector;
    for (std::size_t i = 0; i < files.size(); ++i) {
        collector.begin_file(files[i], i);
        execution_tracker tracker(collector.listener(i));
        trace_file_reader reader(files[i].path);
        const trace_record* record = nullptr;
        while (reader.next(record)) {
            collector.record(*record, i);
            tracker.record(*record);
        }
        tracker.finish_file();
        collector.end_file(i, reader.report(), tracker);
    }
    return collector.finish(as_one_run);
}

}  // namespace mvt_trace
