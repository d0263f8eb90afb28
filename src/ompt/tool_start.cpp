// The OMPT handshake: the runtime finds the exported ompt_start_tool, then
// calls ompt_initialize once before any OpenMP construct runs and
// ompt_finalize once at shutdown.

#include <cstring>

#include <omp-tools.h>

#include "callbacks.h"
#include "mvt_xml/export.h"
#include "mvt_xml/itt.h"
#include "tool_state.h"
#include "writer/mvt_collector.h"
#include "writer/run_end.h"

extern "C" {
int ompt_initialize(ompt_function_lookup_t lookup, int initial_device_num, ompt_data_t* tool_data);
void ompt_finalize(ompt_data_t* tool_data);
MVT_API ompt_start_tool_result_t* ompt_start_tool(unsigned int omp_version, const char* runtime_version);
}

namespace ompt_bridge {
namespace {

bool is_old_runtime(const char* runtime_version) {
    return runtime_version != nullptr && std::strstr(runtime_version, ".2018") != nullptr;
}

void create_handles() {
    omp_domain = __itt_domain_create("openmp");
    omp_domain->flags = 1;
    omp_str_handle = __itt_string_handle_create("omp_parallel");
    barrier_str_handle = __itt_string_handle_create("omp_barrier");
    implicit_str_handle = __itt_string_handle_create("omp_implicit");
    node_str_handle = __itt_string_handle_create("node");
    variable_node = __itt_string_handle_create("omp_explicit");
    omp_graph_handle = __itt_string_handle_create("graph");
    composite_node_handle = __itt_string_handle_create("composite_node");
    input_port_handle = __itt_string_handle_create("input_port_0");
    output_port_handle = __itt_string_handle_create("output_port_0");
    task_address_handle = __itt_string_handle_create("code_address");
}

// A null lookup finds nothing; register_callbacks() then registers nothing.
template <typename Fn>
Fn look_up(ompt_function_lookup_t lookup, const char* name) {
    return lookup ? reinterpret_cast<Fn>(lookup(name)) : nullptr;
}

// All five are mandatory in OpenMP 5.0, so they are kept as the runtime
// answers; the task-info and thread-data entries are fetched for completeness.
void fetch_entry_points(ompt_function_lookup_t lookup) {
    ompt_set_callback = look_up<ompt_set_callback_t>(lookup, "ompt_set_callback");
    ompt_get_task_info = look_up<ompt_get_task_info_t>(lookup, "ompt_get_task_info");
    ompt_get_unique_id = look_up<ompt_get_unique_id_t>(lookup, "ompt_get_unique_id");
    ompt_get_thread_data = look_up<ompt_get_thread_data_t>(lookup, "ompt_get_thread_data");
    ompt_get_parallel_info = look_up<ompt_get_parallel_info_t>(lookup, "ompt_get_parallel_info");
}

}  // namespace
}  // namespace ompt_bridge

extern "C" int ompt_initialize(ompt_function_lookup_t lookup, int, ompt_data_t*) {
    using namespace ompt_bridge;
    writer::host_runtime_started();
    create_handles();
    declare_group(graph_value, omp_graph_handle, __itt_null);
    fetch_entry_points(lookup);
    register_callbacks();
    return 1;
}

extern "C" void ompt_finalize(ompt_data_t*) {
    __itt_api_fini(nullptr);
    // The runtime has delivered its last event. When it finalizes during its
    // exit-time shutdown (libomp does, from its ELF destructor) the run ends
    // here, after that shutdown's events; when it finalizes earlier the
    // program may still record, and the exit handler ends the run.
    writer::host_runtime_finished(*writer::get_mtc());
}

extern "C" MVT_API ompt_start_tool_result_t* ompt_start_tool(unsigned int, const char* runtime_version) {
    static ompt_start_tool_result_t ompt_fns = {&ompt_initialize, &ompt_finalize, ompt_data_t{0}};
    if (ompt_bridge::is_old_runtime(runtime_version)) {
        ompt_bridge::old_version = true;
    }
    return &ompt_fns;
}
