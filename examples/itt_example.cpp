// A small instrumented program: it declares a pipeline graph of three stages
// with task groups and relations, then runs the stages on worker threads,
// recording each execution with its metadata.

#include <mvt_xml/itt.h>

#include <cstdio>
#include <thread>
#include <vector>

namespace {

__itt_domain* domain;
__itt_string_handle* graph_name;
__itt_string_handle* node_name;
__itt_string_handle* stage_names[3];
__itt_string_handle* items_key;
__itt_string_handle* label_key;

__itt_id make_id(unsigned long long value, unsigned long long tag = 0) { return __itt_id{value, tag, 0}; }

void declare_graph() {
    __itt_id graph = make_id(1);
    __itt_id_create(domain, graph);
    __itt_task_group(domain, graph, __itt_null, graph_name);
    for (unsigned long long stage = 0; stage < 3; ++stage) {
        __itt_id node = make_id(100 + stage, 1);
        __itt_id_create(domain, node);
        __itt_task_group(domain, node, graph, node_name);
        if (stage > 0) __itt_relation_add(domain, make_id(99 + stage, 1), __itt_relation_is_predecessor_to, node);
    }
}

void run_stage(unsigned worker, int stage, unsigned long long items) {
    __itt_id execution = make_id(1000 * (worker + 1) + static_cast<unsigned long long>(stage));
    __itt_id_create(domain, execution);
    __itt_task_begin(domain, execution, make_id(100 + static_cast<unsigned long long>(stage), 1),
                     stage_names[stage]);
    __itt_metadata_add(domain, execution, items_key, __itt_metadata_u64, 1, &items);
    __itt_metadata_str_add(domain, execution, label_key, "batch<&>", 0);
    volatile unsigned long long sum = 0;
    for (unsigned long long i = 0; i < items * 1000; ++i) sum = sum + i;
    __itt_task_end(domain);
    __itt_id_destroy(domain, execution);
}

void worker_main(unsigned worker) {
    // Every thread names its own handles too: the registry hands back the
    // same pointers, and the trace of each thread can be read on its own.
    __itt_string_handle_create("stage_load");
    for (int stage = 0; stage < 3; ++stage) run_stage(worker, stage, 10 * (worker + 1));
}

}  // namespace

int main() {
    std::printf("collector: %s\n", __itt_api_version());
    domain = __itt_domain_create("example.pipeline");
    graph_name = __itt_string_handle_create("graph");
    node_name = __itt_string_handle_create("node");
    stage_names[0] = __itt_string_handle_create("stage_load");
    stage_names[1] = __itt_string_handle_create("stage_transform");
    stage_names[2] = __itt_string_handle_create("stage_store");
    items_key = __itt_string_handle_create("items");
    label_key = __itt_string_handle_create("label");

    __itt_region_begin(domain, make_id(7), __itt_null, graph_name);
    declare_graph();
    std::vector<std::thread> workers;
    for (unsigned w = 0; w < 3; ++w) workers.emplace_back(worker_main, w);
    for (std::thread& t : workers) t.join();
    __itt_region_end(domain, make_id(7));
    __itt_api_fini(nullptr);
    return 0;
}
