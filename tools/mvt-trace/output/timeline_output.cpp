#include "output/timeline_output.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "common/text_format.h"
#include "output/region_rows.h"

namespace mvt_trace {

namespace {

constexpr double left_margin = 130;
constexpr double right_margin = 60;
constexpr double axis_top = 40;
constexpr double lanes_top = 64;
constexpr double row_height = 14;
constexpr double lane_gap = 8;
constexpr std::size_t max_rows = 8;         // task nesting depths drawn
constexpr std::size_t max_region_rows = 3;  // rows of overlapping regions drawn
constexpr double char_width = 6.2;          // of the 11 px font, on average, to judge what fits
constexpr double legend_row = 18;
constexpr double legend_column = 260;

std::string colour(std::size_t n) {
    static const char* const palette[] = {"#4e79a7", "#f28e2b", "#59a14f", "#e15759", "#76b7b2", "#edc948",
                                          "#b07aa1", "#ff9da7", "#9c755f", "#bab0ac", "#1f77b4", "#8cd17d"};
    constexpr std::size_t palette_size = sizeof palette / sizeof palette[0];
    if (n < palette_size) return palette[n];
    // Past the palette, hues a golden angle apart stay distinguishable.
    char text[32];
    std::snprintf(text, sizeof text, "hsl(%d,55%%,55%%)", static_cast<int>(std::fmod(n * 137.508, 360.0)));
    return text;
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

// 1, 2 or 5 times a power of ten, giving about ten ticks over the span.
// Written with divisions, so that a span near 2^64 cannot wrap the step.
std::uint64_t tick_step(std::uint64_t span) {
    std::uint64_t step = 1;
    while (span / step > 10) {
        if (span / step <= 20) return step * 2;
        if (span / step <= 50) return step * 5;
        if (step > UINT64_MAX / 10) return step;
        step *= 10;
    }
    return step;
}

// "+1.5 ms" rather than "+1.500 ms": ticks are round numbers.
std::string tick_label(std::uint64_t t) {
    if (t == 0) return "0";
    std::string text = format_duration(t);
    std::size_t dot = text.find('.');
    if (dot != std::string::npos) {
        std::size_t space = text.find(' ', dot);
        std::size_t last = text.find_last_not_of('0', space - 1);
        text.erase(last == dot ? dot : last + 1, space - (last == dot ? dot : last + 1));
    }
    return "+" + text;
}

// A name cut to what fits in `room` pixels, with an ellipsis; empty when not
// even two characters fit.
std::string fitted(std::string_view name, double room) {
    const auto fits = static_cast<std::size_t>(std::max(0.0, room / char_width));
    if (name.size() <= fits) return std::string(name);
    if (fits < 3) return {};
    std::size_t cut = fits - 1;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xc0) == 0x80) --cut;
    return std::string(name.substr(0, cut)) + "\xe2\x80\xa6";
}

// Dark text on light fills, white on dark ones.
const char* text_colour_on(std::size_t colour_number) {
    static const bool light[] = {false, false, false, false, true, true, false, true, false, true, false, true};
    return colour_number < sizeof light / sizeof light[0] && light[colour_number] ? "#1f2430" : "#ffffff";
}

// A torn right edge: the execution was still open when its file ended.
std::string open_end_mark(double x, double y, double height) {
    std::string points;
    for (int k = 0; k <= 4; ++k)
        points += number(k % 2 ? x - 4 : x) + "," + number(y + height * k / 4) + " ";
    points.pop_back();
    return "<polyline points=\"" + points + "\" fill=\"white\" stroke=\"#3b4556\" stroke-width=\"1.2\"/>\n";
}

class timeline_writer {
public:
    timeline_writer(const trace_model& model, const run_labels& labels, const timeline_options& options,
                    std::ostream& out)
        : model_(model), labels_(labels), out_(out), width_(std::max(options.width, 400u)) {
        first_ = model.first_timestamp();
        span_ = std::max<std::uint64_t>(model.wall(), 1);
        assign_rows();
        double y = lanes_top;
        for (std::size_t t = 0; t < model.threads().size(); ++t) {
            lane_top_.push_back(y);
            if (model.threads()[t].records > 0) y += static_cast<double>(rows(t)) * row_height + lane_gap;
        }
        lanes_bottom_ = y;
        legend_columns_ = std::max<std::size_t>(1, static_cast<std::size_t>((width_ - left_margin) / legend_column));
        legend_rows_ = (legend_entries() + legend_columns_ - 1) / legend_columns_;
        height_ = lanes_bottom_ + 30 + static_cast<double>(legend_rows_) * legend_row + 30;
    }

