#include "output/report/timeline_data.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <map>
#include <tuple>

#include "common/text_format.h"
#include "output/report/json_text.h"
#include "reading/record_visitor.h"

namespace mvt_trace {

namespace {

// "d1.d2.d3" as a string: d1 may exceed what a JavaScript number holds.
std::string id_words(const trace_id& id) {
    return std::to_string(id.d1) + "." + std::to_string(id.d2) + "." + std::to_string(id.d3);
}

std::string hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

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
// metadata of each process, and each file's executions as they complete.
class timeline_exporter::collector : public record_visitor, public execution_listener {
public:
    explicit collector(timeline_exporter& owner) : owner_(owner) {}

    void begin_file(const trace_file& file, std::size_t) override {
        owner_.lanes_.emplace_back();
        owner_.lanes_.back().file = file;
        if (owner_.processes_.size() <= file.process) owner_.processes_.resize(file.process + 1);
        process_ = &owner_.processes_[file.process];
    }

    void record(const trace_record& record) override {
        lane& current = owner_.lanes_.back();
        if (!owner_.seen_) owner_.first_ = owner_.last_ = record.timestamp;
        owner_.seen_ = true;
        owner_.first_ = std::min(owner_.first_, record.timestamp);
        owner_.last_ = std::max(owner_.last_, record.timestamp);
        if (record.kind != record_kind::end_of_records) ++current.records;
        process_->names.record(record);
        keep_metadata(record);
        tracker_.record(record);
    }

    void end_file(const file_report&) override {
        tracker_.finish_file();
        tracker_.reset_counters();
    }

