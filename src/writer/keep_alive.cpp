#include "writer/keep_alive.h"

#include <atomic>
#include <cstdlib>

namespace writer {

namespace {

struct kept {
    void* allocation;
    kept* next;
};

// Trivially destructible, so it is still intact while exit handlers run.
std::atomic<kept*> kept_allocations{nullptr};

}  // namespace

void keep_for_process_lifetime(void* allocation) noexcept {
    kept* node = static_cast<kept*>(std::malloc(sizeof(kept)));
    if (!node) return;
    node->allocation = allocation;
    node->next = kept_allocations.load(std::memory_order_relaxed);
    while (!kept_allocations.compare_exchange_weak(node->next, node, std::memory_order_release,
                                                   std::memory_order_relaxed)) {
    }
}

}  // namespace writer
