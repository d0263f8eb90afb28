#include "output/report/timeline_data.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <tuple>

#include "common/text_format.h"
#include "model/run_model.h"
#include "common/json_text.h"
#include "reading/record_visitor.h"

namespace mvt_trace {

namespace {

// Text past the limit is cut, at a byte that starts a character, and marked.
std::string shortened(const std::string& text, std::size_t limit) {
    if (text.size() <= limit) return text;
    std::size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xc0) == 0x80) --cut;
    return text.substr(0, cut) + "\xe2\x80\xa6";  // an ellipsis
}

std::uint64_t duration(const execution& e) { return e.end - e.begin; }

// "NAME":[1,2,3], the numbers formatted into one buffer: a page holds
// hundreds of thousands of them.
template <typename Field>
void write_array(std::ostream& out, const char* name, const std::vector<Field>& items, bool first = false) {
    std::string text = first ? "\"" : ",\"";
    text += name;
    text += "\":[";
    char digits[24];
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) text += ',';
        text.append(digits, std::to_chars(digits, digits + sizeof digits, items[i]).ptr);
    }
    text += ']';
    out << text;
}

// "NAME":{"b":[...],"e":[...],"d":[...],"n":[...],"x":[...]}, collecting the
// positions of the executions still open at the end.
template <typename Bar>
void write_bars(std::ostream& out, const char* name, const std::vector<Bar>& bars, std::vector<std::size_t>& open) {
    std::vector<std::uint64_t> b, e;
    std::vector<std::uint32_t> d, n;
    std::vector<long> x;
    for (std::size_t i = 0; i < bars.size(); ++i) {
        b.push_back(bars[i].begin);
        e.push_back(bars[i].end);
        d.push_back(bars[i].row);
        n.push_back(bars[i].name);
        x.push_back(bars[i].details);
        if (bars[i].open) open.push_back(i);
    }
    out << ",\"" << name << "\":{";
    write_array(out, "b", b, true);
    write_array(out, "e", e);
    write_array(out, "d", d);
    write_array(out, "n", n);
    write_array(out, "x", x);
    out << "}";
}

}  // namespace

// The one pass over the run: every record's timestamp, the names and
// metadata of each process, and each file's executions as they complete,
// offered to be drawn one by one or else added to the blocks.
class timeline_exporter::collector : public record_visitor, public execution_listener {
public:
    explicit collector(timeline_exporter& owner) : owner_(owner) {}

    void begin_file(const trace_file& file, std::size_t) override {
        owner_.lanes_.emplace_back();
        lane_ = &owner_.lanes_.back();
        lane_->file = file;
        lane_->region_blocks.resize(owner_.limits_.max_region_rows);
        lane_->task_blocks.resize(owner_.limits_.max_task_rows);
        if (owner_.processes_.size() <= file.process) owner_.processes_.resize(file.process + 1);
        process_ = &owner_.processes_[file.process];
    }

    void record(const trace_record& record) override {
        if (!owner_.seen_) owner_.first_ = owner_.last_ = record.timestamp;
        owner_.seen_ = true;
        owner_.first_ = std::min(owner_.first_, record.timestamp);
        owner_.last_ = std::max(owner_.last_, record.timestamp);
        if (record.kind != record_kind::end_of_records) ++lane_->records;
        process_->names.record(record);
        keep_metadata(record);
        tracker_.record(record);
    }

    void end_file(const file_report&) override {
        tracker_.finish_file();
        tracker_.reset_counters();
        lane_->open_region_rows = {};
    }

    void execution_begun(const execution& e) override {
        if (e.is_region) owner_.begin_region(*lane_, e);
    }
    void region_replaced(const execution& earlier) override { owner_.end_region(*lane_, earlier); }

    void task_done(const execution& task) override {
        lane_->task_rows = std::max(lane_->task_rows, std::min(task.depth + 1, owner_.limits_.max_task_rows));
        owner_.offer({task, lane_number(), static_cast<std::uint32_t>(std::min<std::size_t>(task.depth, UINT32_MAX)), false});
    }
    void region_done(const execution& region) override {
        const std::uint32_t row = owner_.end_region(*lane_, region);
        owner_.offer({region, lane_number(), row, true});
    }

private:
    std::uint32_t lane_number() const { return static_cast<std::uint32_t>(owner_.lanes_.size() - 1); }

