#include "tool_state.h"

namespace ompt_bridge {

bool old_version = false;

__itt_domain* omp_domain = nullptr;
__itt_string_handle* omp_str_handle = nullptr;
__itt_string_handle* barrier_str_handle = nullptr;
__itt_string_handle* implicit_str_handle = nullptr;
__itt_string_handle* node_str_handle = nullptr;
__itt_string_handle* variable_node = nullptr;
__itt_string_handle* omp_graph_handle = nullptr;
__itt_string_handle* composite_node_handle = nullptr;
__itt_string_handle* input_port_handle = nullptr;
__itt_string_handle* output_port_handle = nullptr;
__itt_string_handle* task_address_handle = nullptr;

ompt_set_callback_t ompt_set_callback = nullptr;
ompt_get_task_info_t ompt_get_task_info = nullptr;
ompt_get_unique_id_t ompt_get_unique_id = nullptr;
ompt_get_thread_data_t ompt_get_thread_data = nullptr;
ompt_get_parallel_info_t ompt_get_parallel_info = nullptr;

unsigned long long fresh_id() {
    return ompt_get_unique_id();
}

void declare_group(unsigned long long value, __itt_string_handle* name, __itt_id parent) {
    const bool is_node = name == node_str_handle || name == composite_node_handle;
    const __itt_id id = make_id(value, is_node ? node_tag : plain_tag);
    __itt_id_create(omp_domain, id);
    __itt_task_group(omp_domain, id, parent, name);
}

}  // namespace ompt_bridge
