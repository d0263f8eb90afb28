// A parse of a large file makes millions of small elements. They live in
// 2 MB slabs, packed without per-allocation headers, and each thread takes
// and returns slots in batches through a small cache of its own, so that the
// pool's lock is taken once per batch rather than once per element. Fresh
// slab memory is populated ahead of use in small steps: faulting pages in one
// call costs far less than one fault per page, and the step is small enough
// that a program holding a handful of elements pays for little more than it
// uses. A slab is unmapped once its last element is gone (one empty slab is
// kept to avoid mapping churn at a boundary).
//
// Elements made by the global allocator may end up in a tree too, and are
// then deleted through the class's operator delete. A process-wide bitmap
// with one bit per 2 MB of address space marks the slabs, so that release can
// tell, without a lock and without touching the memory, whether an address
// belongs to the pool.
//
// Under AddressSanitizer the pool steps aside, so that element misuse stays
// visible to it.
#include "element_pool.h"

#include <sys/mman.h>

#include <cstdint>
#include <mutex>
#include <new>

#include "mvt_xml/xml_element.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MVT_XML_POOL_BYPASS 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define MVT_XML_POOL_BYPASS 1
#endif

namespace xml {
namespace element_pool {

#if defined(MVT_XML_POOL_BYPASS)

void* allocate(std::size_t size) { return ::operator new(size); }
void release(void* p) noexcept { ::operator delete(p); }

#else

namespace {

constexpr unsigned slab_shift = 21;
constexpr std::size_t slab_bytes = std::size_t{1} << slab_shift;
constexpr std::size_t populate_step = std::size_t{64} << 10;
constexpr std::size_t batch = 32;

constexpr std::size_t round_up(std::size_t n, std::size_t to) { return (n + to - 1) / to * to; }

// The slab map: one bit per slab-sized stretch of the user address space.
// Reserved without backing; only the pages holding set bits are ever
// written, and reads of the rest see the shared zero page.
class slab_map {
public:
    bool contains(const void* p) const noexcept {
        const std::uint64_t* words = __atomic_load_n(&words_, __ATOMIC_ACQUIRE);
        const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(p);
        if (words == nullptr || (address >> address_bits) != 0) return false;
        const std::uintptr_t index = address >> slab_shift;
        return (__atomic_load_n(&words[index / 64], __ATOMIC_RELAXED) >> (index % 64) & 1) != 0;
    }

    // Called under the pool's lock; false when the map cannot be made.
    bool mark(const void* slab_start) noexcept {
        if (__atomic_load_n(&words_, __ATOMIC_RELAXED) == nullptr && !reserve()) return false;
        const std::uintptr_t index = reinterpret_cast<std::uintptr_t>(slab_start) >> slab_shift;
        __atomic_fetch_or(&words_[index / 64], std::uint64_t{1} << (index % 64), __ATOMIC_RELAXED);
        return true;
    }

    void unmark(const void* slab_start) noexcept {
        const std::uintptr_t index = reinterpret_cast<std::uintptr_t>(slab_start) >> slab_shift;
        __atomic_fetch_and(&words_[index / 64], ~(std::uint64_t{1} << (index % 64)), __ATOMIC_RELAXED);
    }

private:
    static constexpr unsigned address_bits = 48;
    static constexpr std::size_t map_bytes = (std::uintptr_t{1} << (address_bits - slab_shift)) / 8;

    bool reserve() noexcept {
        void* raw = mmap(nullptr, map_bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (raw == MAP_FAILED) return false;
        __atomic_store_n(&words_, static_cast<std::uint64_t*>(raw), __ATOMIC_RELEASE);
        return true;
    }

    std::uint64_t* words_ = nullptr;
};

// Constant-initialised, so it answers even before or after the pool exists.
slab_map the_slab_map;

struct free_slot {
    free_slot* next;
};

struct slab {
    slab* prev;             // list of slabs with at least one free slot
    slab* next;
    free_slot* free_slots;  // slots given back, reused first
    std::size_t carved;     // slots ever handed out from the untouched tail
    std::size_t live;       // slots out of the slab: in use or in a thread's cache
    std::size_t populated;  // bytes from the slab's start populated so far, a multiple of the page size
};

constexpr std::size_t slot_bytes = round_up(sizeof(element), alignof(element));
constexpr std::size_t first_slot = round_up(sizeof(slab), alignof(std::max_align_t));
constexpr std::size_t slots_per_slab = (slab_bytes - first_slot) / slot_bytes;
static_assert(slot_bytes >= sizeof(free_slot), "a free slot must fit in an element slot");

slab* slab_of(void* p) {
    return reinterpret_cast<slab*>(reinterpret_cast<std::uintptr_t>(p) & ~(slab_bytes - 1));
}

class pool {
public:
    // Links up to `wanted` slots into `list`; returns how many. Zero only when
    // no memory can be had.
    std::size_t take(free_slot*& list, std::size_t wanted) noexcept {
        const std::lock_guard<std::mutex> guard(lock_);
        std::size_t taken = 0;
        while (taken < wanted) {
            if (with_room_ == nullptr && !link_fresh_slab()) break;
            slab* s = with_room_;
            while (taken < wanted && s->live < slots_per_slab) {
                auto* slot = static_cast<free_slot*>(take_slot(s));
                slot->next = list;
                list = slot;
                ++taken;
            }
            if (s->live == slots_per_slab) unlink(s);
        }
        return taken;
    }

