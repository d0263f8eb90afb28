#include "output/report/timeline_data.h"

#include <algorithm>
#include <charconv>
#include <string>
#include <tuple>
#include <map>
#include <unordered_map>

#include "common/json_text.h"
#include "common/text_format.h"
#include "output/region_rows.h"

namespace mvt_trace {

namespace {

// Text past the limit is cut, at a byte that starts a character, and marked.
std::string shortened(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return std::string(text);
    std::size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xc0) == 0x80) --cut;
    return std::string(text.substr(0, cut)) + "\xe2\x80\xa6";  // an ellipsis
}

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

// One bar as the page draws it: times are offsets from the run's first
// timestamp, `row` its depth among tasks or its row among regions.
struct bar {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
    std::uint32_t row = 0;
    std::uint32_t name = 0;  // into names
    long details = -1;       // into details
    bool open = false;
};

struct block {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
    std::uint32_t row = 0;  // the lane's drawing row: region rows first, then task depths
    std::uint64_t count = 0;
};

struct lane {
    std::uint32_t thread = 0;
    std::size_t region_rows = 0;
    std::size_t task_rows = 0;
    std::vector<bar> tasks, regions;
    std::vector<block> blocks;
};

// "NAME":{"b":[...],"e":[...],"d":[...],"n":[...],"x":[...]}, collecting the
// positions of the executions still open at the end.
void write_bars(std::ostream& out, const char* name, const std::vector<bar>& bars, std::vector<std::size_t>& open) {
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

class timeline_builder {
public:
    timeline_builder(const run_analysis& run, const timeline_limits& limits)
        : run_(run), model_(run.model), limits_(limits) {
        limits_.max_task_rows = std::max<std::size_t>(limits_.max_task_rows, 1);
        limits_.max_region_rows = std::max<std::size_t>(limits_.max_region_rows, 1);
        first_ = model_.first_timestamp();
    }

    std::uint64_t write(std::ostream& out) {
        lay_out_lanes();
        choose_bars();
        lay_out_blocks();
        out << "{\"span_ns\":" << model_.wall() << ",\"names\":[";
        for (std::size_t i = 0; i < names_.size(); ++i) out << (i == 0 ? "" : ",") << json_quoted(names_[i]);
        out << "],\"lanes\":[";
        bool first = true;
        for (const lane& l : lanes_) {
            const trace_model::thread& t = model_.threads()[l.thread];
            if (t.records == 0) continue;  // a file opened in advance and never used is no thread
            out << (first ? "" : ",") << "{\"label\":\"thread " << t.file.index << "\",\"file\":" << json_quoted(t.file.path)
                << ",\"process\":" << t.process << ",\"rows\":" << l.region_rows + l.task_rows
                << ",\"region_rows\":" << l.region_rows << ",\"records\":" << t.records;
            first = false;
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
        return elided_;
    }

private:
    // What may be drawn one by one: a piece, or a region.
    struct candidate {
        std::uint64_t length;
        std::uint32_t index;
        bool region;
    };

    // Regions need not nest: each goes on the first row free when it
    // begins, on the thread that began it.
    void lay_out_lanes() {
        const std::size_t threads = model_.threads().size();
        lanes_.resize(threads);
        for (std::uint32_t t = 0; t < threads; ++t) lanes_[t].thread = t;
        region_row_ = region_rows(model_, regions_by_begin(model_));
        for (std::uint32_t r = 0; r < region_row_.size(); ++r) {
            lane& l = lanes_[model_.regions()[r].begin_thread];
            l.region_rows = std::max(l.region_rows, std::min<std::size_t>(region_row_[r] + std::size_t{1}, limits_.max_region_rows));
        }
        for (const trace_model::piece& p : model_.pieces()) {
            lane& l = lanes_[p.thread];
            l.task_rows = std::max(l.task_rows, std::min<std::size_t>(p.depth + 1, limits_.max_task_rows));
        }
    }

    // Only the longest are embedded when there are too many: they are what
    // a view of the whole run shows, and the short ones are visible as
    // blocks until one zooms in. Tasks nested deeper and regions on more
    // rows than the page draws are blocks on the last row.
    void choose_bars() {
        std::vector<candidate> candidates;
        for (std::uint32_t p = 0; p < model_.pieces().size(); ++p) {
            const trace_model::piece& piece = model_.pieces()[p];
            if (piece.depth >= limits_.max_task_rows) {
                add_to_blocks(piece.thread, piece.begin, piece.end, lanes_[piece.thread].region_rows + limits_.max_task_rows - 1);
                continue;
            }
            candidates.push_back({piece.end - piece.begin, p, false});
        }
        for (std::uint32_t r = 0; r < model_.regions().size(); ++r) {
            const trace_model::region& region = model_.regions()[r];
            if (region_row_[r] >= limits_.max_region_rows) {
                add_to_blocks(region.begin_thread, region.begin, region.end,
                              static_cast<std::uint32_t>(limits_.max_region_rows - 1));
                continue;
            }
            candidates.push_back({region.end - region.begin, r, true});
        }
        // Longest first, so that the details' budget goes to them; equal
        // lengths in the order they came, so the page does not depend on the
        // sort.
        std::stable_sort(candidates.begin(), candidates.end(),
                         [](const candidate& a, const candidate& b) { return a.length > b.length; });
        for (std::size_t k = 0; k < candidates.size(); ++k) {
            const candidate& c = candidates[k];
            if (k >= limits_.max_executions) {
                if (c.region) {
                    const trace_model::region& region = model_.regions()[c.index];
                    add_to_blocks(region.begin_thread, region.begin, region.end, region_row_[c.index]);
                } else {
                    const trace_model::piece& piece = model_.pieces()[c.index];
                    add_to_blocks(piece.thread, piece.begin, piece.end,
                                  static_cast<std::uint32_t>(lanes_[piece.thread].region_rows + piece.depth));
                }
                continue;
            }
            c.region ? add_region(c.index) : add_piece(c.index);
        }
        for (lane& l : lanes_) {
            // The page finds what is in view by binary search along each row.
            auto by_row_then_time = [](const bar& a, const bar& b) {
                return std::tie(a.row, a.begin) < std::tie(b.row, b.begin);
            };
            std::sort(l.tasks.begin(), l.tasks.end(), by_row_then_time);
            std::sort(l.regions.begin(), l.regions.end(), by_row_then_time);
        }
    }

    void add_piece(std::uint32_t index) {
        const trace_model::piece& p = model_.pieces()[index];
        const trace_model::execution& e = model_.executions()[p.execution];
        bar b;
        b.begin = p.begin - std::min(p.begin, first_);
        b.end = p.end - std::min(p.end, first_);
        b.row = p.depth;
        b.name = name_index(run_.labels.of_execution(model_, e));
        b.open = e.open_at_end && p.next == no_index;
        b.details = details_index(p.execution);
        lanes_[p.thread].tasks.push_back(b);
    }

    void add_region(std::uint32_t index) {
        const trace_model::region& r = model_.regions()[index];
        bar b;
        b.begin = r.begin - std::min(r.begin, first_);
        b.end = r.end - std::min(r.end, first_);
        b.row = region_row_[index];
        b.name = name_index(model_.text(r.name));
        b.open = r.open_at_end;
        lanes_[r.begin_thread].regions.push_back(b);
    }

    void add_to_blocks(std::uint32_t thread, std::uint64_t begin, std::uint64_t end, std::uint32_t row) {
        ++elided_;
        elided_rows_[{thread, row}].push_back({begin, end});
    }

    // The rows that get blocks share a budget of blocks: with many threads
    // each row's blocks are coarser.
    void lay_out_blocks() {
        const std::size_t columns = std::clamp<std::size_t>(
            limits_.max_blocks / std::max<std::size_t>(elided_rows_.size(), 1), 20, limits_.blocks_per_row);
        const double span = static_cast<double>(std::max<std::uint64_t>(model_.wall(), 1));
        for (auto& [key, spans] : elided_rows_) {
            std::vector<block> row(columns);
            for (const auto& [begin, end] : spans) {
                const std::uint64_t b = begin - std::min(begin, first_), e = end - std::min(end, first_);
                const double at = static_cast<double>(b) / span * static_cast<double>(columns);
                block& bl = row[std::min(static_cast<std::size_t>(at), columns - 1)];
                bl.begin = bl.count == 0 ? b : std::min(bl.begin, b);
                bl.end = bl.count == 0 ? e : std::max(bl.end, e);
                ++bl.count;
            }
            for (block& bl : row)
                if (bl.count > 0) {
                    bl.row = key.second;
                    lanes_[key.first].blocks.push_back(bl);
                }
        }
    }

    std::uint32_t name_index(std::string_view text) {
        std::string name = shortened(text, limits_.max_text);
        // Past the budget, new names share one entry that says so.
        if (names_bytes_ + name.size() > limits_.max_names_bytes && name_positions_.count(name) == 0)
            name = "(a name past the page's size limit)";
        auto [position, added] = name_positions_.emplace(name, static_cast<std::uint32_t>(names_.size()));
        if (added) {
            names_bytes_ += name.size();
            names_.push_back(std::move(name));
        }
        return position->second;
    }

    // What a click shows: identifiers, its node's row, its pieces, its
    // metadata. The pieces of one execution share an entry.
    long details_index(std::uint32_t execution) {
        auto [at, added] = details_of_.emplace(execution, -1);
        if (!added) return at->second;
        std::string json = details_json(model_.executions()[execution]);
        if (details_bytes_ + json.size() <= limits_.max_details_bytes) {
            details_bytes_ += json.size();
            at->second = static_cast<long>(details_.size());
            details_.push_back(std::move(json));
        }
        return at->second;
    }

    std::string details_json(const trace_model::execution& e) const {
        const std::uint32_t process = model_.process_of(e);
        const trace_model::process& owner = model_.processes()[process];
        long node = -1;
        if (e.node != no_index && run_.statistics.row_of_object[e.node] < execution_statistics::runtime_row)
            node = static_cast<long>(run_.statistics.row_of_object[e.node]);
        std::string json = "{\"id\":\"" + full_id_text(model_.id_of(e)) + "\",\"parent\":\"" +
                           full_id_text(owner.ids.id(e.parent)) + "\",\"node\":" + std::to_string(node) +
                           ",\"name\":" + json_quoted(shortened(model_.text(e.name), limits_.max_text)) +
                           ",\"busy_ns\":" + std::to_string(e.busy) + ",\"pieces\":" + std::to_string(e.piece_count) +
                           ",\"metadata\":{";
        const auto [first, last] = model_.metadata_of(process, e.id);
        for (const trace_model::metadata_value* m = first; m != last; ++m) {
            const std::string_view key = model_.text(m->key);
            const std::string value = m->is_text ? shortened(model_.text(m->text), limits_.max_text)
                                      : key == "code_address" ? hex_address(m->number)
                                                              : std::to_string(m->number);
            json += (m == first ? "" : ",") + json_quoted(key) + ":" + json_quoted(value);
        }
        return json + "}}";
    }

    const run_analysis& run_;
    const trace_model& model_;
    timeline_limits limits_;
    std::uint64_t first_ = 0;
    std::vector<lane> lanes_;
    std::vector<std::uint32_t> region_row_;
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::vector<std::pair<std::uint64_t, std::uint64_t>>> elided_rows_;
    std::uint64_t elided_ = 0;
    std::vector<std::string> names_;
    std::unordered_map<std::string, std::uint32_t> name_positions_;
    std::size_t names_bytes_ = 0;
    std::vector<std::string> details_;
    std::unordered_map<std::uint32_t, long> details_of_;
    std::size_t details_bytes_ = 0;
};

}  // namespace

std::uint64_t write_timeline_json(const run_analysis& run, const timeline_limits& limits, std::ostream& out) {
    return timeline_builder(run, limits).write(out);
}

}  // namespace mvt_trace
