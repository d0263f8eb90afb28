// sleeping_flow THREADS [HEAVY_FACTOR]: a oneTBB flow graph whose bodies
// sleep, so that how many run at once depends on THREADS and not on the
// machine's cores. A serial input node reads ITEMS items; each is decoded,
// transformed (the heavy stage, whose sleep HEAVY_FACTOR divides) by nodes
// of unlimited concurrency, and written by a serial node.
// Prints the checksum, which does not depend on the schedule.
#include <oneapi/tbb/flow_graph.h>
#include <oneapi/tbb/global_control.h>
#include <oneapi/tbb/task_arena.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

using namespace oneapi::tbb::flow;

constexpr int items = 48;

void sleep_us(long us) { std::this_thread::sleep_for(std::chrono::microseconds(us)); }

}  // namespace

int main(int argc, char** argv) {
    const int threads = argc > 1 ? std::atoi(argv[1]) : 2;
    const double heavy_factor = argc > 2 ? std::atof(argv[2]) : 1.0;
    if (threads < 1 || !(heavy_factor > 0)) return 2;
    oneapi::tbb::global_control limit(oneapi::tbb::global_control::max_allowed_parallelism, threads);
    oneapi::tbb::task_arena arena(threads);
    long checksum = 0;
    arena.execute([&] {
        graph g;
        int next = 0;
        input_node<long> read(g, [&](oneapi::tbb::flow_control& control) {
            if (next == items) {
                control.stop();
                return 0L;
            }
            sleep_us(1000);
            return static_cast<long>(next++);
        });
        function_node<long, long> decode(g, unlimited, [](long i) {
            sleep_us(4000 + 1000 * (i % 3));
            return i * 3;
        });
        function_node<long, long> transform(g, unlimited, [&](long i) {
            sleep_us(static_cast<long>((8000 + 1000 * (i % 5)) / heavy_factor));
            return i + 7;
        });
        function_node<long, continue_msg> write(g, serial, [&](long i) {
            sleep_us(500);
            checksum += i;
            return continue_msg();
        });
        oneapi::tbb::profiling::set_name(read, "read");
        oneapi::tbb::profiling::set_name(decode, "decode");
        oneapi::tbb::profiling::set_name(transform, "transform");
        oneapi::tbb::profiling::set_name(write, "write");
        make_edge(read, decode);
        make_edge(decode, transform);
        make_edge(transform, write);
        read.activate();
        g.wait_for_all();
    });
    std::printf("checksum %ld\n", checksum);
    return 0;
}
