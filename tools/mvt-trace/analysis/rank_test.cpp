#include "analysis/rank_test.h"

#include <algorithm>
#include <cmath>

namespace mvt_trace {

namespace {

__extension__ using count_type = __int128;

// C(m + n, min(m, n)) in long double, stopping once it passes `cap`: exact
// while it fits the 64-bit mantissa, which covers every case where the
// smallest p-value is near a level anyone tests at.
long double arrangements(std::uint64_t m, std::uint64_t n, long double cap) {
    const std::uint64_t k = std::min(m, n), l = std::max(m, n);
    long double c = 1;
    for (std::uint64_t i = 1; i <= k && c <= cap; ++i) c = c * static_cast<long double>(l + i) / static_cast<long double>(i);
    return c;
}

// Counting every arrangement is exact but costs time and memory that grow
// with m x n x min(m, n); past these bounds the normal approximation is
// within a few percent of the exact p-value anyway, and the counts must
// stay below 2^126 to fit the signed 128-bit integers.
constexpr std::uint64_t exact_max_pairs = 250000;
constexpr std::uint64_t exact_max_steps = 20000000;
constexpr long double exact_max_arrangements = 1e36L;

// The two-sided p-value of U from its exact distribution under the null
// hypothesis (no ties): the number of arrangements of m and n values with
// each U is the coefficient of q^U in the Gaussian binomial [m+n, k]_q,
// built as the product over i of (1 - q^(l+i)) / (1 - q^i). Each division
// is exact, so integer arithmetic gives the counts without rounding.
double exact_p_value(std::uint64_t m, std::uint64_t n, double u) {
    const std::uint64_t k = std::min(m, n), l = std::max(m, n), top = m * n;
    std::vector<count_type> ways(top + 1, 0);
    ways[0] = 1;
    for (std::uint64_t i = 1; i <= k; ++i) {
        const std::uint64_t step = l + i;
        for (std::uint64_t d = top; d >= step; --d) ways[d] -= ways[d - step];
        for (std::uint64_t d = i; d <= top; ++d) ways[d] += ways[d - i];
    }
    // The distribution is symmetric about m n / 2: the tail on the side of
    // U, doubled.
    const double nearer = std::min(u, static_cast<double>(top) - u);
    const std::uint64_t limit = static_cast<std::uint64_t>(std::floor(nearer));
    count_type tail = 0, total = 0;
    for (std::uint64_t d = 0; d <= top; ++d) {
        total += ways[d];
        if (d <= limit) tail += ways[d];
    }
    const long double p = 2.0L * static_cast<long double>(tail) / static_cast<long double>(total);
    return static_cast<double>(std::min(p, 1.0L));
}

// The normal approximation: U has mean m n / 2 and, with ties, variance
// m n / 12 x ((N + 1) - sum(t^3 - t) / (N (N - 1))) over the groups of t
// equal values; half a unit of continuity correction toward the mean.
double normal_p_value(std::uint64_t m, std::uint64_t n, double u, long double tie_sum) {
    const long double pairs = static_cast<long double>(m) * static_cast<long double>(n);
    const long double all = static_cast<long double>(m + n);
    const long double variance = pairs / 12.0L * ((all + 1) - tie_sum / (all * (all - 1)));
    // Every value equal: nothing tells the samples apart.
    if (!(variance > 0)) return 1;
    const long double distance = std::max(0.0L, std::fabs(static_cast<long double>(u) - pairs / 2) - 0.5L);
    const long double z = distance / std::sqrt(variance);
    return static_cast<double>(std::min(1.0L, std::erfc(z / std::sqrt(2.0L))));
}

}  // namespace

double smallest_p_value(std::uint64_t m, std::uint64_t n) {
    if (m == 0 || n == 0) return 1;
    const long double c = arrangements(m, n, 1e30L);
    return static_cast<double>(std::min(1.0L, 2.0L / c));
}

rank_test mann_whitney(std::vector<std::uint64_t> first, std::vector<std::uint64_t> second, double alpha) {
    rank_test result;
    const std::uint64_t m = first.size(), n = second.size();
    result.pairs = m * n;
    if (m == 0 || n == 0) return result;
    std::sort(first.begin(), first.end());
    std::sort(second.begin(), second.end());
    // One pass over both in order, a group of equal values at a time: each
    // value of the second sample counts the first's values below it, and
    // half of those equal to it. Twice U is a whole number.
    std::uint64_t twice_u = 0;
    long double tie_sum = 0;
    bool ties = false;
    std::size_t i = 0, j = 0;
    while (i < first.size() || j < second.size()) {
        const std::uint64_t value = j == second.size() || (i < first.size() && first[i] < second[j]) ? first[i] : second[j];
        const std::size_t first_below = i;
        std::uint64_t a = 0, b = 0;
        while (i < first.size() && first[i] == value) ++i, ++a;
        while (j < second.size() && second[j] == value) ++j, ++b;
        twice_u += b * (2 * first_below + a);
        const std::uint64_t t = a + b;
        if (t > 1) {
            ties = true;
            const long double tl = static_cast<long double>(t);
            tie_sum += tl * tl * tl - tl;
        }
    }
    result.u = static_cast<double>(twice_u) / 2;

    const std::uint64_t small = std::min(m, n);
    const bool countable = !ties && result.pairs <= exact_max_pairs && small * result.pairs <= exact_max_steps &&
                           arrangements(m, n, exact_max_arrangements) <= exact_max_arrangements;
    result.how = countable ? rank_test::method::exact : rank_test::method::normal;
    result.p_value = countable ? exact_p_value(m, n, result.u) : normal_p_value(m, n, result.u, tie_sum);
    // Too few to ever reach the level: the p-value stands as information,
    // but no verdict is drawn from it.
    if (smallest_p_value(m, n) >= alpha) result.how = rank_test::method::too_few;
    result.significant = result.how != rank_test::method::too_few && result.p_value < alpha;
    return result;
}

}  // namespace mvt_trace
