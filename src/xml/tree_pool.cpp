// A parse of a large file makes millions of small elements and attribute
// arrays. They live in 2 MB slabs, one size of slot per slab, packed without
// per-allocation headers, and each thread takes and returns slots in batches
// through a small cache of its own, so that a pool's lock is taken once per
// batch rather than once per allocation. Fresh slab memory is populated ahead
// of use in small steps: faulting pages in with one call costs far less than
// one fault per page, and the step is small enough that a program holding a
// handful of elements pays for little more than it uses. The policy is the
// same for every size of tree. A slab is unmapped once its last slot is back
// (one empty slab per size is kept to avoid mapping churn at a boundary).
//
// Elements made by the global allocator may end up in a tree too, and are
// then deleted through the class's operator delete. A process-wide bitmap
// with one bit per 2 MB of address space marks the slabs, so that release can
// tell, without a lock and without touching the memory, whether an address
// belongs to the pool.
//
// Under AddressSanitizer the pool steps aside, so that misuse of elements
// stays visible to it.
#include "tree_pool.h"

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
namespace tree_pool {

#if defined(MVT_XML_POOL_BYPASS)

void* allocate(std::size_t size) { return ::operator new(size); }
void release(void* p) noexcept { ::operator delete(p); }

#else

namespace {

constexpr unsigned slab_shift = 21;
constexpr std::size_t slab_bytes = std::size_t{1} << slab_shift;
constexpr std::size_t populate_step = std::size_t{64} << 10;
// Bytes a thread keeps per size before it gives slots back.
constexpr std::size_t batch_bytes = 4096;

constexpr std::size_t round_up(std::size_t n, std::size_t to) { return (n + to - 1) / to * to; }

// Slot sizes: an element, and attribute arrays of 1 to 16 entries (an
// 8-byte header and two strings per entry), in ascending order.
constexpr std::size_t element_bytes = round_up(sizeof(element), alignof(element));
constexpr std::size_t array_bytes(std::size_t entries) {
    return 8 + entries * sizeof(attribute_map::value_type);
}
constexpr std::size_t class_count = 17;

struct size_table {
    std::size_t bytes[class_count];
};

constexpr size_table make_size_table() {
    size_table t{};
    std::size_t n = 0;
    bool element_placed = false;
    for (std::size_t entries = 1; entries <= 16; ++entries) {
        if (!element_placed && element_bytes <= array_bytes(entries)) {
            if (element_bytes < array_bytes(entries)) t.bytes[n++] = element_bytes;
            element_placed = true;
        }
        t.bytes[n++] = array_bytes(entries);
    }
    // An element as large as an array shares its class; the table then ends
    // with the largest array size repeated, which is harmless.
    while (n < class_count) {
        t.bytes[n] = t.bytes[n - 1];
        ++n;
    }
    return t;
}

constexpr size_table slot_sizes = make_size_table();

// The smallest class that fits, or class_count when none does.
std::size_t class_of(std::size_t size) {
    std::size_t c = 0;
    while (c < class_count && slot_sizes.bytes[c] < size) ++c;
    return c;
}

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

    // Called under a pool's lock; false when the map cannot be made.
    bool mark(const void* slab_start) noexcept {
        std::uint64_t* words = reserve();
        if (words == nullptr) return false;
        const std::uintptr_t index = reinterpret_cast<std::uintptr_t>(slab_start) >> slab_shift;
        __atomic_fetch_or(&words[index / 64], std::uint64_t{1} << (index % 64), __ATOMIC_RELAXED);
        return true;
    }

    void unmark(const void* slab_start) noexcept {
        std::uint64_t* words = __atomic_load_n(&words_, __ATOMIC_ACQUIRE);
        const std::uintptr_t index = reinterpret_cast<std::uintptr_t>(slab_start) >> slab_shift;
        __atomic_fetch_and(&words[index / 64], ~(std::uint64_t{1} << (index % 64)), __ATOMIC_RELAXED);
    }

private:
    static constexpr unsigned address_bits = 48;
    static constexpr std::size_t map_bytes = (std::uintptr_t{1} << (address_bits - slab_shift)) / 8;

    // Pools of different sizes may race to make the map; one wins.
    std::uint64_t* reserve() noexcept {
        std::uint64_t* words = __atomic_load_n(&words_, __ATOMIC_ACQUIRE);
        if (words != nullptr) return words;
        void* raw = mmap(nullptr, map_bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (raw == MAP_FAILED) return nullptr;
        auto* fresh = static_cast<std::uint64_t*>(raw);
        if (__atomic_compare_exchange_n(&words_, &words, fresh, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) return fresh;
        munmap(raw, map_bytes);
        return words;
    }

    std::uint64_t* words_ = nullptr;
};

// Constant-initialised, so it answers even before or after the pools exist.
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
    std::size_t size_class;
};

constexpr std::size_t first_slot = round_up(sizeof(slab), 16);

slab* slab_of(void* p) {
    return reinterpret_cast<slab*>(reinterpret_cast<std::uintptr_t>(p) & ~(slab_bytes - 1));
}

// The slabs of one slot size.
class class_pool {
public:
    void set_class(std::size_t size_class) {
        size_class_ = size_class;
        slot_bytes_ = slot_sizes.bytes[size_class];
        slots_per_slab_ = (slab_bytes - first_slot) / slot_bytes_;
    }

