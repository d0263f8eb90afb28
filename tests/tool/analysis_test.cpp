// The pieces whose limits golden traces cannot reach: the quantile sketch's
// accuracy over many values, paths longer than a call stack is deep, and
// the expansion of pass-through vertices.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "analysis/duration_stats.h"
#include "analysis/execution_graph.h"
#include "analysis/quantile_sketch.h"
#include "model/edge_expansion.h"

namespace {

using namespace mvt_trace;

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

TEST(tool_analysis, a_chain_longer_than_any_call_stack_gives_its_path) {
    const std::uint32_t n = 300000;  // recursing this deep would overflow an 8 MiB stack
    execution_graph graph;
    index_pairs edges;
    for (std::uint32_t i = 0; i < n; ++i) {
        graph.members.push_back(i);
        if (i > 0) edges.push_back({i, i - 1});
    }
    // A second, shorter chain beside it, and one long execution alone.
    for (std::uint32_t i = n; i < n + 10; ++i) {
        graph.members.push_back(i);
        if (i > n) edges.push_back({i, i - 1});
    }
    graph.predecessors = compressed_rows(graph.members.size(), edges);
    std::vector<std::uint64_t> durations(graph.members.size(), 2);
    const path_summary path = longest_path(graph, durations);
    EXPECT_EQ(path.span, 2u * n);
    EXPECT_EQ(path.work, 2u * (n + 10));
    ASSERT_EQ(path.critical_path.size(), n);
    EXPECT_EQ(path.critical_path.front(), 0u);
    EXPECT_EQ(path.critical_path.back(), n - 1);
    durations.back() = 3 * n;
    EXPECT_EQ(longest_path(graph, durations).critical_path, (std::vector<std::uint32_t>{n, n + 1, n + 2, n + 3, n + 4, n + 5, n + 6, n + 7, n + 8, n + 9}));
}

// Nodes joined through identifiers no group declares: every writer of a
// location precedes every reader, through chains of locations too; past
// its limits the expansion says it stopped.
TEST(tool_analysis, pass_through_vertices_expand_into_node_edges_within_limits) {
    vertex_links links;
    links.objects = 4;
    links.vertices = 3;
    links.into_vertex = {{0, 0}, {1, 0}};                  // nodes 0 and 1 write vertex 0
    links.between_vertices = {{0, 1}, {1, 2}, {2, 1}};     // which leads on, through a loop
    links.out_of_vertex = {{2, 2}, {2, 3}, {1, 0}};        // to nodes 2, 3 and back to 0
    const expanded_edges whole = expand_edges(links, {SIZE_MAX, UINT64_MAX});
    EXPECT_TRUE(whole.complete);
    EXPECT_EQ(whole.edges, (index_pairs{{0, 2}, {0, 3}, {1, 0}, {1, 2}, {1, 3}}));
    const expanded_edges cut = expand_edges(links, {2, UINT64_MAX});
    EXPECT_FALSE(cut.complete);
    EXPECT_LE(cut.edges.size(), 2u);
}

}  // namespace
