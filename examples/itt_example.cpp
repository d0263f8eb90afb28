// A small instrumented program in the manner of a task-graph runtime: it
// declares a pipeline of three nodes joined port to port, names each node
// and declares its body, then runs the stages on worker threads, beginning
// each execution with the body's identifier and recording its metadata.

#include <mvt_xml/itt.h>

#include <cstdio>
#include <thread>
#include <vector>

namespace {

constexpr int stages = 3;
const char* const stage_labels[stages] = {"load", "transform", "store"};

__itt_domain* domain;
__itt_string_handle* graph_kind;
__itt_string_handle* node_kind;
__itt_string_handle* input_port_kind;
__itt_string_handle* output_port_kind;
__itt_string_handle* stage_names[stages];
__itt_string_handle* name_key;
__itt_string_handle* items_key;
__itt_string_handle* label_key;

__itt_id make_id(unsigned long long value, unsigned long long tag = 0) { return __itt_id{value, tag, 0}; }

// Identifiers of stage s: its node, its body and its two ports.
__itt_id node_of(int s) { return make_id(100 + static_cast<unsigned long long>(s), 1); }
__itt_id body_of(int s) { return make_id(100 + static_cast<unsigned long long>(s)); }
__itt_id input_of(int s) { return make_id(200 + static_cast<unsigned long long>(s)); }
__itt_id output_of(int s) { return make_id(300 + static_cast<unsigned long long>(s)); }

void declare_group(__itt_id id, __itt_id parent, __itt_string_handle* kind) {
    __itt_id_create(domain, id);
    __itt_task_group(domain, id, parent, kind);
}

void declare_graph() {
    const __itt_id graph = make_id(1);
    declare_group(graph, __itt_null, graph_kind);
    for (int s = 0; s < stages; ++s) {
        declare_group(node_of(s), graph, node_kind);
        __itt_metadata_str_add(domain, node_of(s), name_key, stage_labels[s], 0);
        declare_group(input_of(s), node_of(s), input_port_kind);
        declare_group(output_of(s), node_of(s), output_port_kind);
        // The body that every execution of the node runs under.
        __itt_relation_add(domain, body_of(s), __itt_relation_is_child_of, node_of(s));
        if (s > 0) __itt_relation_add(domain, output_of(s - 1), __itt_relation_is_predecessor_to, input_of(s));
    }
}

void run_stage(int s, unsigned long long items) {
    __itt_task_begin(domain, body_of(s), node_of(s), stage_names[s]);
    __itt_metadata_add(domain, body_of(s), items_key, __itt_metadata_u64, 1, &items);
    __itt_metadata_str_add(domain, body_of(s), label_key, "batch<&>", 0);
    volatile unsigned long long sum = 0;
    for (unsigned long long i = 0; i < items * 20000; ++i) sum = sum + i;
    __itt_task_end(domain);
}

void worker_main(unsigned worker) {
    // Every thread names its own handles too: the registry hands back the
    // same pointers, and the trace of each thread can be read on its own.
    __itt_string_handle_create("stage_load");
    for (int s = 0; s < stages; ++s) run_stage(s, 10 * (worker + 1) * static_cast<unsigned long long>(s + 1));
}

}  // namespace

int main() {
    std::printf("collector: %s\n", __itt_api_version());
    domain = __itt_domain_create("example.pipeline");
    graph_kind = __itt_string_handle_create("graph");
    node_kind = __itt_string_handle_create("node");
    input_port_kind = __itt_string_handle_create("input_port_0");
    output_port_kind = __itt_string_handle_create("output_port_0");
    stage_names[0] = __itt_string_handle_create("stage_load");
    stage_names[1] = __itt_string_handle_create("stage_transform");
    stage_names[2] = __itt_string_handle_create("stage_store");
    name_key = __itt_string_handle_create("name");
    items_key = __itt_string_handle_create("items");
    label_key = __itt_string_handle_create("label");

    __itt_region_begin(domain, make_id(7), __itt_null, graph_kind);
    declare_graph();
    std::vector<std::thread> workers;
    for (unsigned w = 0; w < 3; ++w) workers.emplace_back(worker_main, w);
    for (std::thread& t : workers) t.join();
    __itt_region_end(domain, make_id(7));
    __itt_api_fini(nullptr);
    return 0;
}