    // Links up to `wanted` slots into `list`; returns how many. Zero only when
    // no memory can be had.
    std::size_t take(free_slot*& list, std::size_t wanted) noexcept {
        const std::lock_guard<std::mutex> guard(lock_);
        std::size_t taken = 0;
        while (taken < wanted) {
            if (with_room_ == nullptr && !link_fresh_slab()) break;
            slab* s = with_room_;
            while (taken < wanted && s->live < slots_per_slab_) {
                auto* slot = static_cast<free_slot*>(take_slot(s));
                slot->next = list;
                list = slot;
                ++taken;
            }
            if (s->live == slots_per_slab_) unlink(s);
        }
        return taken;
    }

    void give_back(free_slot* list) noexcept {
        const std::lock_guard<std::mutex> guard(lock_);
        while (list != nullptr) {
            free_slot* slot = list;
            list = list->next;
            slab* s = slab_of(slot);
            if (s->live == slots_per_slab_) link(s);
            slot->next = s->free_slots;
            s->free_slots = slot;
            if (--s->live == 0) retire(s);
        }
    }


private:
    void* take_slot(slab* s) noexcept {
        ++s->live;
        if (s->free_slots != nullptr) {
            free_slot* slot = s->free_slots;
            s->free_slots = slot->next;
            return slot;
        }
        const std::size_t offset = first_slot + s->carved++ * slot_bytes_;
        while (offset + slot_bytes_ > s->populated) populate(s);
        return reinterpret_cast<char*>(s) + offset;
    }

    // Best effort: on kernels without MADV_POPULATE_WRITE the pages are
    // faulted in one by one as usual.
    static void populate(slab* s) noexcept {
        char* from = reinterpret_cast<char*>(s) + s->populated;
        const std::size_t left = slab_bytes - s->populated;
        const std::size_t length = populate_step < left ? populate_step : left;
#if defined(MADV_POPULATE_WRITE)
        madvise(from, length, MADV_POPULATE_WRITE);
#else
        static_cast<void>(from);
#endif
        s->populated += length;
    }

    // Maps twice the slab size to find a slab-aligned start, which is what
    // lets release find the slab of any slot, then returns the excess.
    slab* map_slab() noexcept {
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
        return new (aligned) slab{nullptr, nullptr, nullptr, 0, 0, 0, size_class_};
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
            spare_ = new (s) slab{nullptr, nullptr, nullptr, 0, 0, populated, size_class_};
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
    std::size_t size_class_ = 0;
    std::size_t slot_bytes_ = 0;
    std::size_t slots_per_slab_ = 0;
};

struct pool_set {
    pool_set() {
        for (std::size_t c = 0; c < class_count; ++c) pools[c].set_class(c);
    }
    class_pool pools[class_count];
};

// Never destroyed: elements may outlive every other static object.
class_pool& pool_for(std::size_t size_class) {
    static pool_set* const set = new pool_set;
    return set->pools[size_class];
}

std::size_t batch_for(std::size_t size_class) {
    const std::size_t slots = batch_bytes / slot_sizes.bytes[size_class];
    return slots > 2 ? slots : 2;
}

// A thread's own slots, per size. Trivially destructible, so it stays usable
// while the thread's other thread-locals are destroyed; `closed` is set once
// its slots went back at thread exit, after which the thread works on the
// pools directly.
struct thread_cache {
    free_slot* slots[class_count];
    std::size_t counts[class_count];
    bool closed;
};
thread_local thread_cache cache{};

struct cache_closer {
    cache_closer() = default;
    cache_closer(const cache_closer&) = delete;
    cache_closer& operator=(const cache_closer&) = delete;
    ~cache_closer() {
        cache.closed = true;
        for (std::size_t c = 0; c < class_count; ++c) {
            if (cache.slots[c] != nullptr) pool_for(c).give_back(cache.slots[c]);
            cache.slots[c] = nullptr;
            cache.counts[c] = 0;
        }
    }
};
thread_local cache_closer closer;

// Keeps one batch and returns the rest.
void trim(std::size_t size_class) noexcept {
    const std::size_t keep = batch_for(size_class);
    free_slot* last_kept = cache.slots[size_class];
    for (std::size_t i = 1; i < keep; ++i) last_kept = last_kept->next;
    free_slot* surplus = last_kept->next;
    last_kept->next = nullptr;
    cache.counts[size_class] = keep;
    pool_for(size_class).give_back(surplus);
}

}  // namespace

// Memory the pools cannot provide comes from the global allocator, which
// release recognises as not the pools'.
void* allocate(std::size_t size) {
    const std::size_t size_class = class_of(size);
    if (size_class == class_count) return ::operator new(size);
    thread_cache& c = cache;
    free_slot* slot = nullptr;
    if (c.closed) return pool_for(size_class).take(slot, 1) == 1 ? slot : ::operator new(size);
    if (c.counts[size_class] == 0) {
        // Naming the closer registers its destructor for this thread.
        static_cast<void>(&closer);
        c.counts[size_class] = pool_for(size_class).take(c.slots[size_class], batch_for(size_class));
        if (c.counts[size_class] == 0) return ::operator new(size);
    }
    slot = c.slots[size_class];
    c.slots[size_class] = slot->next;
    --c.counts[size_class];
    return slot;
}

void release(void* p) noexcept {
    if (p == nullptr) return;
    if (!the_slab_map.contains(p)) {
        ::operator delete(p);
        return;
    }
    const std::size_t size_class = slab_of(p)->size_class;
    thread_cache& c = cache;
    auto* slot = static_cast<free_slot*>(p);
    if (c.closed) {
        slot->next = nullptr;
        pool_for(size_class).give_back(slot);
        return;
    }
    slot->next = c.slots[size_class];
    c.slots[size_class] = slot;
    if (++c.counts[size_class] > 2 * batch_for(size_class)) trim(size_class);
}

#endif

}  // namespace tree_pool
}  // namespace xml
