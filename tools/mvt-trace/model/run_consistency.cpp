#include "model/run_consistency.h"

#include <algorithm>
#include <map>

#include "common/text_format.h"
#include "model/trace_model.h"
#include "reading/trace_directory.h"

namespace mvt_trace {

namespace {

// The files of one run all get their end_of_records record at the run's
// exit, within the collector's bounded wait for threads still recording (at
// most two seconds); ends further apart than this come from different runs.
constexpr std::uint64_t same_run_ns = 5000000000;

using thread = trace_model::thread;

std::string ranges_text(const std::vector<std::pair<unsigned long, unsigned long>>& ranges) {
    std::vector<std::string> parts;
    for (const auto& [first, last] : ranges) {
        if (last >= first + 2)
            parts.push_back("_mvt." + std::to_string(first) + " to _mvt." + std::to_string(last));
        else
            for (unsigned long i = first; i <= last; ++i) parts.push_back("_mvt." + std::to_string(i));
    }
    std::string text;
    for (std::size_t k = 0; k < parts.size(); ++k)
        text += (k == 0 ? "" : k + 1 == parts.size() ? " and " : ", ") + parts[k];
    return text;
}

const char* verb(std::size_t count, const char* one, const char* many) { return count == 1 ? one : many; }

void find_differing_headers(const std::vector<const thread*>& files, std::vector<std::string>& mixed) {
    std::map<std::uint64_t, std::vector<unsigned long>> by_value;
    for (const thread* t : files)
        if (t->report.header_read) by_value[t->report.hardware_concurrency].push_back(t->file.index);
    if (by_value.size() < 2) return;
    std::string text = "the file headers differ:";
    for (const auto& [value, indexes] : by_value)
        text += " " + file_list(indexes) + verb(indexes.size(), " says", " say") + " hardware_concurrency=" +
                std::to_string(value) + ";";
    text.back() = '.';
    mixed.push_back(text);
}

// A run numbers its files from 0 without gaps. The gaps are found between
// the numbers present, so a gap of any length costs nothing to name.
void find_missing_files(const std::vector<const thread*>& files, std::vector<std::string>& mixed) {
    std::vector<unsigned long> present;
    for (const thread* t : files) present.push_back(t->file.index);
    std::sort(present.begin(), present.end());
    present.erase(std::unique(present.begin(), present.end()), present.end());
    std::vector<std::pair<unsigned long, unsigned long>> gaps;
    unsigned long expected = 0;
    std::uint64_t missing = 0;
    for (unsigned long index : present) {
        if (index > expected) {
            gaps.push_back({expected, index - 1});
            missing += index - expected;
        }
        expected = index + 1;
    }
    if (gaps.empty()) return;
    mixed.push_back(ranges_text(gaps) + verb(missing, " is", " are") +
                    " missing: a run numbers its files from _mvt.0 without gaps.");
}

// The newest run wrote the files that end last; files that ended seconds
// earlier, or whose records all come before that run began, survive from an
// earlier run in the same directory.
void find_leftover_files(const std::vector<const thread*>& files, std::vector<std::string>& mixed) {
    std::uint64_t newest_end = 0;
    for (const thread* t : files)
        if (t->ended) newest_end = std::max(newest_end, t->end_timestamp);
    if (newest_end == 0) return;
    std::uint64_t run_start = newest_end;
    for (const thread* t : files)
        if (t->ended && t->end_timestamp + same_run_ns >= newest_end && t->records > 0)
            run_start = std::min(run_start, t->first_record);
    std::vector<unsigned long> leftovers;
    std::uint64_t largest_gap = 0;
    for (const thread* t : files) {
        const std::uint64_t seen_last = t->ended ? t->end_timestamp : t->records > 0 ? t->last_record : 0;
        if (seen_last == 0) continue;
        const std::uint64_t before = t->ended ? newest_end : run_start;
        if (seen_last >= before || before - seen_last <= same_run_ns) continue;
        leftovers.push_back(t->file.index);
        largest_gap = std::max(largest_gap, newest_end - seen_last);
    }
    if (leftovers.empty()) return;
    mixed.push_back(file_list(leftovers) + verb(leftovers.size(), " ends", " end") + " up to " +
                    format_duration(largest_gap) +
                    " before the other files: left from an earlier run in the same directory.");
}

}  // namespace

std::string file_list(std::vector<unsigned long> indexes) {
    std::sort(indexes.begin(), indexes.end());
    std::vector<std::pair<unsigned long, unsigned long>> ranges;
    for (unsigned long index : indexes) {
        if (!ranges.empty() && ranges.back().second + 1 == index)
            ranges.back().second = index;
        else
            ranges.push_back({index, index});
    }
    return ranges_text(ranges);
}

std::vector<std::string> find_mixed_runs(const trace_model& model, std::uint32_t process) {
    std::vector<std::string> mixed;
    const trace_model::process& p = model.processes()[process];
    if (!is_directory(p.directory) || p.thread_count == 0) return mixed;
    std::vector<const thread*> files;
    for (std::uint32_t t = p.first_thread; t < p.first_thread + p.thread_count; ++t)
        files.push_back(&model.threads()[t]);
    find_differing_headers(files, mixed);
    find_missing_files(files, mixed);
    find_leftover_files(files, mixed);
    return mixed;
}

}  // namespace mvt_trace
