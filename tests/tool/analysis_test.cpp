// The analysis pieces whose limits golden traces cannot reach: the quantile
// sketch's accuracy over many values, and graphs deeper than a call stack.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "analysis/critical_path.h"
#include "analysis/quantile_sketch.h"

namespace {

using namespace mvt_trace;

TEST(tool_analysis, sketch_quantiles_stay_within_one_percent_of_the_value_at_their_rank) {
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
    for (const distribution& d : cases) {
        std::vector<std::uint64_t> values(20001);
        quantile_sketch whole, first_half, second_half;
        for (std::size_t i = 0; i < values.size(); ++i) {
            values[i] = d.draw();
            whole.add(values[i]);
            (i % 2 ? first_half : second_half).add(values[i]);
        }
        first_half.merge(second_half);
        std::sort(values.begin(), values.end());
        for (double q : {0.0, 0.5, 0.95, 1.0}) {
            const double exact = static_cast<double>(values[static_cast<std::size_t>(q * (values.size() - 1))]);
            EXPECT_NEAR(static_cast<double>(whole.quantile(q)), exact, exact * 0.01 + 0.5) << d.name << " q=" << q;
            EXPECT_EQ(first_half.quantile(q), whole.quantile(q)) << d.name << " merged, q=" << q;
        }
    }
}

TEST(tool_analysis, a_million_nodes_deep_chain_and_cycle_need_no_deep_stack) {
    const std::size_t n = 1000000;
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

}  // namespace
