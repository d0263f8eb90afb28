// Translation of OpenMP events into instrumentation calls. A parallel region
// becomes a composite node of the run's graph, with a begin node and an end
// node and their ports; an explicit task with dependences becomes a task node
// whose in/out dependences are edges through one vertex per storage location.
// Alongside the graph, each thread's timeline gets executions for regions,
// implicit tasks, explicit tasks and barriers.
//
// The callbacks run on the runtime's threads concurrently. They keep no state:
// identifiers live in the runtime's ompt_data_t slots, and each callback
// writes only slots that belong to its own event, so there is no lock, and
// nothing is allocated.

#include "callbacks.h"

#include <cstdint>
#include <cstdio>

#include <omp-tools.h>

#include "mvt_xml/itt.h"
#include "tool_state.h"

namespace ompt_bridge {
namespace {

// OpenMP 5.0 values. The runtime header marks some of these names deprecated
// (OpenMP 5.1 split the barrier kinds), so the numbers are spelled out.
constexpr int sync_region_barrier = 1;
constexpr int task_status_complete = 1;
constexpr int task_status_old_switch = 4;  // ompt_task_detach since 5.0 final
constexpr int task_status_switch = 7;
constexpr int dependence_out_bit = 2;
constexpr int dependence_in_bit = 1;

void add_code_address(__itt_id id, const void* codeptr_ra) {
    unsigned long long address = reinterpret_cast<std::uintptr_t>(codeptr_ra);
    __itt_metadata_add(omp_domain, id, task_address_handle, __itt_metadata_u64, 1, &address);
}

void ompt_callback_thread_begin_fn(ompt_thread_t, ompt_data_t* thread_data) {
    thread_data->value = fresh_id();
}

void ompt_callback_parallel_begin_fn(ompt_data_t* encountering_task_data, const ompt_frame_t*,
                                     ompt_data_t* parallel_data, unsigned int, int, const void*) {
    const unsigned long long p = parallel_data->value = fresh_id();
    const unsigned long long n = fresh_id();
    const unsigned long long i = fresh_id();
    const unsigned long long e = value_of(encountering_task_data);
    const __itt_id composite = make_id(p, node_tag);

    __itt_relation_add(omp_domain, make_id(e), __itt_relation_is_parent_of, composite);
    declare_group(p, composite_node_handle, make_id(graph_value));
    __itt_task_group(omp_domain, make_id(n), composite, node_str_handle);
    declare_group(i, input_port_handle, make_id(n));
    __itt_task_group(omp_domain, make_id(n, begin_output_tag), make_id(n), output_port_handle);
    __itt_task_group(omp_domain, make_id(i), composite, input_port_handle);
    __itt_relation_add(omp_domain, composite, __itt_relation_is_parent_of, make_id(i));
    declare_group(p, omp_str_handle, __itt_null);
    __itt_task_begin(omp_domain, make_id(p), __itt_null, omp_str_handle);
}

void ompt_callback_parallel_end_fn(ompt_data_t* parallel_data, ompt_data_t*, int, const void* codeptr_ra) {
    const unsigned long long m = fresh_id();
    const unsigned long long o = fresh_id();
    const __itt_id composite = make_id(value_of(parallel_data), node_tag);
    const __itt_id end_node = make_id(m, end_node_tag);

    add_code_address(composite, codeptr_ra);
    __itt_task_group(omp_domain, end_node, composite, node_str_handle);
    __itt_task_group(omp_domain, make_id(o), end_node, output_port_handle);
    __itt_task_group(omp_domain, make_id(m, end_input_tag), end_node, input_port_handle);
    __itt_task_group(omp_domain, make_id(o), composite, output_port_handle);
    __itt_relation_add(omp_domain, composite, __itt_relation_is_parent_of, make_id(o));
    __itt_task_end(omp_domain);
}

// The region an implicit task belongs to is asked of the runtime, which may
// answer with its own parallel data rather than the argument's.
unsigned long long innermost_region_value(ompt_data_t* parallel_data) {
    ompt_data_t* region = parallel_data;
    ompt_get_parallel_info(0, &region, nullptr);
    return value_of(region);
}

void ompt_callback_implicit_task_fn(ompt_scope_endpoint_t endpoint, ompt_data_t* parallel_data,
                                    ompt_data_t* task_data, unsigned int, unsigned int, int flags) {
    if (endpoint == ompt_scope_end) {
        __itt_task_end(omp_domain);
        return;
    }
    if (endpoint != ompt_scope_begin) {
        return;
    }
    const unsigned long long x = task_data->value = fresh_id();
    if ((flags & ompt_task_implicit) == 0) {
        return;  // the initial task is only given its id
    }
    const __itt_id region = make_id(innermost_region_value(parallel_data));
    declare_group(x, implicit_str_handle, region);
    __itt_task_begin(omp_domain, make_id(x), region, implicit_str_handle);
}

// The initial task of a region without a tool-visible parallel begin: give the
// region the id its tasks and barriers will refer to.
void name_innermost_region() {
    ompt_data_t* region = nullptr;
    ompt_get_parallel_info(0, &region, nullptr);
    if (region != nullptr) {
        region->value = fresh_id();
    }
}

void ompt_callback_task_create_fn(ompt_data_t* encountering_task_data, const ompt_frame_t*,
                                  ompt_data_t* new_task_data, int flags, int has_dependences,
                                  const void* codeptr_ra) {
    const unsigned long long t = new_task_data->value = fresh_id();
    if ((flags & ompt_task_initial) != 0) {
        name_innermost_region();
        return;
    }
    if ((flags & ompt_task_explicit) == 0 || has_dependences == 0) {
        return;  // traced only as an execution, when it is scheduled
    }
    const __itt_id encountering = make_id(value_of(encountering_task_data));
    __itt_id_create(omp_domain, make_id(t));
    __itt_id_create(omp_domain, encountering);
    __itt_relation_add(omp_domain, make_id(t), __itt_relation_is_child_of, encountering);
    declare_group(t, node_str_handle, encountering);
    add_code_address(make_id(t), codeptr_ra);
}

void ompt_callback_dependences_fn(ompt_data_t* task_data, const ompt_dependence_t* deps, int ndeps) {
    const __itt_id task_node = make_id(value_of(task_data), node_tag);
    for (int k = 0; k < ndeps; ++k) {
        const __itt_id vertex = make_id(deps[k].variable.value);
        const int type = deps[k].dependence_type;
        if ((type & dependence_out_bit) != 0) {
            __itt_relation_add(omp_domain, task_node, __itt_relation_is_predecessor_to, vertex);
        } else if ((type & dependence_in_bit) != 0) {
            __itt_relation_add(omp_domain, vertex, __itt_relation_is_predecessor_to, task_node);
        }
    }
}

void ompt_callback_task_schedule_fn(ompt_data_t*, ompt_task_status_t prior_task_status,
                                    ompt_data_t* next_task_data) {
    const int status = prior_task_status;
    if (status == task_status_switch || (status == task_status_old_switch && old_version)) {
        __itt_task_begin(omp_domain, make_id(value_of(next_task_data)), __itt_null, variable_node);
    } else if (status == task_status_complete) {
        __itt_task_end(omp_domain);
    }
}

// A barrier interrupts the implicit task's execution; it is not resumed after.
void ompt_callback_sync_region_fn(ompt_sync_region_t kind, ompt_scope_endpoint_t endpoint,
                                  ompt_data_t* parallel_data, ompt_data_t* task_data, const void*) {
    if (static_cast<int>(kind) != sync_region_barrier) {
        return;
    }
    if (endpoint == ompt_scope_begin) {
        __itt_task_end(omp_domain);
        __itt_task_begin(omp_domain, make_id(value_of(task_data)), make_id(value_of(parallel_data)),
                         barrier_str_handle);
    } else if (endpoint == ompt_scope_end) {
        __itt_task_end(omp_domain);
    }
}

int ompt_callback_control_tool_fn(uint64_t, uint64_t, void*, const void*) {
    return 0;
}

struct registration {
    ompt_callbacks_t event;
    ompt_callback_t callback;
    const char* name;
};

template <typename Fn>
ompt_callback_t generic(Fn* callback) {
    return reinterpret_cast<ompt_callback_t>(callback);
}

}  // namespace

void register_callbacks() {
    const registration table[] = {
        {ompt_callback_implicit_task, generic(ompt_callback_implicit_task_fn), "ompt_callback_implicit_task"},
        {ompt_callback_control_tool, generic(ompt_callback_control_tool_fn), "ompt_callback_control_tool"},
        {ompt_callback_parallel_begin, generic(ompt_callback_parallel_begin_fn), "ompt_callback_parallel_begin"},
        {ompt_callback_parallel_end, generic(ompt_callback_parallel_end_fn), "ompt_callback_parallel_end"},
        {ompt_callback_task_create, generic(ompt_callback_task_create_fn), "ompt_callback_task_create"},
        {ompt_callback_task_schedule, generic(ompt_callback_task_schedule_fn), "ompt_callback_task_schedule"},
        {ompt_callback_dependences, generic(ompt_callback_dependences_fn), "ompt_callback_dependences"},
        {ompt_callback_thread_begin, generic(ompt_callback_thread_begin_fn), "ompt_callback_thread_begin"},
        {ompt_callback_sync_region, generic(ompt_callback_sync_region_fn), "ompt_callback_sync_region"},
    };
    // The callbacks take every identifier from ompt_get_unique_id and ask
    // ompt_get_parallel_info for regions. A runtime whose lookup lacks one of
    // these or ompt_set_callback (all are mandatory since OpenMP 5.0) gets no
    // callback at all, reported row by row as if it had refused each one:
    // a callback that calls through a null pointer would crash the host.
    const bool runtime_complete = ompt_set_callback && ompt_get_unique_id && ompt_get_parallel_info;
    for (const registration& row : table) {
        if (!runtime_complete || ompt_set_callback(row.event, row.callback) == ompt_set_never) {
            std::printf("0: Could not register callback '%s'\n", row.name);
            std::fflush(stdout);
        }
    }
}

}  // namespace ompt_bridge
