#include "output/summary_text.h"

#include <algorithm>
#include <array>
#include <iomanip>
#include <map>
#include <string>

#include "common/saturating.h"
#include "common/terminal_text.h"
#include "common/text_format.h"
#include "common/terminal_text.h"
#include "output/analyze_problems.h"

namespace mvt_trace {

namespace {

// The total in 128 bits, so that the mean stays right for durations near
// 2^64.
struct name_totals {
    std::uint64_t count = 0;
    wide_total total;
    std::uint64_t open = 0;

    void add(std::uint64_t duration, bool open_at_end) {
        ++count;
        total.add(duration);
        open += open_at_end ? 1 : 0;
    }
    void merge(const name_totals& other) {
        count += other.count;
        total.add(other.total);
        open += other.open;
    }
};

using totals_by_name = std::map<std::string, name_totals>;

struct file_summary {
    std::string name;
    const file_report* report = nullptr;
    std::array<std::uint64_t, record_kind_count> counts{};
    bool seen = false;
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    totals_by_name tasks;
    totals_by_name regions;
    std::uint64_t unmatched_task_ends = 0;
    std::uint64_t unmatched_region_ends = 0;
};

std::uint64_t total_records(const file_summary& f) {
    std::uint64_t sum = 0;
    for (std::uint64_t c : f.counts) sum += c;
    return sum;
}

void write_durations(std::ostream& out, const char* title, const totals_by_name& totals) {
    if (totals.empty()) return;
    std::vector<std::pair<std::string, name_totals>> rows(totals.begin(), totals.end());
    std::stable_sort(rows.begin(), rows.end(),
                     [](const auto& a, const auto& b) { return a.second.total.get() > b.second.total.get(); });
    out << "  " << title << ":\n";
    out << "    " << std::left << std::setw(24) << "name" << std::right << std::setw(10) << "count" << std::setw(16)
        << "total" << std::setw(16) << "mean" << "\n";
    for (const auto& [name, s] : rows) {
        out << "    " << std::left << std::setw(24) << printable(name) << std::right << std::setw(10) << s.count
            << std::setw(16) << format_duration(s.total.saturated()) << std::setw(16)
            << format_duration(s.total.mean(s.count));
        if (s.open) out << "  (" << s.open << " still open at the end of the file)";
        out << "\n";
    }
}

void write_file(std::ostream& out, const file_summary& f) {
    out << printable(f.name) << ": " << counted(total_records(f), "record", "records");
    if (f.report) out << ", " << status_name(f.report->status);
    if (f.report && f.report->status != file_status::whole) out << " at line " << f.report->line;
    out << "\n";
    if (f.seen) {
        out << "  first timestamp: " << f.first << " (" << format_utc(f.first) << ")\n";
        out << "  last timestamp:  " << f.last << " (" << format_utc(f.last) << ")\n";
        out << "  span: " << format_duration(f.last - f.first) << "\n";
        out << "  records by kind:\n";
        for (std::size_t k = 0; k < record_kind_count; ++k) {
            if (f.counts[k] == 0) continue;
            out << "    " << std::left << std::setw(24) << record_name(static_cast<record_kind>(k)) << std::right
                << std::setw(10) << f.counts[k] << "\n";
        }
    }
    write_durations(out, "task executions", f.tasks);
    write_durations(out, "regions", f.regions);
    if (f.unmatched_task_ends) out << "  task_end records with no open task: " << f.unmatched_task_ends << "\n";
    if (f.unmatched_region_ends)
        out << "  region_end records with no open region: " << f.unmatched_region_ends << "\n";
}

void write_graph(const trace_model& model, std::ostream& out) {
    std::map<std::string, std::uint64_t> groups;
    std::map<int, std::uint64_t> relations;
    std::uint64_t group_records = 0, relation_records = 0;
    for (const trace_model::process& p : model.processes()) {
        for (const auto& [name, count] : p.task_groups_by_kind) {
            groups[name] += count;
            group_records += count;
        }
        for (const auto& [code, count] : p.relations_by_code) {
            relations[code] += count;
            relation_records += count;
        }
    }
    out << "graph: " << group_records << " task_group records, " << relation_records << " relations\n";
    if (!groups.empty()) out << "  task_group records by name:\n";
    for (const auto& [name, count] : groups)
        out << "    " << std::left << std::setw(24) << printable(name) << std::right << std::setw(10) << count << "\n";
    if (!relations.empty()) out << "  relations by kind:\n";
    for (const auto& [code, count] : relations)
        out << "    " << std::left << std::setw(24) << relation_name(code) << std::right << std::setw(10) << count
            << "\n";
}

}  // namespace

void write_summary(const trace_model& model, std::ostream& out) {
    std::vector<file_summary> files(model.threads().size());
    for (std::size_t t = 0; t < files.size(); ++t) {
        const trace_model::thread& thread = model.threads()[t];
        file_summary& f = files[t];
        f.name = thread.file.name;
        f.report = &thread.report;
        f.counts = thread.by_kind;
        f.seen = thread.any_timestamp;
        f.first = thread.first_timestamp;
        f.last = thread.last_timestamp;
        f.unmatched_task_ends = thread.unmatched_task_ends;
        f.unmatched_region_ends = thread.unmatched_region_ends;
    }
    for (const trace_model::execution& e : model.executions())
        files[e.thread].tasks[std::string(model.text(e.name))].add(e.busy, e.open_at_end);
    for (const trace_model::region& r : model.regions())
        files[r.begin_thread].regions[std::string(model.text(r.name))].add(saturating_sub(r.end, r.begin), r.open_at_end);

    file_summary all;
    all.name = "all files";
    for (const file_summary& f : files) {
        write_file(out, f);
        for (std::size_t k = 0; k < record_kind_count; ++k) all.counts[k] += f.counts[k];
        if (f.seen) {
            all.first = all.seen ? std::min(all.first, f.first) : f.first;
            all.last = all.seen ? std::max(all.last, f.last) : f.last;
            all.seen = true;
        }
        for (const auto& [name, s] : f.tasks) all.tasks[name].merge(s);
        for (const auto& [name, s] : f.regions) all.regions[name].merge(s);
        all.unmatched_task_ends += f.unmatched_task_ends;
        all.unmatched_region_ends += f.unmatched_region_ends;
    }
    out << "\n";
    write_file(out, all);
    out << "\n";
    write_graph(model, out);
}

}  // namespace mvt_trace
