// generate_trace DIR MEGABYTES [FILES [SHAPE [NODES]]]: writes a synthetic
// run of about that size, spread over FILES trace files, in one of two
// shapes:
//   openmp (the default): a traced OpenMP program, whose every task has a
//     node: names up front, then implicit tasks that each create a blocked
//     sweep of 64 tasks (a node under the creating task, the code address
//     of one of three constructs, dependences on storage locations), then
//     run them. The graph grows with the trace.
//   flow: a task-graph runtime's flow graph of NODES nodes (default 1000)
//     with ports, edges in chains of ten and a body per node, declared once;
//     then only executions of the bodies. The graph stays the same size
//     however large the trace.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

class trace_out {
public:
    explicit trace_out(const std::string& path) : file_(std::fopen(path.c_str(), "w")) {
        if (file_ == nullptr) {
            std::perror(path.c_str());
            std::exit(1);
        }
        std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
        line("<?xml version=\"1.0\"?>");
        line("<trace version=\"0\" ts_frequency=\"1000000000\" hardware_concurrency=\"2\">");
    }
    ~trace_out() { std::fclose(file_); }
    trace_out(const trace_out&) = delete;
    trace_out& operator=(const trace_out&) = delete;

    void line(const char* text) {
        bytes_ += std::fprintf(file_, "%s\n", text);
    }
    void field(unsigned long long v) { bytes_ += std::fprintf(file_, "<field>%llu</field>\n", v); }
    void text(const char* s) { bytes_ += std::fprintf(file_, "<field>%s</field>\n", s); }
    void id(unsigned long long a, unsigned long long b) {
        bytes_ += std::fprintf(file_, "<compound_field>\n<field>%llu</field>\n<field>%llu</field>\n<field>0</field>\n</compound_field>\n", a, b);
    }
    void begin(const char* name, unsigned long long& clock) {
        line("<record>");
        text(name);
        clock += 137;
        field(clock);
    }
    void end() { line("</record>"); }
    long long bytes() const { return bytes_; }

private:
    std::FILE* file_;
    long long bytes_ = 0;
};

const unsigned long long domain = 94812345678000ull;
const char* const names[] = {"omp_parallel", "omp_implicit", "omp_explicit", "omp_barrier", "node", "code_address",
                             "graph", "function_node", "input_port_0", "output_port_0", "node_name", "body"};
constexpr int name_count = sizeof names / sizeof names[0];
unsigned long long handle(int i) { return 94812345679000ull + 32ull * static_cast<unsigned long long>(i); }

// Tasks are created by a few constructs, as in a program: their code
// addresses repeat.
constexpr int constructs = 3;
unsigned long long code_address(unsigned long long construct) { return 94812345600000ull + 64 * construct; }

// The storage location of block `block` of an implicit task's grid.
unsigned long long location(unsigned long long implicit, int block) {
    return 1000000000000ull + 16 * implicit + static_cast<unsigned long long>(block);
}

// A task created by `parent`, as the translation of an OpenMP runtime's
// events writes it: its node under the creating task, the node's code
// address, then its dependences (an update of its block after reading the
// blocks beside it).
void create_task(trace_out& out, unsigned long long& clock, unsigned long long task, unsigned long long parent,
                 int block, int blocks) {
    const unsigned long long implicit = parent;
    out.begin("id_create", clock);
    out.field(domain); out.id(task, 0);
    out.end();
    out.begin("relation", clock);
    out.field(domain); out.id(task, 0); out.field(5); out.id(parent, 0);
    out.end();
    out.begin("task_group", clock);
    out.field(domain); out.id(task, 1); out.id(parent, 0); out.field(handle(4));
    out.end();
    const int construct = block == 0 || block == blocks - 1 ? 0 : 1 + block % (constructs - 1);
    out.begin("metadata", clock);
    out.field(domain); out.id(task, 0); out.field(handle(5)); out.field(1); out.field(1);
    out.field(code_address(static_cast<unsigned long long>(construct)));
    out.end();
    for (int neighbour = block - 1; neighbour <= block + 1; ++neighbour) {
        if (neighbour < 0 || neighbour >= blocks) continue;
        out.begin("relation", clock);
        out.field(domain); out.id(location(implicit, neighbour), 0); out.field(7); out.id(task, 1);
        out.end();
    }
    out.begin("relation", clock);
    out.field(domain); out.id(task, 1); out.field(7); out.id(location(implicit, block), 0);
    out.end();
}

void run_task(trace_out& out, unsigned long long& clock, unsigned long long task) {
    out.begin("task_begin", clock);
    out.field(domain); out.id(task, 0); out.id(0, 0); out.field(handle(2)); out.field(0);
    out.end();
    clock += 1000 * (task % 7);
    out.begin("task_end", clock);
    out.field(domain);
    out.end();
}

