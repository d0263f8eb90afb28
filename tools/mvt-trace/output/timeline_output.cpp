#include "output/timeline_output.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "model/execution_tracker.h"
#include "model/name_table.h"
#include "reading/record_visitor.h"
#include "common/text_format.h"

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

// Everything the drawing needs before its first bar: the time range, the
// nesting depth of each lane, and the names that get colours.
class timeline_index : public record_visitor, public execution_listener {
public:
    void begin_file(const trace_file&, std::size_t) override {
        depths_.push_back(0);
        region_depths_.push_back(0);
        records_.push_back(0);
    }
    void record(const trace_record& record) override {
        names_.record(record);
        if (record.kind != record_kind::end_of_records) ++records_.back();
        if (!seen_) first_ = last_ = record.timestamp;
        seen_ = true;
        first_ = std::min(first_, record.timestamp);
        last_ = std::max(last_, record.timestamp);
        tracker_.record(record);
    }
    void end_file(const file_report&) override { tracker_.finish_file(); }
    void task_done(const execution& task) override {
        depths_.back() = std::max(depths_.back(), task.depth);
        if (colours_.emplace(task.name, order_.size()).second) order_.push_back(task.name);
        any_open_ = any_open_ || task.open_at_end;
    }
    void region_done(const execution& region) override {
        region_depths_.back() = std::max(region_depths_.back(), region.depth + 1);
        if (colours_.emplace(region.name, order_.size()).second) order_.push_back(region.name);
        any_open_ = any_open_ || region.open_at_end;
        any_region_ = true;
        region_names_.insert(region.name);
    }

