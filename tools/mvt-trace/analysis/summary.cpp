#include "analysis/summary.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <iomanip>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>

#include "model/execution_tracker.h"
#include "model/name_table.h"
#include "reading/record_visitor.h"
#include "common/saturating.h"
#include "common/terminal_text.h"
#include "common/text_format.h"

namespace mvt_trace {

namespace {

// The total in 128 bits, so that the mean stays right for durations near
// 2^64; an end stamped before its begin (a clock stepped back) counts as no
// time, not as 2^64 ns.
struct handle_totals {
    std::uint64_t count = 0;
    wide_total total;
    std::uint64_t open = 0;

    void add(const execution& e) {
        ++count;
        total.add(saturating_sub(e.end, e.begin));
        if (e.open_at_end) ++open;
    }
    void merge(const handle_totals& other) {
        count += other.count;
        total.add(other.total);
        open += other.open;
    }
};

// Keyed by handle address; names are looked up only when printing, because
// a handle may be created in a file read after the one that uses it.
using stats_by_handle = std::unordered_map<std::uint64_t, handle_totals>;

struct file_summary {
    trace_file file;
    file_report report;
    std::array<std::uint64_t, record_kind_count> counts{};
    bool seen = false;
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    stats_by_handle tasks;
    stats_by_handle regions;
    std::uint64_t unmatched_task_ends = 0;
    std::uint64_t unmatched_region_ends = 0;
};

struct graph_summary {
    std::unordered_map<std::uint64_t, std::uint64_t> groups_by_name;
    std::map<std::uint64_t, std::uint64_t> relations_by_kind;
};

class summary_collector : public record_visitor, public execution_listener {
public:
    void begin_file(const trace_file& file, std::size_t) override {
        files_.emplace_back();
        files_.back().file = file;
    }

    void record(const trace_record& record) override {
        file_summary& current = files_.back();
        ++current.counts[static_cast<std::size_t>(record.kind)];
        if (!current.seen) current.first = current.last = record.timestamp;
        current.seen = true;
        current.first = std::min(current.first, record.timestamp);
        current.last = std::max(current.last, record.timestamp);
        names_.record(record);
        tracker_.record(record);
        count_graph(record);
    }

    void end_file(const file_report& report) override {
        tracker_.finish_file();
        file_summary& current = files_.back();
        current.report = report;
        current.unmatched_task_ends = tracker_.unmatched_task_ends();
        current.unmatched_region_ends = tracker_.unmatched_region_ends();
        tracker_.reset_counters();
    }

    void task_done(const execution& task) override { files_.back().tasks[task.name].add(task); }
    void region_done(const execution& region) override { files_.back().regions[region.name].add(region); }

    void write(std::ostream& out) const;

private:
    static std::uint64_t total_records(const file_summary& f) {
        std::uint64_t sum = 0;
        for (std::uint64_t c : f.counts) sum += c;
        return sum;
    }

    void count_graph(const trace_record& record) {
        if (record.kind == record_kind::task_group) {
            ++graph_.groups_by_name[record.number(3)];
        } else if (record.kind == record_kind::relation) {
            ++graph_.relations_by_kind[record.number(2)];
        }
    }

    void write_file(std::ostream& out, const file_summary& f, bool with_status) const;
    void write_durations(std::ostream& out, const char* title, const stats_by_handle& stats) const;
    void write_graph(std::ostream& out) const;

    std::vector<file_summary> files_;
    graph_summary graph_;
    name_table names_;
    execution_tracker tracker_{*this};
};

void summary_collector::write_durations(std::ostream& out, const char* title, const stats_by_handle& stats) const {
    if (stats.empty()) return;
    struct row {
        std::string name;
        handle_totals s;
    };
    std::vector<row> rows;
    for (const auto& [handle, s] : stats) rows.push_back({printable(names_.handle_name(handle)), s});
    std::sort(rows.begin(), rows.end(), [](const row& a, const row& b) {
        return a.s.total.get() != b.s.total.get() ? a.s.total.get() > b.s.total.get() : a.name < b.name;
    });
    out << "  " << title << ":\n";
    out << "    " << std::left << std::setw(24) << "name" << std::right << std::setw(10) << "count"
        << std::setw(16) << "total" << std::setw(16) << "mean" << "\n";
    for (const row& r : rows) {
        out << "    " << std::left << std::setw(24) << r.name << std::right << std::setw(10) << r.s.count
            << std::setw(16) << format_duration(r.s.total.saturated()) << std::setw(16)
            << format_duration(r.s.total.mean(r.s.count));
        if (r.s.open) out << "  (" << r.s.open << " still open at the end of the file)";
        out << "\n";
    }
}

void summary_collector::write_file(std::ostream& out, const file_summary& f, bool with_status) const {
    out << printable(f.file.name) << ": " << total_records(f) << (total_records(f) == 1 ? " record" : " records");
    if (with_status) out << ", " << status_name(f.report.status);
    if (with_status && f.report.status != file_status::whole) out << " at line " << f.report.line;
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

void summary_collector::write_graph(std::ostream& out) const {
    std::uint64_t group_records = 0;
    for (const auto& entry : graph_.groups_by_name) group_records += entry.second;
    std::uint64_t relations = 0;
    for (const auto& entry : graph_.relations_by_kind) relations += entry.second;
    // Records, not distinct identifiers: counting those would take memory
    // that grows with the trace (the dot command shows the structure).
    out << "graph: " << group_records << " task_group records, " << relations << " relations\n";
    std::map<std::string, std::uint64_t> by_name;
    for (const auto& [handle, count] : graph_.groups_by_name) by_name[printable(names_.handle_name(handle))] += count;
    if (!by_name.empty()) out << "  task_group records by name:\n";
    for (const auto& [name, count] : by_name)
        out << "    " << std::left << std::setw(24) << name << std::right << std::setw(10) << count << "\n";
    if (!graph_.relations_by_kind.empty()) out << "  relations by kind:\n";
    for (const auto& [kind, count] : graph_.relations_by_kind)
        out << "    " << std::left << std::setw(24) << relation_name(static_cast<int>(kind)) << std::right
            << std::setw(10) << count << "\n";
}

void summary_collector::write(std::ostream& out) const {
    file_summary all;
    all.file.name = "all files";
    for (const file_summary& f : files_) {
        write_file(out, f, true);
        for (std::size_t k = 0; k < record_kind_count; ++k) all.counts[k] += f.counts[k];
        if (f.seen) {
            all.first = all.seen ? std::min(all.first, f.first) : f.first;
            all.last = all.seen ? std::max(all.last, f.last) : f.last;
            all.seen = true;
        }
        for (const auto& [h, s] : f.tasks) all.tasks[h].merge(s);
        for (const auto& [h, s] : f.regions) all.regions[h].merge(s);
        all.unmatched_task_ends += f.unmatched_task_ends;
        all.unmatched_region_ends += f.unmatched_region_ends;
    }
    out << "\n";
    write_file(out, all, false);
    out << "\n";
    write_graph(out);
}

}  // namespace

std::vector<file_report> write_summary(const std::vector<trace_file>& files, std::ostream& out) {
    auto collector = std::make_unique<summary_collector>();
    std::vector<file_report> reports = visit_files(files, *collector);
    collector->write(out);
    return reports;
}

}  // namespace mvt_trace
