#ifndef MVT_HARDENING_RECORD_PLAN_H
#define MVT_HARDENING_RECORD_PLAN_H

// The sequence of calls that a recording thread of the hardening client makes,
// shared by the client, which plays it, and the tests, which check each file
// against it record by record. Record n of thread t carries t and n wherever
// the record has room for them, so a record that is lost, doubled, torn or
// written into another thread's file cannot go unnoticed.
//
// Every block of eight records starts with the creation of a string handle and
// a domain of one of a few shared names; all threads walk the names in the
// same order, so they create each name at about the same moment.

#include <cstdio>
#include <cstring>
#include <string>

namespace plan {

// A short text held by value: playing the plan allocates nothing, so that a
// fork() in the middle of it never leaves an allocator lock behind.
struct short_text {
    char text[32];
    const char* c_str() const { return text; }
    size_t size() const { return std::strlen(text); }
    std::string str() const { return text; }
};

enum kind { handle_create, domain_create, id_create, task_begin, metadata, metadata_string, relation, task_end };

constexpr int kinds = 8;
constexpr int shared_names = 24;

inline kind kind_of(unsigned long long n) { return static_cast<kind>(n % kinds); }

inline short_text shared_name(unsigned long long n) {
    short_text name;
    std::snprintf(name.text, sizeof name.text, "shared_%llu", (n / kinds) % shared_names);
    return name;
}

// Alternates between the two exported spellings of the creation functions and
// between the two recorded metadata types.
inline bool use_a_variant(unsigned long long n) { return (n / kinds) % 2 == 0; }

inline const char* record_name(kind k) {
    switch (k) {
        case handle_create: return "string_handle_createA";
        case domain_create: return "domain_createA";
        case id_create: return "id_create";
        case task_begin: return "task_begin";
        case metadata: return "metadata";
        case metadata_string: return "metadata_stringA";
        case relation: return "relation";
        case task_end: return "task_end";
    }
    return "";
}

// Fits in 32 bits for any thread below 4096 and sequence number below 10^6.
inline unsigned long long metadata_value(unsigned long long t, unsigned long long n) { return t * 1000000 + n; }

inline short_text metadata_text(unsigned long long t, unsigned long long n) {
    short_text text;
    std::snprintf(text.text, sizeof text.text, "%llu.%llu", t, n);
    return text;
}

}  // namespace plan

#endif
