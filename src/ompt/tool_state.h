#ifndef MVT_OMPT_TOOL_STATE_H
#define MVT_OMPT_TOOL_STATE_H

// What the OpenMP tool keeps between start-up and the callbacks. Everything
// here is written while the runtime starts the tool, before any callback can
// run, and only read afterwards, which is why none of it needs a lock.

#include <omp-tools.h>

#include "mvt_xml/itt.h"

namespace ompt_bridge {

// Set when the runtime predates OpenMP 5.0 final, whose task status 4 still
// meant "switch to the next task" rather than "detach".
extern bool old_version;

extern __itt_domain* omp_domain;
extern __itt_string_handle* omp_str_handle;
extern __itt_string_handle* barrier_str_handle;
extern __itt_string_handle* implicit_str_handle;
extern __itt_string_handle* node_str_handle;
extern __itt_string_handle* variable_node;
extern __itt_string_handle* omp_graph_handle;
extern __itt_string_handle* composite_node_handle;
extern __itt_string_handle* input_port_handle;
extern __itt_string_handle* output_port_handle;
extern __itt_string_handle* task_address_handle;

extern ompt_set_callback_t ompt_set_callback;
extern ompt_get_task_info_t ompt_get_task_info;
extern ompt_get_unique_id_t ompt_get_unique_id;
extern ompt_get_thread_data_t ompt_get_thread_data;
extern ompt_get_parallel_info_t ompt_get_parallel_info;

// Objects that share one value are told apart by the second word of their
// identifier.
enum tag_word : unsigned long long {
    plain_tag = 0,
    node_tag = 1,             // composite nodes and task nodes
    begin_output_tag = 35,    // output port of a region's begin node
    end_node_tag = 36,        // a region's end node
    end_input_tag = 37,       // input port of a region's end node
};

// Parent of every parallel region's composite node.
constexpr unsigned long long graph_value = 19;

inline __itt_id make_id(unsigned long long value, unsigned long long tag = plain_tag) {
    return __itt_id{value, tag, 0};
}

// Runtime-owned slots may be absent (libomp passes no parallel data at some
// end events); an absent slot reads as 0 instead of crashing the host.
inline unsigned long long value_of(const ompt_data_t* data) {
    return data != nullptr ? data->value : 0;
}

unsigned long long fresh_id();

// Creates the identifier {value, tag, 0} and declares it a task group under
// `parent`; nodes get tag 1 so they do not collide with the execution that
// shares their value.
void declare_group(unsigned long long value, __itt_string_handle* name, __itt_id parent);

}  // namespace ompt_bridge

#endif
