// A flow graph declared through the __itt_* API, as task-graph runtimes
// declare theirs: three nodes named by metadata ("parse", "solve",
// "store") and one left unnamed, each run 20 times on a thread of its own,
// sleeping 40 ms (the unnamed one 10 ms); with the argument "slow", "solve"
// sleeps 80 ms. diff must flag "solve" alone.
#include <mvt_xml/itt.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace {

__itt_domain* domain;

__itt_id id(unsigned long long value) { return __itt_id{value, 0, 0}; }

void declare(unsigned long long object, __itt_id parent, const char* kind) {
    __itt_id_create(domain, id(object));
    __itt_task_group(domain, id(object), parent, __itt_string_handle_create(kind));
}

void run_node(unsigned long long body, int ms) {
    __itt_string_handle* name = __itt_string_handle_create("body");
    for (int item = 0; item < 20; ++item) {
        __itt_task_begin(domain, id(body), __itt_null, name);
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        __itt_task_end(domain);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const bool slow = argc > 1 && std::strcmp(argv[1], "slow") == 0;
    domain = __itt_domain_create("example.stages");
    __itt_string_handle* name_key = __itt_string_handle_create("node_name");
    const char* names[4] = {"parse", "solve", "store", nullptr};
    const int sleeps[4] = {40, slow ? 80 : 40, 40, 10};
    declare(1, __itt_null, "graph");
    for (unsigned long long node = 0; node < 4; ++node) {
        declare(10 + node, id(1), "function_node");
        if (names[node]) __itt_metadata_str_add(domain, id(10 + node), name_key, names[node], 0);
        __itt_relation_add(domain, id(100 + node), __itt_relation_is_child_of, id(10 + node));
        if (node > 0) __itt_relation_add(domain, id(10 + node - 1), __itt_relation_is_predecessor_to, id(10 + node));
    }
    std::vector<std::thread> nodes;
    for (int node = 0; node < 4; ++node) nodes.emplace_back(run_node, 100 + node, sleeps[node]);
    for (std::thread& t : nodes) t.join();
    return 0;
}
