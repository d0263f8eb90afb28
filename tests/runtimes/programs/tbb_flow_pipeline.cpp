// A oneTBB flow graph with the shapes real programs use: a bounded pipeline
// (an input_node throttled by a limiter_node that the last stage decrements),
// a queue_node in front of a two-wide rejecting stage, a sequencer_node that
// restores the order, an async_node whose work is done by a thread the
// program owns, and a serial sink. Every body spins for a known time.
//
// Prints "items=N spin_ns=S", then "ok" when every item came through in order.
#include <oneapi/tbb/flow_graph.h>
#include <oneapi/tbb/global_control.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace oneapi::tbb::flow;

constexpr int items = 24;
constexpr long spin_ns = 200000;

struct item {
    int seq = 0;
    long value = 0;
};

void spin() {
    const auto until = std::chrono::steady_clock::now() + std::chrono::nanoseconds(spin_ns);
    while (std::chrono::steady_clock::now() < until) {
    }
}

using async_stage = async_node<item, item>;

// The program's own thread that serves the async_node: the node's body only
// hands the item over, and the result re-enters the graph from this thread.
class server {
public:
    void submit(item i, async_stage::gateway_type& gateway) {
        gateway.reserve_wait();
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back({i, &gateway});
        ready_.notify_one();
    }
    void stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        ready_.notify_one();
        thread_.join();
    }

private:
    struct job {
        item i;
        async_stage::gateway_type* gateway;
    };
    void run() {
        for (;;) {
            std::unique_lock<std::mutex> lock(mutex_);
            ready_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) return;
            job j = queue_.front();
            queue_.pop_front();
            lock.unlock();
            spin();
            j.i.value += 1000;
            j.gateway->try_put(j.i);
            j.gateway->release_wait();
        }
    }
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<job> queue_;
    bool stopping_ = false;
    std::thread thread_{&server::run, this};
};

}  // namespace

int main() {
    // Two workers, as on the machines the tests run on.
    oneapi::tbb::global_control threads(oneapi::tbb::global_control::max_allowed_parallelism, 2);
    server serving;
    graph g;
    int next = 0;
    input_node<item> source(g, [&](oneapi::tbb::flow_control& control) {
        if (next == items) {
            control.stop();
            return item{};
        }
        spin();
        item i;
        i.seq = next++;
        i.value = i.seq;
        return i;
    });
    limiter_node<item> limiter(g, 3);
    queue_node<item> queue(g);
    function_node<item, item, rejecting> work(g, 2, [](item i) {
        spin();
        i.value *= 2;
        return i;
    });
    sequencer_node<item> order(g, [](const item& i) { return static_cast<size_t>(i.seq); });
    async_stage offload(g, serial, [&](const item& i, async_stage::gateway_type& gateway) {
        serving.submit(i, gateway);
    });
    std::vector<item> seen;
    function_node<item, continue_msg> sink(g, serial, [&](const item& i) {
        spin();
        seen.push_back(i);
        return continue_msg();
    });
    // Named as a user names them for a profiler.
    oneapi::tbb::profiling::set_name(g, "pipeline");
    oneapi::tbb::profiling::set_name(source, "read");
    oneapi::tbb::profiling::set_name(limiter, "in_flight");
    oneapi::tbb::profiling::set_name(queue, "backlog");
    oneapi::tbb::profiling::set_name(work, "transform");
    oneapi::tbb::profiling::set_name(order, "reorder");
    oneapi::tbb::profiling::set_name(offload, "offload");
    oneapi::tbb::profiling::set_name(sink, "write");
    make_edge(source, limiter);
    make_edge(limiter, queue);
    make_edge(queue, work);
    make_edge(work, order);
    make_edge(order, offload);
    make_edge(offload, sink);
    make_edge(sink, limiter.decrementer());
    source.activate();
    g.wait_for_all();
    serving.stop();

    std::printf("items=%d spin_ns=%ld\n", items, spin_ns);
    bool ok = static_cast<int>(seen.size()) == items;
    for (int k = 0; ok && k < items; ++k) ok = seen[k].seq == k && seen[k].value == 2L * k + 1000;
    std::printf("%s\n", ok ? "ok" : "wrong");
    return ok ? 0 : 1;
}