void names_and_domain(trace_out& out, unsigned long long& clock, const char* domain_name) {
    out.begin("domain_createA", clock);
    out.field(domain); out.field(std::string(domain_name).size()); out.text(domain_name);
    out.end();
    for (int i = 0; i < name_count; ++i) {
        out.begin("string_handle_createA", clock);
        out.field(handle(i)); out.field(std::string(names[i]).size()); out.text(names[i]);
        out.end();
    }
}

void openmp_file(trace_out& out, unsigned long long& clock, long long bytes, unsigned long long& next_id) {
    while (out.bytes() < bytes) {
        unsigned long long implicit = next_id++;
        out.begin("task_group", clock);
        out.field(domain); out.id(implicit, 0); out.id(1, 0); out.field(handle(1));
        out.end();
        out.begin("task_begin", clock);
        out.field(domain); out.id(implicit, 0); out.id(1, 0); out.field(handle(1)); out.field(0);
        out.end();
        // A blocked sweep: eight sweeps over eight blocks, all created
        // first, then run in the order they were created.
        constexpr int blocks = 8, sweeps = 8;
        const unsigned long long first = next_id;
        for (int sweep = 0; sweep < sweeps; ++sweep)
            for (int block = 0; block < blocks; ++block) create_task(out, clock, next_id++, implicit, block, blocks);
        for (unsigned long long task = first; task < next_id; ++task) run_task(out, clock, task);
        out.begin("task_end", clock);
        out.field(domain);
        out.end();
    }
}

// Node n is the group 10 + 4n, its ports the next two values, its body the
// third.
void flow_graph(trace_out& out, unsigned long long& clock, unsigned long long nodes) {
    out.begin("task_group", clock);
    out.field(domain); out.id(1, 0); out.id(0, 0); out.field(handle(6));
    out.end();
    for (unsigned long long n = 0; n < nodes; ++n) {
        const unsigned long long node = 10 + 4 * n;
        out.begin("task_group", clock);
        out.field(domain); out.id(node, 0); out.id(1, 0); out.field(handle(7));
        out.end();
        const std::string label = "stage_" + std::to_string(n);
        out.begin("metadata_stringA", clock);
        out.field(domain); out.id(node, 0); out.field(handle(10)); out.field(label.size()); out.text(label.c_str());
        out.end();
        for (int port = 1; port <= 2; ++port) {
            out.begin("task_group", clock);
            out.field(domain); out.id(node + static_cast<unsigned long long>(port), 0); out.id(node, 0);
            out.field(handle(7 + port));
            out.end();
        }
        out.begin("relation", clock);
        out.field(domain); out.id(node + 3, 0); out.field(5); out.id(node, 0);
        out.end();
        if (n % 10 != 0) {
            out.begin("relation", clock);
            out.field(domain); out.id(node - 4 + 2, 0); out.field(7); out.id(node + 1, 0);
            out.end();
        }
    }
}

void flow_executions(trace_out& out, unsigned long long& clock, long long bytes, unsigned long long nodes, int file) {
    for (unsigned long long i = static_cast<unsigned long long>(file); out.bytes() < bytes; ++i) {
        out.begin("task_begin", clock);
        out.field(domain); out.id(10 + 4 * (i % nodes) + 3, 0); out.id(0, 0); out.field(handle(11)); out.field(0);
        out.end();
        clock += 1000 * (i % 7);
        out.begin("task_end", clock);
        out.field(domain);
        out.end();
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s DIR MEGABYTES [FILES [openmp|flow [NODES]]]\n", argv[0]);
        return 2;
    }
    std::string dir = argv[1];
    long long target = std::atoll(argv[2]) * 1000000ll;
    int files = argc > 3 ? std::atoi(argv[3]) : 2;
    if (files < 1) files = 1;
    const std::string shape = argc > 4 ? argv[4] : "openmp";
    const unsigned long long nodes = argc > 5 ? std::strtoull(argv[5], nullptr, 10) : 1000;
    if ((shape != "openmp" && shape != "flow") || nodes == 0) {
        std::fprintf(stderr, "%s: the shape is openmp or flow, with at least one node\n", argv[0]);
        return 2;
    }
    unsigned long long next_id = 100;
    for (int f = 0; f < files; ++f) {
        trace_out out(dir + "/_mvt." + std::to_string(f));
        unsigned long long clock = 1796347852000000000ull + static_cast<unsigned long long>(f) * 1000;
        if (f == 0) names_and_domain(out, clock, shape == "openmp" ? "openmp" : "flow.bench");
        if (shape == "openmp") {
            openmp_file(out, clock, target / files, next_id);
        } else {
            if (f == 0) flow_graph(out, clock, nodes);
            flow_executions(out, clock, target / files, nodes, f);
        }
        out.begin("end_of_records", clock);
        out.end();
        out.line("</trace>");
    }
    return 0;
}
