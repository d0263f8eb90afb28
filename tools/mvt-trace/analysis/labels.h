#ifndef MVT_TRACE_LABELS_H
#define MVT_TRACE_LABELS_H

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "model/trace_model.h"

namespace mvt_trace {

// Where a code address lies in the program's source, as far as it is known.
struct code_location {
    bool known = false;  // function, file and line
    std::string function;
    std::string file;  // as the debug information names it
    unsigned line = 0;
    // The function the code was inlined into, when it was.
    bool inlined = false;
    std::string caller_function, caller_file;
    unsigned caller_line = 0;
    // How the address reads: "sweep (jacobi.c:57)", "sweep+0x1c", "0x55d4...".
    std::string text;
};

// How each object and execution is called everywhere the tool shows them,
// and the constructs: the task nodes that one piece of code created.
//
// A node is called by the name the program gave it (a string metadata);
// else an OpenMP task node by where its code is ("sweep (jacobi.c:57)"),
// a parallel region as "parallel region at ..." the same way, and a
// flow-graph node by its kind and its ordinal among the nodes of that kind
// in the order they were declared ("function_node 3"). An execution of a
// node is called as the node; any other by its name handle.
//
// A construct is the set of task nodes with one label: OpenMP's tasks of
// one `#pragma omp task` share their code address, a flow-graph node is a
// construct of its own. Constructs are what runs of one program have in
// common, so they are matched across runs by label.
class run_labels {
public:
    struct construct {
        std::string label;
        const code_location* location = nullptr;  // null when the label is no source place
        std::vector<std::uint32_t> nodes;          // objects, in declaration order
    };

    // `places`: per process, the locations of code addresses; an address
    // missing from it (or no map at all) reads as hex.
    run_labels(const trace_model& model,
               const std::vector<std::vector<std::pair<std::uint64_t, code_location>>>* places = nullptr);

    run_labels() = default;
    run_labels(run_labels&&) = default;
    run_labels& operator=(run_labels&&) = default;
    run_labels(const run_labels&) = delete;
    run_labels& operator=(const run_labels&) = delete;

    const std::string& of_object(std::uint32_t object) const { return texts_[object_labels_[object]]; }
    std::string_view of_execution(const trace_model& model, const trace_model::execution& e) const;
    // The location of an object's code, or null.
    const code_location* location_of(std::uint32_t object) const;

    const std::vector<construct>& constructs() const { return constructs_; }
    // The construct an object belongs to, or no_index (objects that are no
    // task node).
    std::uint32_t construct_of(std::uint32_t object) const { return construct_of_[object]; }

private:
    std::uint32_t text_number(std::string text);

    // Labels repeat (the thousands of tasks of one pragma share theirs):
    // each is kept once.
    std::vector<std::string> texts_;
    std::unordered_map<std::string, std::uint32_t> text_numbers_;
    std::vector<std::uint32_t> object_labels_;
    std::vector<const code_location*> object_locations_;
    std::vector<construct> constructs_;
    std::vector<std::uint32_t> construct_of_;
    std::vector<std::vector<std::pair<std::uint64_t, code_location>>> places_;
};

}  // namespace mvt_trace

#endif
