#include "output/diff_text.h"

#include <cstdio>
#include <iomanip>
#include <string>

#include "common/terminal_text.h"
#include "common/text_format.h"

namespace mvt_trace {

namespace {

// Constructs shown beside those that regressed, which are always shown.
constexpr std::size_t shown_rows = 20;

std::string signed_percent(double ratio) {
    char text[64];
    std::snprintf(text, sizeof text, "%+.1f %%", 100 * ratio);
    return text;
}

std::string change_text(const std::optional<double>& change) { return change ? signed_percent(*change) : "-"; }

std::string p_text(double p) {
    if (p < 0.0001) return "p < 0.0001";
    char text[32];
    std::snprintf(text, sizeof text, "p = %.2g", p);
    return text;
}

std::string name_of(group_kind kind, const std::string& label) {
    return kind == group_kind::construct ? printable(label) : printable(label) + " (tasks of no node, by name)";
}

std::string directories_text(const std::vector<std::string>& directories) {
    std::string text;
    for (std::size_t i = 0; i < directories.size() && i < 3; ++i) text += (i ? ", " : "") + printable(directories[i]);
    if (directories.size() > 3) text += ", ...";
    return text + " (" + counted(directories.size(), "process", "processes") + ")";
}

void write_measure(std::ostream& out, const char* name, const std::string& base, const std::string& fresh,
                   const std::optional<double>& change) {
    out << "  " << std::left << std::setw(18) << name << std::right << std::setw(13) << base << std::setw(13)
        << fresh << std::setw(10) << change_text(change) << "\n";
}

void write_run(const run_comparison& c, std::ostream& out) {
    out << "run" << std::setw(31) << "base" << std::setw(13) << "new" << std::setw(10) << "change"
        << "\n";
    auto duration = [&](const char* name, const duration_change& m) {
        write_measure(out, name, format_duration(m.base), format_duration(m.fresh), m.change);
    };
    auto ratio = [&](const char* name, const measure_change& m) {
        write_measure(out, name, fixed(m.base, 2), fixed(m.fresh, 2), m.change);
    };
    duration("wall", c.wall);
    duration("work", c.work);
    duration("span", c.span);
    ratio("parallelism", c.parallelism);
    ratio("concurrency", c.concurrency);
    ratio("task concurrency", c.task_concurrency);
}

std::string verdict(const group_change& g, const comparison_options& options) {
    const rank_test& t = g.test;
    if (t.how == rank_test::method::too_few)
        return "too few executions to test (" + std::to_string(g.base.executions) + " and " +
               std::to_string(g.fresh.executions) + ")";
    const std::string p = p_text(t.p_value);
    if (g.regressed) return p + ": REGRESSED";
    if (!t.significant) return p + ": no significant change";
    if (t.u * 2 < static_cast<double>(t.pairs)) return p + ": faster";
    return p + ": slower, but the median not by more than " + signed_percent(options.threshold);
}

void write_summary_row(std::ostream& out, const char* side, const duration_summary& s) {
    out << "    " << std::left << std::setw(5) << side << std::right << std::setw(11) << s.executions;
    for (std::uint64_t v : {s.total, s.mean, s.p50, s.p95}) out << std::setw(12) << format_duration(v);
    out << "\n";
}

void write_group(std::ostream& out, const group_change& g, const comparison_options& options) {
    out << "  " << name_of(g.kind, g.label) << "\n";
    out << "    " << std::setw(16) << "executions" << std::setw(12) << "total" << std::setw(12) << "mean"
        << std::setw(12) << "p50" << std::setw(12) << "p95"
        << "\n";
    write_summary_row(out, "base", g.base);
    write_summary_row(out, "new", g.fresh);
    out << "    mean " << change_text(g.change) << ", median " << change_text(g.median_change) << ", "
        << verdict(g, options) << "\n";
}

void write_groups(const run_comparison& c, std::ostream& out) {
    out << "\nconstructs in both runs: " << c.groups.size() << ", those that regressed first\n";
    std::size_t others = 0;
    for (const group_change& g : c.groups)
        if (g.regressed) write_group(out, g, c.options);
    for (const group_change& g : c.groups) {
        if (g.regressed) continue;
        if (others++ < shown_rows) write_group(out, g, c.options);
    }
    if (others > shown_rows) out << "  ... " << (others - shown_rows) << " more, none regressed\n";
}

void write_lone(std::ostream& out, const char* what, const std::vector<lone_group>& groups) {
    if (groups.empty()) {
        out << "\n" << what << ": none\n";
        return;
    }
    out << "\n" << what << ": " << groups.size() << "\n";
    for (std::size_t i = 0; i < groups.size() && i < shown_rows; ++i) {
        const lone_group& g = groups[i];
        out << "  " << std::setw(11) << g.stats.executions << " x " << std::setw(11) << format_duration(g.stats.mean)
            << "  " << name_of(g.kind, g.label) << "\n";
    }
    if (groups.size() > shown_rows) out << "  ... " << (groups.size() - shown_rows) << " more\n";
}

}  // namespace

void write_comparison_text(const run_comparison& c, std::ostream& out) {
    out << "base: " << directories_text(c.base_directories) << "\n";
    out << "new:  " << directories_text(c.fresh_directories) << "\n\n";
    write_run(c, out);
    write_groups(c, out);
    write_lone(out, "added (in the new run only)", c.added);
    write_lone(out, "removed (in the base run only)", c.removed);
    const std::size_t regressed = c.regressions();
    // The rule, where the verdict stands, so that a CI log explains itself.
    const std::string rule = "slower by the rank test at " + fixed(100 * c.options.alpha, 0) +
                             " % and the median up by more than " + fixed(100 * c.options.threshold, 1) + " %";
    if (regressed == 0) {
        out << "\nnothing regressed (" << rule << ")\n";
        return;
    }
    out << "\nregressed (" << rule << "): " << regressed << " of "
        << counted(c.groups.size(), "construct", "constructs") << ":";
    bool first = true;
    for (const group_change& g : c.groups) {
        if (!g.regressed) continue;
        out << (first ? " " : ", ") << name_of(g.kind, g.label) << " (median " << change_text(g.median_change) << ")";
        first = false;
    }
    out << "\n";
}

}  // namespace mvt_trace
