#include "output/timeline_output.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <unordered_map>

#include "model/execution_tracker.h"
#include "model/name_table.h"
#include "reading/record_visitor.h"
#include "common/text_format.h"

namespace mvt_trace {

namespace {

constexpr double left_margin = 120;
constexpr double right_margin = 60;
constexpr double axis_top = 40;
constexpr double lanes_top = 64;
constexpr double row_height = 14;
constexpr double lane_gap = 8;
constexpr std::size_t max_rows = 8;
constexpr double legend_row = 18;
constexpr double legend_column = 260;

// Everything the drawing needs before its first bar: the time range, the
// nesting depth of each lane, and the names that get colours.
class timeline_index : public record_visitor, public execution_listener {
public:
    void begin_file(const trace_file&, std::size_t) override { depths_.push_back(0); }
    void record(const trace_record& record) override {
        names_.record(record);
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
    }
    void region_done(const execution&) override {}

    name_table names_;
    bool seen_ = false;
    std::uint64_t first_ = 0;
    std::uint64_t last_ = 0;
    std::vector<std::size_t> depths_;
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

class timeline_writer : public record_visitor, public execution_listener {
public:
    timeline_writer(const timeline_index& index, const timeline_options& options, std::size_t lanes, std::ostream& out)
        : index_(index), out_(out), width_(std::max(options.width, 400u)) {
        span_ = index.last_ - index.first_;
        if (span_ == 0) span_ = 1;
        double y = lanes_top;
        for (std::size_t lane = 0; lane < lanes; ++lane) {
            lane_top_.push_back(y);
            y += rows(lane) * row_height + lane_gap;
        }
        lanes_bottom_ = y;
        std::size_t columns = std::max<std::size_t>(1, static_cast<std::size_t>((width_ - left_margin) / legend_column));
        legend_rows_ = (index.order_.size() + columns - 1) / columns;
        legend_columns_ = columns;
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
            double h = rows(lane) * row_height;
            out_ << "<rect x=\"" << left_margin << "\" y=\"" << number(lane_top_[lane]) << "\" width=\""
                 << number(plot_width()) << "\" height=\"" << number(h) << "\" fill=\"#f6f6f6\"/>\n"
                 << "<text x=\"" << left_margin - 8 << "\" y=\"" << number(lane_top_[lane] + h / 2 + 4)
                 << "\" text-anchor=\"end\">" << xml_escape(files[lane].name) << "</text>\n";
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
        row_end_.assign(max_rows, -1.0);
    }
    void record(const trace_record& record) override { tracker_.record(record); }
    void end_file(const file_report&) override { tracker_.finish_file(); }
    void region_done(const execution&) override {}

    void task_done(const execution& task) override {
        std::size_t row = std::min(task.depth, max_rows - 1);
        double x0 = x_of(task.begin);
        double x1 = std::max(x_of(task.end), x0 + 0.5);
        // Bars that would only repaint pixels already painted on their row
        // are left out, so a trace of millions of short tasks still gives a
        // picture of bounded size.
        if (x1 - x0 < 1.0 && x1 <= row_end_[row] + 1.0) {
            ++merged_;
            return;
        }
        row_end_[row] = std::max(row_end_[row], x1);
        auto found = index_.colours_.find(task.name);
        std::size_t colour_number = found == index_.colours_.end() ? 0 : found->second;
        std::string name = xml_escape(index_.names_.handle_name(task.name));
        out_ << "<rect x=\"" << number(x0) << "\" y=\"" << number(lane_top_[lane_] + row * row_height + 1)
             << "\" width=\"" << number(x1 - x0) << "\" height=\"" << number(row_height - 2) << "\" stroke=\"white\" stroke-width=\"0.5\" fill=\""
             << colour(colour_number) << "\"><title>" << name << " " << id_text(task.id) << ": "
             << format_duration(task.end - task.begin) << " from +" << format_duration(task.begin - index_.first_)
             << (task.open_at_end ? " (still open at the end of the file)" : "") << "</title></rect>\n";
    }

private:
    std::size_t rows(std::size_t lane) const {
        std::size_t depth = lane < index_.depths_.size() ? index_.depths_[lane] : 0;
        return std::min(depth + 1, max_rows);
    }
    double plot_width() const { return width_ - left_margin - right_margin; }
    double x_of(std::uint64_t ts) const {
        std::uint64_t offset = ts > index_.first_ ? ts - index_.first_ : 0;
        return left_margin + plot_width() * static_cast<double>(offset) / static_cast<double>(span_);
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

    void write_legend() {
        double top = lanes_bottom_ + 20;
        for (std::size_t i = 0; i < index_.order_.size(); ++i) {
            double x = left_margin + static_cast<double>(i % legend_columns_) * legend_column;
            double y = top + static_cast<double>(i / legend_columns_) * legend_row;
            out_ << "<rect x=\"" << number(x) << "\" y=\"" << number(y) << "\" width=\"12\" height=\"12\" fill=\""
                 << colour(i) << "\"/>\n"
                 << "<text x=\"" << number(x + 18) << "\" y=\"" << number(y + 10) << "\">"
                 << xml_escape(index_.names_.handle_name(index_.order_[i])) << "</text>\n";
        }
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
    timeline_writer writer(index, options, files.size(), out);
    writer.start(files);
    std::vector<file_report> reports = visit_files(files, writer);
    writer.finish();
    return reports;
}

}  // namespace mvt_trace