    void write() {
        out_ << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
             << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width_ << "\" height=\"" << number(height_)
             << "\" viewBox=\"0 0 " << width_ << " " << number(height_)
             << "\" font-family=\"Helvetica, Arial, sans-serif\" font-size=\"11\">\n"
             << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
             << "<text x=\"" << left_margin << "\" y=\"20\" font-size=\"14\" font-weight=\"bold\">Task executions, "
             << xml_escape(format_duration(model_.wall())) << " from " << xml_escape(format_utc(first_)) << "</text>\n";
        write_axis();
        for (std::size_t t = 0; t < model_.threads().size(); ++t) {
            const trace_model::thread& thread = model_.threads()[t];
            if (thread.records == 0) continue;
            const double h = static_cast<double>(rows(t)) * row_height;
            out_ << "<rect x=\"" << left_margin << "\" y=\"" << number(lane_top_[t]) << "\" width=\""
                 << number(plot_width()) << "\" height=\"" << number(h) << "\" fill=\"#f6f6f6\"/>\n"
                 << "<text x=\"8\" y=\"" << number(lane_top_[t] + 11) << "\" font-weight=\"bold\">thread "
                 << thread.file.index << "</text>\n"
                 << "<text x=\"8\" y=\"" << number(lane_top_[t] + 23) << "\" font-size=\"10\" fill=\"#667085\">"
                 << xml_escape(thread.file.name) << "</text>\n";
        }
        for (std::size_t t = 0; t < model_.threads().size(); ++t) {
            row_end_.assign(max_region_rows + max_rows, -1.0);
            for (std::uint32_t r : regions_of_[t]) draw_region(r);
            const auto [first, last] = model_.pieces_of_thread(t);
            for (const std::uint32_t* p = first; p != last; ++p) draw_piece(*p);
        }
        write_legend();
        if (merged_ > 0)
            out_ << "<text x=\"" << left_margin << "\" y=\"" << number(height_ - 10) << "\" fill=\"#666\">" << merged_
                 << " executions narrower than a pixel were drawn together with their neighbours</text>\n";
        out_ << "</svg>\n";
    }

private:
    // Regions on rows of their own above the tasks, drawn on the thread that
    // began them; one that overlaps those before it takes the next row.
    void assign_rows() {
        const std::size_t threads = model_.threads().size();
        regions_of_.resize(threads);
        region_rows_.assign(threads, 0);
        task_rows_.assign(threads, 0);
        const std::vector<std::uint32_t> by_begin = regions_by_begin(model_);
        region_row_ = region_rows(model_, by_begin);
        for (std::uint32_t r : by_begin) {
            const trace_model::region& region = model_.regions()[r];
            region_row_[r] = std::min<std::uint32_t>(region_row_[r], static_cast<std::uint32_t>(max_region_rows - 1));
            region_rows_[region.begin_thread] = std::max(region_rows_[region.begin_thread], region_row_[r] + std::size_t{1});
            regions_of_[region.begin_thread].push_back(r);
            note_colour(model_.text(region.name), true);
            any_open_ = any_open_ || region.open_at_end;
        }
        for (std::size_t t = 0; t < threads; ++t)
            for (const std::uint32_t* p = model_.pieces_of_thread(t).first; p != model_.pieces_of_thread(t).second; ++p) {
                const trace_model::piece& piece = model_.pieces()[*p];
                task_rows_[t] = std::max<std::size_t>(task_rows_[t], std::min<std::size_t>(piece.depth + 1, max_rows));
                const trace_model::execution& e = model_.executions()[piece.execution];
                note_colour(labels_.of_execution(model_, e), false);
                any_open_ = any_open_ || e.open_at_end;
            }
    }

