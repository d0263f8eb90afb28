#ifndef MVT_TEST_RECORD_PLAN_H
#define MVT_TEST_RECORD_PLAN_H

// The calls a recording thread of the client makes, shared by the client,
// which plays them, and the tests, which check each file against them. Record
// n of thread t carries t and n wherever it has room, so that a record lost,
// doubled, torn or written into another thread's file shows. Every eight
// records begin with a handle and a domain of one of a few names that differ
// only in case, prefix or length; all threads create each at about the same time.

#include <cstdio>
#include <string>

#include "trace_reader.h"

namespace plan {

enum kind { handle, domain, id, begin, metadata, text, relation, end };

constexpr const char* names[] = {"omp", "OMP", "omp_", "omp_parallel", "omp_parallel_", "", "o", "node", "nodes"};
constexpr unsigned long long name_count = sizeof names / sizeof *names;

inline kind kind_of(unsigned long long n) { return static_cast<kind>(n % 8); }
inline const char* name_of(unsigned long long n) { return names[n / 8 % name_count]; }
// Alternates the two spellings of the functions and the two recorded metadata types.
inline bool a_variant(unsigned long long n) { return n / 8 % 2 == 0; }
inline unsigned long long value(unsigned long long t, unsigned long long n) { return t * 1000000 + n; }

// Held by value: playing the plan allocates nothing, so that a fork() amid it
// never leaves an allocator lock behind.
struct text_of {
    char s[32];
    text_of(unsigned long long t, unsigned long long n) { std::snprintf(s, sizeof s, "%llu.%llu", t, n); }
};

// Record n of thread t as mvt_test::read_rendered() shows it.
inline std::string expected(unsigned long long t, unsigned long long n) {
    const std::string name = name_of(n), at = " @" + name, self = " " + mvt_test::id_text(t, n);
    const std::string words = text_of(t, n).s;
    switch (kind_of(n)) {
        case handle: return "string_handle_createA" + at + " " + std::to_string(name.size()) + " " + name;
        case domain: return "domain_createA" + at + " " + std::to_string(name.size()) + " " + name;
        case id: return "id_create" + at + self;
        case begin: return "task_begin" + at + self + " " + mvt_test::id_text(t, n - 1) + at + " 0";
        case metadata: return "metadata" + at + self + at + (a_variant(n) ? " 1 1 " : " 3 1 ") + std::to_string(value(t, n));
        case text: return "metadata_stringA" + at + self + at + " " + std::to_string(words.size()) + " " + words;
        case relation: return "relation" + at + self + " 7 " + mvt_test::id_text(t, n + 1);
        case end: return "task_end" + at;
    }
    return "";
}

}  // namespace plan

#endif