    name_table names_;
    bool seen_ = false;
    std::uint64_t first_ = 0;
    std::uint64_t last_ = 0;
    std::vector<std::size_t> depths_;         // deepest task nesting per file
    std::vector<std::size_t> region_depths_;  // region rows per file (0: no region)
    std::vector<std::uint64_t> records_;      // records per file; files without are no thread
    bool any_open_ = false;
    bool any_region_ = false;
    std::unordered_set<std::uint64_t> region_names_;
    std::unordered_map<std::uint64_t, std::size_t> colours_;  // handle -> colour number
    std::vector<std::uint64_t> order_;                        // handles by first completion

private:
    execution_tracker tracker_{*this};
};

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
std::uint64_t tick_step(std::uint64_t span) {
    std::uint64_t step = 1;
    while (step * 10 < span) {
        if (step * 20 >= span) return step * 2;
        if (step * 50 >= span) return step * 5;
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
std::string fitted(const std::string& name, double room) {
    const auto fits = static_cast<std::size_t>(std::max(0.0, room / char_width));
    if (name.size() <= fits) return name;
    if (fits < 3) return {};
    std::size_t cut = fits - 1;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xc0) == 0x80) --cut;
    return name.substr(0, cut) + "\xe2\x80\xa6";
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

class timeline_writer : public record_visitor, public execution_listener {
public:
    timeline_writer(const timeline_index& index, const timeline_options& options, std::ostream& out)
        : index_(index), out_(out), width_(std::max(options.width, 400u)) {
        span_ = index.last_ - index.first_;
        if (span_ == 0) span_ = 1;
        double y = lanes_top;
        for (std::size_t file = 0; file < index.records_.size(); ++file) {
            lane_top_.push_back(y);
            if (index.records_[file] > 0) y += rows(file) * row_height + lane_gap;
        }
        lanes_bottom_ = y;
        std::size_t columns = std::max<std::size_t>(1, static_cast<std::size_t>((width_ - left_margin) / legend_column));
        legend_columns_ = columns;
        legend_rows_ = (legend_entries() + columns - 1) / columns;
        height_ = lanes_bottom_ + 30 + legend_rows_ * legend_row + 30;
    }

    void start(const std::vector<trace_file>& files) {
        out_ << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
             << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width_ << "\" height=\"" << number(height_)
             << "\" viewBox=\"0 0 " << width_ << " " << number(height_) << "\" font-family=\"Helvetica, Arial, sans-serif\" font-size=\"11\">\n"
             << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
             << "<text x=\"" << left_margin << "\" y=\"20\" font-size=\"14\" font-weight=\"bold\">Task executions, "
             << xml_escape(format_duration(index_.last_ - index_.first_)) << " from " << xml_escape(format_utc(index_.first_))
             << "</text>\n";
        write_axis();
        for (std::size_t lane = 0; lane < files.size(); ++lane) {
            if (index_.records_[lane] == 0) continue;
            double h = rows(lane) * row_height;
            out_ << "<rect x=\"" << left_margin << "\" y=\"" << number(lane_top_[lane]) << "\" width=\""
                 << number(plot_width()) << "\" height=\"" << number(h) << "\" fill=\"#f6f6f6\"/>\n"
                 << "<text x=\"8\" y=\"" << number(lane_top_[lane] + 11) << "\" font-weight=\"bold\">thread "
                 << files[lane].index << "</text>\n"
                 << "<text x=\"8\" y=\"" << number(lane_top_[lane] + 23) << "\" font-size=\"10\" fill=\"#667085\">"
                 << xml_escape(files[lane].name) << "</text>\n";
        }
    }

    void finish() {
        write_legend();
        if (merged_ > 0)
            out_ << "<text x=\"" << left_margin << "\" y=\"" << number(height_ - 10) << "\" fill=\"#666\">" << merged_
                 << " executions narrower than a pixel were drawn together with their neighbours</text>\n";
        out_ << "</svg>\n";
    }

    void begin_file(const trace_file&, std::size_t position) override {
        lane_ = position;
        row_end_.assign(max_region_rows + max_rows, -1.0);
    }
    void record(const trace_record& record) override { tracker_.record(record); }
    void end_file(const file_report&) override { tracker_.finish_file(); }
    void task_done(const execution& task) override {
        draw(task, region_rows(lane_) + std::min(task.depth, max_rows - 1), false);
    }
    void region_done(const execution& region) override {
        draw(region, std::min(region.depth, max_region_rows - 1), true);
    }

private:
    // Region rows come first in a lane, then one row per task nesting depth.
    std::size_t region_rows(std::size_t lane) const {
        return std::min(index_.region_depths_[lane], max_region_rows);
    }
    std::size_t rows(std::size_t lane) const {
        return region_rows(lane) + std::min(index_.depths_[lane] + 1, max_rows);
    }
    double plot_width() const { return width_ - left_margin - right_margin; }
    double x_of(std::uint64_t ts) const {
        std::uint64_t offset = ts > index_.first_ ? ts - index_.first_ : 0;
        return left_margin + plot_width() * static_cast<double>(offset) / static_cast<double>(span_);
    }
    std::size_t legend_entries() const {
        return index_.order_.size() + 1 + (index_.any_region_ ? 1 : 0) + (index_.any_open_ ? 1 : 0);
    }

    void draw(const execution& e, std::size_t row, bool region) {
        double x0 = x_of(e.begin);
        double x1 = std::max(x_of(e.end), x0 + 0.5);
        // Bars that would only repaint pixels already painted on their row
        // are left out, so a trace of millions of short tasks still gives a
        // picture of bounded size.
        if (x1 - x0 < 1.0 && x1 <= row_end_[row] + 1.0) {
            ++merged_;
            return;
        }
        row_end_[row] = std::max(row_end_[row], x1);
        auto found = index_.colours_.find(e.name);
        std::size_t colour_number = found == index_.colours_.end() ? 0 : found->second;
        const std::string name = index_.names_.handle_name(e.name);
        const double y = lane_top_[lane_] + static_cast<double>(row) * row_height + 1;
        const double h = row_height - 2;
        out_ << "<rect x=\"" << number(x0) << "\" y=\"" << number(y) << "\" width=\"" << number(x1 - x0) << "\" height=\""
             << number(h) << "\" fill=\"" << colour(colour_number) << "\""
             << (region ? " fill-opacity=\"0.25\" stroke=\"" + colour(colour_number) + "\" stroke-width=\"1.2\""
                        : " stroke=\"white\" stroke-width=\"0.5\"")
             << "><title>" << xml_escape(name) << " " << (region ? "region " : "") << id_text(e.id) << ": "
             << format_duration(e.end - e.begin) << " from +" << format_duration(e.begin - index_.first_)
             << (e.open_at_end ? " (still open at the end of the file)" : "") << "</title></rect>\n";
        if (e.open_at_end) out_ << open_end_mark(x1, y, h);
        const std::string label = fitted(name, x1 - x0 - 6 - (e.open_at_end ? 5 : 0));
        if (!label.empty())
            out_ << "<text x=\"" << number(x0 + 3) << "\" y=\"" << number(y + h / 2 + 3.5) << "\" fill=\""
                 << (region ? "#1f2430" : text_colour_on(colour_number)) << "\" pointer-events=\"none\">"
                 << xml_escape(label) << "</text>\n";
    }

    void write_axis() {
        std::uint64_t step = tick_step(span_);
        out_ << "<line x1=\"" << left_margin << "\" y1=\"" << axis_top + 12 << "\" x2=\"" << number(left_margin + plot_width())
             << "\" y2=\"" << axis_top + 12 << "\" stroke=\"#333\"/>\n";
        for (std::uint64_t t = 0; t <= span_; t += step) {
            double x = x_of(index_.first_ + t);
            out_ << "<line x1=\"" << number(x) << "\" y1=\"" << axis_top + 8 << "\" x2=\"" << number(x) << "\" y2=\""
                 << number(lanes_bottom_) << "\" stroke=\"#ddd\"/>\n"
                 << "<text x=\"" << number(x) << "\" y=\"" << axis_top + 4 << "\" text-anchor=\"middle\">"
                 << xml_escape(tick_label(t)) << "</text>\n";
            if (span_ - t < step) break;
        }
    }

    void legend_swatch(std::size_t i, const std::string& shape, const std::string& text) {
        double x = left_margin + static_cast<double>(i % legend_columns_) * legend_column;
        double y = lanes_bottom_ + 20 + static_cast<double>(i / legend_columns_) * legend_row;
        out_ << "<g transform=\"translate(" << number(x) << "," << number(y) << ")\">" << shape << "</g>\n"
             << "<text x=\"" << number(x + 20) << "\" y=\"" << number(y + 10) << "\">" << xml_escape(text) << "</text>\n";
    }

    void write_legend() {
        std::size_t i = 0;
        for (; i < index_.order_.size(); ++i) {
            const bool region = index_.region_names_.count(index_.order_[i]) != 0;
            legend_swatch(i, "<rect x=\"0.6\" y=\"0.6\" width=\"13\" height=\"11\" fill=\"" + colour(i) + "\"" +
                                 (region ? " fill-opacity=\"0.25\" stroke=\"" + colour(i) + "\" stroke-width=\"1.2\"" : "") + "/>",
                          index_.names_.handle_name(index_.order_[i]));
        }
        legend_swatch(i++, "<rect width=\"14\" height=\"12\" fill=\"#5b6473\"/>", "task execution (nested ones below)");
        if (index_.any_region_)
            legend_swatch(i++, "<rect x=\"0.6\" y=\"0.6\" width=\"13\" height=\"11\" fill=\"#5b6473\" fill-opacity=\"0.25\" stroke=\"#5b6473\" stroke-width=\"1.2\"/>",
                          "region (rows above the tasks)");
        if (index_.any_open_)
            legend_swatch(i++, "<rect width=\"14\" height=\"12\" fill=\"#5b6473\"/>" + open_end_mark(14, 0, 12),
                          "still open at the end of the file");
    }

    const timeline_index& index_;
    std::ostream& out_;
    unsigned width_;
    std::uint64_t span_ = 1;
    std::vector<double> lane_top_;
    double lanes_bottom_ = 0;
    std::size_t legend_rows_ = 0;
    std::size_t legend_columns_ = 1;
    double height_ = 0;
    std::size_t lane_ = 0;
    std::vector<double> row_end_;
    std::uint64_t merged_ = 0;
    execution_tracker tracker_{*this};
};

}  // namespace

std::vector<file_report> write_timeline(const std::vector<trace_file>& files, const timeline_options& options,
                                        std::ostream& out) {
    timeline_index index;
    visit_files(files, index);
    timeline_writer writer(index, options, out);
    writer.start(files);
    std::vector<file_report> reports = visit_files(files, writer);
    writer.finish();
    return reports;
}

}  // namespace mvt_trace
