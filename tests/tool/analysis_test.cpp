// The pieces whose limits golden traces cannot reach: reading without the
// fields (line skipping across buffer refills), the quantile sketch's
// accuracy over many values, graphs deeper than a call stack, and the graph
// with vertices that stands in for edges too many to expand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "analysis/critical_path.h"
#include "analysis/duration_stats.h"
#include "analysis/quantile_sketch.h"
#include "model/edge_expansion.h"
#include "reading/merged_reader.h"
#include "reading/trace_file_reader.h"

namespace {

using namespace mvt_trace;

// Every record's kind, timestamp and first line, and how the read ended.
std::string read_back(const std::string& path, record_kind_set fields_of, std::size_t buffer) {
    trace_file_reader reader(path, buffer);
    reader.read_fields_of(fields_of);
    std::string seen;
    const trace_record* r = nullptr;
    while (reader.next(r))
        seen += std::to_string(static_cast<int>(r->kind)) + "@" + std::to_string(r->timestamp) + ":" +
                std::to_string(r->first_line) + (r->fields_read ? "+" : "-") + " ";
    const file_report& report = reader.report();
    return seen + status_name(report.status) + " " + std::to_string(report.line) + " " +
           std::to_string(report.whole_records) + " " + std::to_string(report.bytes);
}

TEST(tool_reading, records_read_without_their_fields_keep_their_place) {
    // A read without fields trusts the lines an earlier read found sound:
    // whole files, and files cut short.
    for (const char* file : {"openmp_run/_mvt.0", "openmp_run/_mvt.1", "truncated/_mvt.1"}) {
        const std::string path = std::string(MVT_TOOL_DATA) + "/" + file;
        std::string whole = read_back(path, every_record_kind, 1 << 20);
        for (char& c : whole)
            if (c == '+') c = '-';
        // Text records keep their fields whatever was asked: their length
        // depends on their text.
        std::string expected;
        for (std::size_t at = 0; at < whole.size();) {
            const std::size_t end = whole.find(' ', at);
            std::string item = whole.substr(at, end - at + 1);
            const int kind = std::atoi(item.c_str());
            std::size_t lines = 0;
            if (item.find('@') != std::string::npos && !fixed_field_lines(static_cast<record_kind>(kind), lines))
                item[item.find('-')] = '+';
            expected += item;
            at = end + 1;
            if (end == std::string::npos) break;
        }
        for (std::size_t buffer : {std::size_t{64}, std::size_t{1} << 20})
            EXPECT_EQ(read_back(path, 0, buffer), expected) << file << " buffer " << buffer;
    }
}

// Mean and deviation exact but for their rounding; quantiles within one
// percent of the value at their rank, merged or not.
TEST(tool_analysis, duration_statistics_are_exact_and_quantiles_within_one_percent) {
    std::mt19937_64 random(7);
    struct distribution {
        const char* name;
        std::function<std::uint64_t()> draw;
    };
    const std::vector<distribution> cases = {
        {"constant", [] { return std::uint64_t{123456}; }},
        {"uniform", [&] { return std::uniform_int_distribution<std::uint64_t>(1000, 2000000)(random); }},
        {"nine decades", [&] { return static_cast<std::uint64_t>(std::pow(10.0, std::uniform_real_distribution<>(0, 9)(random))); }},
        {"mostly zero", [&] { return random() % 4 == 0 ? random() % 5000 : 0; }},
    };
    for (const distribution& d : cases) for (std::size_t n : {3, 20001}) {
        std::vector<std::uint64_t> values(n);
        quantile_sketch whole, first_half, second_half;
        duration_stats stats;
        std::uint64_t total = 0;
        for (std::size_t i = 0; i < values.size(); ++i) {
            values[i] = d.draw();
            whole.add(values[i]);
            stats.add(values[i]);
            total += values[i];
            (i % 2 ? first_half : second_half).add(values[i]);
        }
        EXPECT_EQ(stats.mean(), (total + n / 2) / n) << d.name;
        double squares = 0;
        for (std::uint64_t v : values) squares += std::pow(static_cast<double>(v) - static_cast<double>(total) / n, 2);
        EXPECT_NEAR(static_cast<double>(stats.stddev()), std::sqrt(squares / n), 1.0) << d.name;
        first_half.merge(second_half);
        std::sort(values.begin(), values.end());
        for (double q : {0.0, 0.5, 0.95, 1.0}) {
            // The nearest rank: p95 of three values is the largest.
            const std::size_t rank = static_cast<std::size_t>(std::ceil(q * static_cast<double>(n) - 1e-9));
            const double exact = static_cast<double>(values[rank == 0 ? 0 : rank - 1]);
            EXPECT_NEAR(static_cast<double>(whole.quantile(q)), exact, exact * 0.01 + 0.5) << d.name << " q=" << q;
            EXPECT_EQ(first_half.quantile(q), whole.quantile(q)) << d.name << " merged, q=" << q;
        }
    }
}

TEST(tool_analysis, chains_and_cycles_deeper_than_any_call_stack_analyse) {
    const std::size_t n = 300000;  // recursing this deep would overflow an 8 MiB stack
    std::vector<node_edge> edges;
    for (std::size_t i = 0; i + 1 < n; ++i) edges.push_back({i, i + 1});
    const std::vector<std::uint64_t> weight(n + 1, 2);
    dependency_summary chain = summarize_dependencies(edges, weight);
    EXPECT_EQ(chain.span, 2 * n);
    EXPECT_EQ(chain.critical_path.size(), n);
    EXPECT_EQ(chain.critical_path.back(), n - 1);
    EXPECT_EQ(chain.condensed_cycles, 0u);

    edges.push_back({n - 1, 0});  // the chain closes into one ring ...
    edges.push_back({5, n});      // ... with one node after it
    std::sort(edges.begin(), edges.end());
    dependency_summary ring = summarize_dependencies(edges, weight);
    EXPECT_EQ(ring.condensed_cycles, 1u);
    EXPECT_EQ(ring.nodes_in_cycles, n);
    EXPECT_EQ(ring.span, 2 * (n + 1));
    EXPECT_EQ(ring.work, 2 * (n + 1));
    EXPECT_EQ(ring.critical_path.back(), n);
    EXPECT_DOUBLE_EQ(ring.parallelism, 1.0);
}

TEST(tool_analysis, the_graph_with_vertices_gives_what_the_expanded_edges_give) {
    // Random graphs of ten nodes and six vertices, with self-loops, cycles
    // through vertices and nodes that only reach themselves.
    std::mt19937 random(11);
    auto pick = [&](std::uint32_t n) { return static_cast<std::uint32_t>(random() % n); };
    auto pairs = [&](std::size_t count, std::uint32_t from, std::uint32_t to) {
        index_pairs made;
        for (std::size_t i = 0; i < count; ++i) made.push_back({pick(from), pick(to)});
        return made;
    };
    int compared = 0;
    for (int trial = 0; trial < 1000; ++trial) {
        vertex_links links;
        links.objects = 10;
        links.vertices = 6;
        links.direct = pairs(pick(6), 10, 10);
        links.into_vertex = pairs(pick(12), 10, 6);
        links.out_of_vertex = pairs(pick(12), 6, 10);
        links.between_vertices = pairs(pick(6), 6, 6);
        std::vector<std::uint64_t> weight(10);
        for (std::uint64_t& w : weight) w = pick(10);
        const expanded_edges whole = expand_edges(links, {SIZE_MAX, UINT64_MAX});
        const expanded_edges cut = expand_edges(links, {0, 0});
        ASSERT_TRUE(whole.complete);
        if (cut.complete) continue;  // nothing to expand
        ++compared;
        const dependency_summary expected = summarize_dependencies(whole.edges, weight);
        const dependency_summary got = summarize_dependencies(cut.graph_with_vertices, links.objects, weight);
        EXPECT_EQ(got.nodes, expected.nodes) << trial;
        EXPECT_EQ(got.work, expected.work) << trial;
        EXPECT_EQ(got.span, expected.span) << trial;
        EXPECT_EQ(got.condensed_cycles, expected.condensed_cycles) << trial;
        EXPECT_EQ(got.nodes_in_cycles, expected.nodes_in_cycles) << trial;
        std::uint64_t along = 0;
        for (std::size_t node : got.critical_path) along += weight[node];
        EXPECT_EQ(along, got.span) << trial;
    }
    EXPECT_GT(compared, 800);
}

}  // namespace