    void task_done(const execution& task) override { owner_.lanes_.back().read_tasks.push_back(task); }
    void region_done(const execution& region) override { owner_.lanes_.back().read_regions.push_back(region); }

private:
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
    process_names* process_ = nullptr;
    execution_tracker tracker_{*this};
};

timeline_exporter::timeline_exporter(timeline_limits limits) : limits_(limits) {}

std::vector<file_report> timeline_exporter::read(const std::vector<trace_file>& files) {
    collector reader(*this);
    std::vector<file_report> reports = visit_files(files, reader);
    // The files a process opened in advance and never used are no threads.
    lanes_.erase(std::remove_if(lanes_.begin(), lanes_.end(), [](const lane& l) { return l.records == 0; }),
                 lanes_.end());
    for (process_names& p : processes_)
        std::stable_sort(p.metadata.begin(), p.metadata.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
    return reports;
}

void timeline_exporter::settle(node_lookup node_of) {
    node_of_ = std::move(node_of);
    if (node_of_) {
        for (const lane& l : lanes_)
            for (const auto* executions : {&l.read_tasks, &l.read_regions})
                for (const execution& e : *executions) note_begin(l.file.process, e);
    }
    select_bars();
}

void timeline_exporter::note_begin(std::size_t process, const execution& e) {
    const long node = node_of_(process, e.id, e.domain);
    if (node < 0) return;
    if (first_begin_by_node_.size() <= static_cast<std::size_t>(node))
        first_begin_by_node_.resize(static_cast<std::size_t>(node) + 1, 0);
    std::uint64_t& at = first_begin_by_node_[static_cast<std::size_t>(node)];
    if (at == 0 || e.begin < at) at = e.begin;
}

// Regions need not nest: each goes on the first row that is free when it
// begins.
void timeline_exporter::place_regions(lane& l) const {
    std::vector<std::size_t> order(l.read_regions.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return std::tie(l.read_regions[a].begin, l.read_regions[a].id) <
               std::tie(l.read_regions[b].begin, l.read_regions[b].id);
    });
    l.region_rows_of.assign(l.read_regions.size(), 0);
    std::vector<std::uint64_t> row_free_at;
    for (std::size_t i : order) {
        const execution& r = l.read_regions[i];
        std::size_t row = 0;
        while (row < row_free_at.size() && row_free_at[row] > r.begin) ++row;
        if (row == row_free_at.size()) row_free_at.push_back(0);
        row_free_at[row] = std::max(r.end, r.begin + 1);
        l.region_rows_of[i] = static_cast<std::uint32_t>(row);
    }
    l.region_rows_of.shrink_to_fit();
}

// Only the longest executions are embedded when there are too many: they are
// what a view of the whole run shows, and the short ones are visible as
// blocks until one zooms in. Returns, per lane, which tasks and regions are.
std::vector<std::pair<std::vector<bool>, std::vector<bool>>> timeline_exporter::choose_embedded() const {
    std::vector<std::uint64_t> durations;
    for (const lane& l : lanes_) {
        for (const execution& e : l.read_tasks) durations.push_back(duration(e));
        for (const execution& e : l.read_regions) durations.push_back(duration(e));
    }
    std::uint64_t cutoff = 0;
    std::size_t ties_left = durations.size();
    if (durations.size() > limits_.max_executions) {
        const std::size_t keep = limits_.max_executions;
        std::nth_element(durations.begin(), durations.begin() + static_cast<long>(keep), durations.end(),
                         std::greater<std::uint64_t>());
        // The keep-th longest: the shortest of those nth_element put first.
        cutoff = keep == 0 ? ~0ull : *std::min_element(durations.begin(), durations.begin() + static_cast<long>(keep));
        // Executions exactly as long as the cutoff fill what is left.
        const std::size_t longer = static_cast<std::size_t>(
            std::count_if(durations.begin(), durations.end(), [&](std::uint64_t d) { return d > cutoff; }));
        ties_left = keep - std::min(keep, longer);
    }
    auto embedded = [&](const execution& e) {
        const std::uint64_t d = duration(e);
        if (d > cutoff) return true;
        if (d < cutoff || ties_left == 0) return false;
        --ties_left;
        return true;
    };
    std::vector<std::pair<std::vector<bool>, std::vector<bool>>> chosen;
    for (const lane& l : lanes_) {
        std::vector<bool> tasks, regions;
        for (const execution& t : l.read_tasks) tasks.push_back(t.depth < limits_.max_task_rows && embedded(t));
        for (std::size_t i = 0; i < l.read_regions.size(); ++i)
            regions.push_back(l.region_rows_of[i] < limits_.max_region_rows && embedded(l.read_regions[i]));
        chosen.emplace_back(std::move(tasks), std::move(regions));
    }
    return chosen;
}

void timeline_exporter::select_bars() {
    for (lane& l : lanes_) {
        place_regions(l);
        for (std::uint32_t row : l.region_rows_of) l.region_rows = std::max<std::size_t>(l.region_rows, row + 1);
        l.region_rows = std::min(l.region_rows, limits_.max_region_rows);
        for (const execution& e : l.read_tasks)
            l.task_rows = std::max(l.task_rows, std::min(e.depth + 1, limits_.max_task_rows));
    }
    const auto chosen = choose_embedded();
    // The rows that get blocks share a budget of blocks: with many threads
    // each row's blocks are coarser.
    std::size_t rows_with_blocks = 0;
    for (std::size_t k = 0; k < lanes_.size(); ++k) {
        std::vector<bool> row_has(lanes_[k].region_rows + lanes_[k].task_rows, false);
        for (std::size_t i = 0; i < chosen[k].first.size(); ++i)
            if (!chosen[k].first[i]) row_has[task_drawing_row(lanes_[k], lanes_[k].read_tasks[i])] = true;
        for (std::size_t i = 0; i < chosen[k].second.size(); ++i)
            if (!chosen[k].second[i]) row_has[region_drawing_row(lanes_[k], i)] = true;
        rows_with_blocks += static_cast<std::size_t>(std::count(row_has.begin(), row_has.end(), true));
    }
    const std::size_t columns =
        std::clamp<std::size_t>(limits_.max_blocks / std::max<std::size_t>(rows_with_blocks, 1), 20, limits_.blocks_per_row);

    // Executions that get details on a click, longest first while the budget
    // lasts: (lane, is a region, position among the lane's bars, execution).
    std::vector<std::tuple<std::size_t, bool, std::size_t, const execution*>> clickable;
    for (std::size_t k = 0; k < lanes_.size(); ++k) {
        lane& l = lanes_[k];
        std::map<std::pair<std::uint32_t, std::uint64_t>, block> blocks;  // (row, column)
        for (std::size_t i = 0; i < l.read_regions.size(); ++i) {
            const execution& r = l.read_regions[i];
            if (chosen[k].second[i]) {
                clickable.emplace_back(k, true, l.regions.size(), &r);
                add_bar(l, r, l.region_rows_of[i], true);
            } else {
                add_to_block(blocks, r, region_drawing_row(l, i), columns);
            }
        }
        for (std::size_t i = 0; i < l.read_tasks.size(); ++i) {
            const execution& t = l.read_tasks[i];
            if (chosen[k].first[i]) {
                clickable.emplace_back(k, false, l.tasks.size(), &t);
                add_bar(l, t, static_cast<std::uint32_t>(t.depth), false);
            } else {
                add_to_block(blocks, t, task_drawing_row(l, t), columns);
            }
        }
        for (const auto& entry : blocks) l.blocks.push_back(entry.second);
    }
    details_positions_.reserve(clickable.size());
    std::stable_sort(clickable.begin(), clickable.end(),
                     [](const auto& a, const auto& b) { return duration(*std::get<3>(a)) > duration(*std::get<3>(b)); });
    for (const auto& [k, region, position, e] : clickable) {
        lane& l = lanes_[k];
        (region ? l.regions : l.tasks)[position].details = details_index(l.file.process, *e);
    }
    clickable.clear();

    for (lane& l : lanes_) {
        l.read_tasks = {};
        l.read_regions = {};
        l.region_rows_of = {};
        // The page finds what is in view by binary search along each row.
        auto by_row_then_time = [](const bar& a, const bar& b) { return std::tie(a.row, a.begin) < std::tie(b.row, b.begin); };
        std::sort(l.tasks.begin(), l.tasks.end(), by_row_then_time);
        std::sort(l.regions.begin(), l.regions.end(), by_row_then_time);
    }
}

// Rows of the lane's drawing: region rows first, then one per task depth;
// what lies past the last row is counted in the last.
std::uint32_t timeline_exporter::task_drawing_row(const lane& l, const execution& t) const {
    return static_cast<std::uint32_t>(l.region_rows + std::min(t.depth, l.task_rows - 1));
}
std::uint32_t timeline_exporter::region_drawing_row(const lane& l, std::size_t region) const {
    return std::min<std::uint32_t>(l.region_rows_of[region], static_cast<std::uint32_t>(l.region_rows - 1));
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

void timeline_exporter::add_to_block(std::map<std::pair<std::uint32_t, std::uint64_t>, block>& blocks, const execution& e,
                                     std::uint32_t drawing_row, std::size_t columns) {
    ++elided_;
    const std::uint64_t span = std::max<std::uint64_t>(last_ - first_, 1);
    const std::uint64_t begin = e.begin - first_;
    const auto column = static_cast<std::uint64_t>(static_cast<double>(begin) / static_cast<double>(span) *
                                                   static_cast<double>(columns));
    auto [it, added] = blocks.try_emplace({drawing_row, column}, block{begin, e.end - first_, drawing_row, 0});
    it->second.begin = std::min(it->second.begin, begin);
    it->second.end = std::max(it->second.end, e.end - first_);
    ++it->second.count;
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
    std::string json = "{\"id\":\"" + id_words(e.id) + "\",\"parent\":\"" + id_words(e.parent) + "\",\"node\":" +
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
                                  : key == "code_address" ? hex(entry.number)
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
