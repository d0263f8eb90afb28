// generate_trace DIR MEGABYTES [FILES]: writes a synthetic run of about that
// size, spread over FILES trace files, shaped like a traced OpenMP program:
// string handles up front, then parallel regions whose tasks have groups,
// relations, metadata and nested executions.
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
const char* const names[] = {"omp_parallel", "omp_implicit", "omp_explicit", "omp_barrier", "node", "code_address"};
unsigned long long handle(int i) { return 94812345679000ull + 32ull * static_cast<unsigned long long>(i); }

void one_task(trace_out& out, unsigned long long& clock, unsigned long long task, unsigned long long parent) {
    out.begin("task_group", clock);
    out.field(domain); out.id(task, 1); out.id(parent, 0); out.field(handle(4));
    out.end();
    out.begin("relation", clock);
    out.field(domain); out.id(task, 1); out.field(7); out.id(task % 97 + 1000, 0);
    out.end();
    out.begin("metadata", clock);
    out.field(domain); out.id(task, 0); out.field(handle(5)); out.field(1); out.field(1); out.field(94812345600000ull + task);
    out.end();
    out.begin("task_begin", clock);
    out.field(domain); out.id(task, 0); out.id(0, 0); out.field(handle(2)); out.field(0);
    out.end();
    out.begin("task_end", clock);
    out.field(domain);
    out.end();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s DIR MEGABYTES [FILES]\n", argv[0]);
        return 2;
    }
    std::string dir = argv[1];
    long long target = std::atoll(argv[2]) * 1000000ll;
    int files = argc > 3 ? std::atoi(argv[3]) : 2;
    if (files < 1) files = 1;
    unsigned long long next_id = 100;
    for (int f = 0; f < files; ++f) {
        trace_out out(dir + "/_mvt." + std::to_string(f));
        unsigned long long clock = 1796347852000000000ull + static_cast<unsigned long long>(f) * 1000;
        for (int i = 0; f == 0 && i < 6; ++i) {
            out.begin("string_handle_createA", clock);
            out.field(handle(i)); out.field(std::string(names[i]).size()); out.text(names[i]);
            out.end();
        }
        while (out.bytes() < target / files) {
            unsigned long long implicit = next_id++;
            out.begin("task_begin", clock);
            out.field(domain); out.id(implicit, 0); out.id(1, 0); out.field(handle(1)); out.field(0);
            out.end();
            for (int t = 0; t < 64; ++t) one_task(out, clock, next_id++, implicit);
            out.begin("task_end", clock);
            out.field(domain);
            out.end();
        }
        out.begin("end_of_records", clock);
        out.end();
        out.line("</trace>");
    }
    return 0;
}
