// A three-stage pipeline declared the way task-graph runtimes declare their
// flow graphs through the __itt_* API: a graph, nodes named by metadata,
// ports, edges between ports, and a body per node declared as the node's
// child; every execution of a stage begins with its body's identifier.
// Each stage runs 50 times, on a thread of its own.
#include <mvt_xml/itt.h>

#include <thread>
#include <vector>

namespace {

__itt_domain* domain;

__itt_id id(unsigned long long value, unsigned long long tag = 0) { return __itt_id{value, tag, 0}; }

void declare(unsigned long long object, __itt_id parent, const char* kind) {
    __itt_id_create(domain, id(object));
    __itt_task_group(domain, id(object), parent, __itt_string_handle_create(kind));
}

void run_stage(int stage) {
    __itt_string_handle* body_name = __itt_string_handle_create("stage_body");
    for (int item = 0; item < 50; ++item) {
        __itt_task_begin(domain, id(200 + stage), __itt_null, body_name);
        volatile unsigned sum = 0;
        for (unsigned i = 0; i < 20000; ++i) sum = sum + i;
        __itt_task_end(domain);
    }
}

}  // namespace

int main() {
    domain = __itt_domain_create("example.flow");
    const char* names[3] = {"read", "scale", "write"};
    __itt_string_handle* name_key = __itt_string_handle_create("node_name");
    declare(1, __itt_null, "graph");
    for (unsigned long long stage = 0; stage < 3; ++stage) {
        const unsigned long long node = 10 + stage;
        declare(node, id(1), "function_node");
        __itt_metadata_str_add(domain, id(node), name_key, names[stage], 0);
        declare(100 + 2 * stage, id(node), "input_port_0");
        declare(101 + 2 * stage, id(node), "output_port_0");
        __itt_relation_add(domain, id(200 + stage), __itt_relation_is_child_of, id(node));
        if (stage > 0) __itt_relation_add(domain, id(101 + 2 * (stage - 1)), __itt_relation_is_predecessor_to,
                                          id(100 + 2 * stage));
    }
    std::vector<std::thread> stages;
    for (int stage = 0; stage < 3; ++stage) stages.emplace_back(run_stage, stage);
    for (std::thread& t : stages) t.join();
    return 0;
}