    void give_back(free_slot* list) noexcept {
        const std::lock_guard<std::mutex> guard(lock_);
        while (list != nullptr) {
            free_slot* slot = list;
            list = list->next;
            slab* s = slab_of(slot);
            if (s->live == slots_per_slab) link(s);
            slot->next = s->free_slots;
            s->free_slots = slot;
            if (--s->live == 0) retire(s);
        }
    }

private:
    static void* take_slot(slab* s) noexcept {
        ++s->live;
        if (s->free_slots != nullptr) {
            free_slot* slot = s->free_slots;
            s->free_slots = slot->next;
            return slot;
        }
        const std::size_t offset = first_slot + s->carved++ * slot_bytes;
        if (offset + slot_bytes > s->populated) populate(s);
        return reinterpret_cast<char*>(s) + offset;
    }

    // Best effort: on kernels without MADV_POPULATE_WRITE the pages are
    // faulted in one by one as usual.
    static void populate(slab* s) noexcept {
        char* from = reinterpret_cast<char*>(s) + s->populated;
        const std::size_t length = populate_step < slab_bytes - s->populated ? populate_step : slab_bytes - s->populated;
#if defined(MADV_POPULATE_WRITE)
        madvise(from, length, MADV_POPULATE_WRITE);
#else
        static_cast<void>(from);
#endif
        s->populated += length;
    }

    // Maps twice the slab size to find a slab-aligned start, which is what
    // lets release find the slab of any slot, then returns the excess.
    static slab* map_slab() noexcept {
        void* raw = mmap(nullptr, 2 * slab_bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (raw == MAP_FAILED) return nullptr;
        const std::uintptr_t begin = reinterpret_cast<std::uintptr_t>(raw);
        const std::uintptr_t start = round_up(begin, slab_bytes);
        if (start > begin) munmap(raw, start - begin);
        const std::size_t tail = slab_bytes - (start - begin);
        if (tail > 0) munmap(reinterpret_cast<void*>(start + slab_bytes), tail);
        void* aligned = reinterpret_cast<void*>(start);
        if (!the_slab_map.mark(aligned)) {
            munmap(aligned, slab_bytes);
            return nullptr;
        }
        return new (aligned) slab{nullptr, nullptr, nullptr, 0, 0, 0};
    }

    bool link_fresh_slab() noexcept {
        slab* s = spare_;
        spare_ = nullptr;
        if (s == nullptr) s = map_slab();
        if (s == nullptr) return false;
        link(s);
        return true;
    }

    void retire(slab* s) noexcept {
        unlink(s);
        if (spare_ == nullptr) {
            const std::size_t populated = s->populated;
            spare_ = new (s) slab{nullptr, nullptr, nullptr, 0, 0, populated};
        } else {
            the_slab_map.unmark(s);
            munmap(s, slab_bytes);
        }
    }

    void link(slab* s) noexcept {
        s->prev = nullptr;
        s->next = with_room_;
        if (with_room_ != nullptr) with_room_->prev = s;
        with_room_ = s;
    }

    void unlink(slab* s) noexcept {
        if (s->prev != nullptr) s->prev->next = s->next;
        if (s->next != nullptr) s->next->prev = s->prev;
        if (with_room_ == s) with_room_ = s->next;
        s->prev = s->next = nullptr;
    }

    std::mutex lock_;
    slab* with_room_ = nullptr;
    slab* spare_ = nullptr;
};

// Never destroyed: elements may outlive every other static object.
pool& the_pool() {
    static pool* const instance = new pool;
    return *instance;
}

// A thread's own slots. Trivially destructible, so it stays usable while the
// thread's other thread-locals are destroyed; `closed` is set once its slots
// went back at thread exit, after which the thread works on the pool directly.
struct thread_cache {
    free_slot* slots;
    std::size_t count;
    bool closed;
};
thread_local thread_cache cache{nullptr, 0, false};

struct cache_closer {
    cache_closer() = default;
    cache_closer(const cache_closer&) = delete;
    cache_closer& operator=(const cache_closer&) = delete;
    ~cache_closer() {
        cache.closed = true;
        if (cache.slots != nullptr) the_pool().give_back(cache.slots);
        cache.slots = nullptr;
        cache.count = 0;
    }
};
thread_local cache_closer closer;

void refill(thread_cache& c) noexcept {
    // Naming the closer registers its destructor for this thread.
    static_cast<void>(&closer);
    c.count += the_pool().take(c.slots, batch);
}

// Keeps `batch` slots and returns the rest.
void trim(thread_cache& c) noexcept {
    free_slot* last_kept = c.slots;
    for (std::size_t i = 1; i < batch; ++i) last_kept = last_kept->next;
    free_slot* surplus = last_kept->next;
    last_kept->next = nullptr;
    c.count = batch;
    the_pool().give_back(surplus);
}

}  // namespace

// Memory the pool cannot provide comes from the global allocator, which
// release recognises as not the pool's.
void* allocate(std::size_t size) {
    if (size != sizeof(element)) return ::operator new(size);
    thread_cache& c = cache;
    if (c.closed) {
        free_slot* slot = nullptr;
        return the_pool().take(slot, 1) == 1 ? slot : ::operator new(size);
    }
    if (c.count == 0) refill(c);
    if (c.count == 0) return ::operator new(size);
    free_slot* slot = c.slots;
    c.slots = slot->next;
    --c.count;
    return slot;
}

void release(void* p) noexcept {
    if (p == nullptr) return;
    if (!the_slab_map.contains(p)) {
        ::operator delete(p);
        return;
    }
    thread_cache& c = cache;
    auto* slot = static_cast<free_slot*>(p);
    if (c.closed) {
        slot->next = nullptr;
        the_pool().give_back(slot);
        return;
    }
    slot->next = c.slots;
    c.slots = slot;
    if (++c.count > 2 * batch) trim(c);
}

#endif

}  // namespace element_pool
}  // namespace xml