    void note_colour(std::string_view name, bool region) {
        auto [at, added] = colours_.emplace(std::string(name), order_.size());
        if (added) {
            order_.push_back(std::string(name));
            region_name_.push_back(region);
        }
    }

    std::size_t rows(std::size_t t) const { return region_rows_[t] + std::max<std::size_t>(task_rows_[t], 1); }
    double plot_width() const { return width_ - left_margin - right_margin; }
    double x_of(std::uint64_t ts) const {
        const std::uint64_t offset = ts > first_ ? ts - first_ : 0;
        return left_margin + plot_width() * static_cast<double>(offset) / static_cast<double>(span_);
    }
    std::size_t legend_entries() const {
        return order_.size() + 1 + (model_.regions().empty() ? 0 : 1) + (any_open_ ? 1 : 0);
    }

    void draw_region(std::uint32_t r) {
        const trace_model::region& region = model_.regions()[r];
        const std::uint32_t id = region.id;
        const std::uint32_t process = model_.threads()[region.begin_thread].process;
        draw(region.begin_thread, region.begin, region.end, region_row_[r], model_.text(region.name),
             "region " + id_text(model_.processes()[process].ids.id(id)), region.open_at_end, true);
    }

    void draw_piece(std::size_t index) {
        const trace_model::piece& p = model_.pieces()[index];
        const trace_model::execution& e = model_.executions()[p.execution];
        std::string what = id_text(model_.id_of(e));
        if (e.piece_count > 1) what += ", " + std::to_string(e.piece_count) + " pieces in all";
        draw(p.thread, p.begin, p.end, region_rows_[p.thread] + std::min<std::size_t>(p.depth, max_rows - 1),
             labels_.of_execution(model_, e), what, e.open_at_end && p.next == no_index, false);
    }

    void draw(std::uint32_t thread, std::uint64_t begin, std::uint64_t end, std::size_t row, std::string_view name,
              const std::string& what, bool open, bool region) {
        const double x0 = x_of(begin);
        const double x1 = std::max(x_of(end), x0 + 0.5);
        // Bars that would only repaint pixels already painted on their row
        // are left out, so a trace of millions of short tasks still gives a
        // picture of bounded size.
        if (x1 - x0 < 1.0 && x1 <= row_end_[row] + 1.0) {
            ++merged_;
            return;
        }
        row_end_[row] = std::max(row_end_[row], x1);
        const auto noted = colours_.find(name);
        const std::size_t colour_number = noted == colours_.end() ? 0 : noted->second;
        const double y = lane_top_[thread] + static_cast<double>(row) * row_height + 1;
        const double h = row_height - 2;
        out_ << "<rect x=\"" << number(x0) << "\" y=\"" << number(y) << "\" width=\"" << number(x1 - x0) << "\" height=\""
             << number(h) << "\" fill=\"" << colour(colour_number) << "\""
             << (region ? " fill-opacity=\"0.25\" stroke=\"" + colour(colour_number) + "\" stroke-width=\"1.2\""
                        : " stroke=\"white\" stroke-width=\"0.5\"")
             << "><title>" << xml_escape(name) << " " << xml_escape(what) << ": " << format_duration(end - begin)
             << " from +" << format_duration(begin - std::min(begin, first_))
             << (open ? " (still open at the end of the file)" : "") << "</title></rect>\n";
        if (open) out_ << open_end_mark(x1, y, h);
        const std::string label = fitted(name, x1 - x0 - 6 - (open ? 5 : 0));
        if (!label.empty())
            out_ << "<text x=\"" << number(x0 + 3) << "\" y=\"" << number(y + h / 2 + 3.5) << "\" fill=\""
                 << (region ? "#1f2430" : text_colour_on(colour_number)) << "\" pointer-events=\"none\">"
                 << xml_escape(label) << "</text>\n";
    }