    void keep_metadata(const trace_record& record) {
        metadata_entry entry;
        if (record.kind == record_kind::metadata) {
            entry.key = record.number(2);
            entry.number = record.number(5);
        } else if (record.kind == record_kind::metadata_string_a || record.kind == record_kind::metadata_string_w) {
            entry.key = record.number(2);
            entry.is_text = true;
            entry.text = std::string(record.text(4));
        } else {
            return;
        }
        process_->metadata.emplace_back(record.id(1), std::move(entry));
    }

    timeline_exporter& owner_;
    lane* lane_ = nullptr;
    process_names* process_ = nullptr;
    execution_tracker tracker_{*this};
};

timeline_exporter::timeline_exporter(timeline_limits limits)
    : limits_(limits), longest_(limits.max_executions) {
    limits_.max_task_rows = std::max<std::size_t>(limits_.max_task_rows, 1);
    limits_.max_region_rows = std::max<std::size_t>(limits_.max_region_rows, 1);
}

std::vector<file_report> timeline_exporter::read(const std::vector<trace_file>& files) {
    // What the page shows of a run: its executions, their names and
    // metadata. The fields of other records are not read (nor checked,
    // as analyze's read does not).
    const std::uint8_t domain_id_parent_and_name = field_bits({0, 1, 2, 3});
    const std::uint8_t id_key_and_value = field_bits({1, 2, 5});
    const std::uint8_t id = field_bits({1});
    field_selection fields = field_selection::of_kinds(0);
    fields.with(record_kind::task_begin, domain_id_parent_and_name)
        .with(record_kind::region_begin, domain_id_parent_and_name)
        .with(record_kind::region_end, id)
        .with(record_kind::metadata, id_key_and_value);
    collector reader(*this);
    std::vector<file_report> reports = visit_files(files, reader, fields);
    for (process_names& p : processes_)
        std::stable_sort(p.metadata.begin(), p.metadata.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
    return reports;
}

// Regions need not nest: each goes on the first row free when it begins,
// and frees it when it ends.
void timeline_exporter::begin_region(lane& l, const execution& region) {
    std::size_t row = 0;
    while (row < l.region_row_taken.size() && l.region_row_taken[row]) ++row;
    if (row == l.region_row_taken.size()) l.region_row_taken.push_back(0);
    l.region_row_taken[row] = 1;
    l.open_region_rows[region.ordinal] = static_cast<std::uint32_t>(row);
    l.region_rows = std::max(l.region_rows, std::min(row + 1, limits_.max_region_rows));
}

// The region's row, no longer taken.
std::uint32_t timeline_exporter::end_region(lane& l, const execution& region) {
    const auto found = l.open_region_rows.find(region.ordinal);
    if (found == l.open_region_rows.end()) return 0;
    const std::uint32_t row = found->second;
    l.region_row_taken[row] = 0;
    l.open_region_rows.erase(found);
    return row;
}

// Only the longest executions are embedded when there are too many: they are
// what a view of the whole run shows, and the short ones are visible as
// blocks until one zooms in. Tasks nested deeper and regions on more rows
// than the page draws are blocks on the last row.
void timeline_exporter::offer(candidate c) {
    const std::size_t rows = c.region ? limits_.max_region_rows : limits_.max_task_rows;
    if (c.row >= rows) {
        c.row = static_cast<std::uint32_t>(rows - 1);
        add_to_blocks(c);
        return;
    }
    const std::uint64_t length = duration(c.e);
    if (std::optional<candidate> left = longest_.offer(std::move(c), length)) add_to_blocks(*left);
}

void timeline_exporter::add_to_blocks(const candidate& c) {
    ++elided_;
    lane& l = lanes_[c.lane];
    (c.region ? l.region_blocks : l.task_blocks)[c.row].add(c.e.begin, c.e.end);
}

void timeline_exporter::settle(node_lookup node_of) {
    node_of_ = std::move(node_of);
    std::vector<std::pair<std::size_t, std::size_t>> bars(lanes_.size());  // regions, tasks
    longest_.for_each([&](const candidate& c) { ++(c.region ? bars[c.lane].first : bars[c.lane].second); });
    for (std::size_t k = 0; k < lanes_.size(); ++k) {
        lanes_[k].regions.reserve(bars[k].first);
        lanes_[k].tasks.reserve(bars[k].second);
    }
    // Longest first, so that the details' budget goes to them.
    longest_.drain([&](const candidate& c) {
        lane& l = lanes_[c.lane];
        add_bar(l, c.e, c.row, c.region);
        (c.region ? l.regions : l.tasks).back().details = details_index(l.file.process, c.e);
    });
    lay_out_blocks();
    // The files a process opened in advance and never used are no threads.
    lanes_.erase(std::remove_if(lanes_.begin(), lanes_.end(), [](const lane& l) { return l.records == 0; }),
                 lanes_.end());
    for (lane& l : lanes_) {
        // The page finds what is in view by binary search along each row.
        auto by_row_then_time = [](const bar& a, const bar& b) { return std::tie(a.row, a.begin) < std::tie(b.row, b.begin); };
        std::sort(l.tasks.begin(), l.tasks.end(), by_row_then_time);
        std::sort(l.regions.begin(), l.regions.end(), by_row_then_time);
    }
}

// The rows that get blocks share a budget of blocks: with many threads each
// row's blocks are coarser. A lane's drawing rows are its region rows, then
// one per task depth.
void timeline_exporter::lay_out_blocks() {
    std::size_t rows_with_blocks = 0;
    for (const lane& l : lanes_)
        for (const auto* rows : {&l.region_blocks, &l.task_blocks})
            rows_with_blocks += static_cast<std::size_t>(
                std::count_if(rows->begin(), rows->end(), [](const time_buckets& b) { return !b.empty(); }));
    const std::size_t columns =
        std::clamp<std::size_t>(limits_.max_blocks / std::max<std::size_t>(rows_with_blocks, 1), 20, limits_.blocks_per_row);
    const double span = static_cast<double>(std::max<std::uint64_t>(last_ - first_, 1));
    for (lane& l : lanes_) {
        auto lay_out = [&](const time_buckets& buckets, std::uint32_t drawing_row) {
            std::vector<time_buckets::bucket> row(columns);
            buckets.for_each([&](const time_buckets::bucket& b) {
                const double at = static_cast<double>(b.begin - first_) / span * static_cast<double>(columns);
                row[std::min(static_cast<std::size_t>(at), columns - 1)].absorb(b.begin - first_, b.end - first_, b.count);
            });
            for (const time_buckets::bucket& b : row)
                if (b.count > 0) l.blocks.push_back({b.begin, b.end, drawing_row, b.count});
        };
        for (std::size_t r = 0; r < l.region_blocks.size(); ++r)
            if (!l.region_blocks[r].empty()) lay_out(l.region_blocks[r], static_cast<std::uint32_t>(r));
        for (std::size_t r = 0; r < l.task_blocks.size(); ++r)
            if (!l.task_blocks[r].empty()) lay_out(l.task_blocks[r], static_cast<std::uint32_t>(l.region_rows + r));
        l.region_blocks = {};
        l.task_blocks = {};
    }
}

void timeline_exporter::add_bar(lane& l, const execution& e, std::uint32_t row, bool region) {
    bar b;
    b.begin = e.begin - first_;
    b.end = e.end - first_;
    b.row = row;
    b.name = name_index(l.file.process, e.name);
    b.open = e.open_at_end;
    (region ? l.regions : l.tasks).push_back(b);
}

std::uint32_t timeline_exporter::name_index(std::size_t process, std::uint64_t handle) {
    auto& known = processes_[process].name_positions;
    if (auto found = known.find(handle); found != known.end()) return found->second;
    std::string name = shortened(processes_[process].names.handle_name(handle), limits_.max_text);
    // Past the budget, new names share one entry that says so.
    if (names_bytes_ + name.size() > limits_.max_names_bytes && name_positions_.count(name) == 0)
        name = "(a name past the page's size limit)";
    auto [position, added] = name_positions_.emplace(name, static_cast<std::uint32_t>(names_.size()));
    if (added) {
        names_bytes_ += name.size();
        names_.push_back(std::move(name));
    }
    known.emplace(handle, position->second);
    return position->second;
}

// Executions with the same identifier, parent and domain (an implicit task
// and its barrier) share one entry.
long timeline_exporter::details_index(std::size_t process, const execution& e) {
    const details_key key{process, e.id, e.parent, e.domain};
    if (auto known = details_positions_.find(key); known != details_positions_.end()) return known->second;
    std::string json = details_json(process, e);
    long position = -1;
    if (details_bytes_ + json.size() <= limits_.max_details_bytes) {
        details_bytes_ += json.size();
        position = static_cast<long>(details_.size());
        details_.push_back(std::move(json));
    }
    details_positions_.emplace(key, position);
    return position;
}

// What a click on the execution shows: identifiers, its node, its domain and
// its metadata.
std::string timeline_exporter::details_json(std::size_t process, const execution& e) const {
    const process_names& names = processes_[process];
    std::string json = "{\"id\":\"" + full_id_text(e.id) + "\",\"parent\":\"" + full_id_text(e.parent) + "\",\"node\":" +
                       std::to_string(node_of_ ? node_of_(process, e.id, e.domain) : -1) +
                       ",\"domain\":" + json_quoted(names.names.domain_name(e.domain)) + ",\"metadata\":{";
    // A task's metadata may sit on its graph node, whose identifier differs
    // by the tag word 1.
    const auto by_id = [](const std::pair<trace_id, metadata_entry>& m, const trace_id& id) { return m.first < id; };
    auto first = std::lower_bound(names.metadata.begin(), names.metadata.end(), e.id, by_id);
    if (first == names.metadata.end() || first->first != e.id)
        first = std::lower_bound(names.metadata.begin(), names.metadata.end(), trace_id{e.id.d1, 1, e.id.d3}, by_id);
    const trace_id owner = first == names.metadata.end() ? trace_id{} : first->first;
    for (auto m = first; m != names.metadata.end() && m->first == owner && (owner == e.id || owner.d1 == e.id.d1); ++m) {
        const metadata_entry& entry = m->second;
        const std::string key = names.names.handle_name(entry.key);
        const std::string value = entry.is_text ? shortened(entry.text, limits_.max_text)
                                  : key == "code_address" ? hex_address(entry.number)
                                                          : std::to_string(entry.number);
        json += (m == first ? "" : ",") + json_quoted(key) + ":" + json_quoted(value);
    }
    return json + "}}";
}

void timeline_exporter::write_json(std::ostream& out) const {
    out << "{\"span_ns\":" << (last_ - first_) << ",\"names\":[";
    for (std::size_t i = 0; i < names_.size(); ++i) out << (i == 0 ? "" : ",") << json_quoted(names_[i]);
    out << "],\"lanes\":[";
    for (std::size_t k = 0; k < lanes_.size(); ++k) {
        const lane& l = lanes_[k];
        out << (k == 0 ? "" : ",") << "{\"label\":\"thread " << l.file.index << "\",\"file\":" << json_quoted(l.file.path)
            << ",\"process\":" << l.file.process << ",\"rows\":" << l.region_rows + l.task_rows
            << ",\"region_rows\":" << l.region_rows << ",\"records\":" << l.records;
        std::vector<std::size_t> open_tasks, open_regions;
        write_bars(out, "tasks", l.tasks, open_tasks);
        write_bars(out, "regions", l.regions, open_regions);
        write_array(out, "open", open_tasks);
        write_array(out, "open_regions", open_regions);
        std::vector<std::uint64_t> b, e, c;
        std::vector<std::uint32_t> d;
        for (const block& bl : l.blocks) {
            b.push_back(bl.begin);
            e.push_back(bl.end);
            d.push_back(bl.row);
            c.push_back(bl.count);
        }
        out << ",\"blocks\":{";
        write_array(out, "b", b, true);
        write_array(out, "e", e);
        write_array(out, "d", d);
        write_array(out, "c", c);
        out << "}}";
    }
    out << "],\"details\":[";
    for (std::size_t i = 0; i < details_.size(); ++i) out << (i == 0 ? "" : ",\n") << details_[i];
    out << "],\"elided\":" << elided_ << "}";
}

}  // namespace mvt_trace