    void write_axis() {
        const std::uint64_t step = tick_step(span_);
        out_ << "<line x1=\"" << left_margin << "\" y1=\"" << axis_top + 12 << "\" x2=\"" << number(left_margin + plot_width())
             << "\" y2=\"" << axis_top + 12 << "\" stroke=\"#333\"/>\n";
        for (std::uint64_t t = 0;; t += step) {
            const double x = x_of(first_ + std::min(t, UINT64_MAX - first_));
            out_ << "<line x1=\"" << number(x) << "\" y1=\"" << axis_top + 8 << "\" x2=\"" << number(x) << "\" y2=\""
                 << number(lanes_bottom_) << "\" stroke=\"#ddd\"/>\n"
                 << "<text x=\"" << number(x) << "\" y=\"" << axis_top + 4 << "\" text-anchor=\"middle\">"
                 << xml_escape(tick_label(t)) << "</text>\n";
            if (span_ - t < step) break;
        }
    }

    void legend_swatch(std::size_t i, const std::string& shape, const std::string& text) {
        const double x = left_margin + static_cast<double>(i % legend_columns_) * legend_column;
        const double y = lanes_bottom_ + 20 + static_cast<double>(i / legend_columns_) * legend_row;
        out_ << "<g transform=\"translate(" << number(x) << "," << number(y) << ")\">" << shape << "</g>\n"
             << "<text x=\"" << number(x + 20) << "\" y=\"" << number(y + 10) << "\">" << xml_escape(text) << "</text>\n";
    }

    void write_legend() {
        std::size_t i = 0;
        for (; i < order_.size(); ++i)
            legend_swatch(i, "<rect x=\"0.6\" y=\"0.6\" width=\"13\" height=\"11\" fill=\"" + colour(i) + "\"" +
                                 (region_name_[i] ? " fill-opacity=\"0.25\" stroke=\"" + colour(i) + "\" stroke-width=\"1.2\"" : "") +
                                 "/>",
                          order_[i]);
        legend_swatch(i++, "<rect width=\"14\" height=\"12\" fill=\"#5b6473\"/>", "task execution (nested ones below)");
        if (!model_.regions().empty())
            legend_swatch(i++,
                          "<rect x=\"0.6\" y=\"0.6\" width=\"13\" height=\"11\" fill=\"#5b6473\" fill-opacity=\"0.25\" "
                          "stroke=\"#5b6473\" stroke-width=\"1.2\"/>",
                          "region (rows above the tasks)");
        if (any_open_)
            legend_swatch(i++, "<rect width=\"14\" height=\"12\" fill=\"#5b6473\"/>" + open_end_mark(14, 0, 12),
                          "still open at the end of the file");
    }

    const trace_model& model_;
    const run_labels& labels_;
    std::ostream& out_;
    unsigned width_;
    std::uint64_t first_ = 0;
    std::uint64_t span_ = 1;
    std::vector<std::vector<std::uint32_t>> regions_of_;
    std::vector<std::size_t> region_rows_, task_rows_;
    std::vector<std::uint32_t> region_row_;
    std::map<std::string, std::size_t, std::less<>> colours_;
    std::vector<std::string> order_;  // names by first appearance
    std::vector<char> region_name_;
    bool any_open_ = false;
    std::vector<double> lane_top_;
    double lanes_bottom_ = 0;
    std::size_t legend_rows_ = 0;
    std::size_t legend_columns_ = 1;
    double height_ = 0;
    std::vector<double> row_end_;
    std::uint64_t merged_ = 0;
};

}  // namespace

void write_timeline(const trace_model& model, const run_labels& labels, const timeline_options& options,
                    std::ostream& out) {
    timeline_writer(model, labels, options, out).write();
}

}  // namespace mvt_trace
