// A parse of a large file makes millions of small elements, and on machines
// where every fresh 4 KB page costs a fault, touching their memory dominates
// the parse. Elements therefore live in 2 MB slabs that the kernel may back
// with one transparent huge page each, packed without per-allocation headers.
// A slab is unmapped once its last element is gone (one empty slab is kept to
// avoid mapping churn at a boundary). Under AddressSanitizer the pool steps
// aside, so that element misuse stays visible to it.
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
void release(void* p, std::size_t) noexcept { ::operator delete(p); }

#else

namespace {

constexpr std::size_t slab_bytes = std::size_t{2} << 20;

constexpr std::size_t round_up(std::size_t n, std::size_t to) { return (n + to - 1) / to * to; }

struct free_slot {
    free_slot* next;
};

struct slab {
    slab* prev;             // list of slabs with at least one free slot
    slab* next;
    free_slot* free_slots;  // slots given back, reused first
    std::size_t carved;     // slots ever handed out from the untouched tail
    std::size_t live;
};

constexpr std::size_t slot_bytes = round_up(sizeof(element), alignof(element));
constexpr std::size_t first_slot = round_up(sizeof(slab), alignof(std::max_align_t));
constexpr std::size_t slots_per_slab = (slab_bytes - first_slot) / slot_bytes;
static_assert(slot_bytes >= sizeof(free_slot), "a free slot must fit in an element slot");

class pool {
public:
    void* allocate() {
        const std::lock_guard<std::mutex> guard(lock_);
        if (with_room_ == nullptr) link(fresh_slab());
        slab* s = with_room_;
        void* p;
        if (s->free_slots != nullptr) {
            p = s->free_slots;
            s->free_slots = s->free_slots->next;
        } else {
            p = reinterpret_cast<char*>(s) + first_slot + s->carved++ * slot_bytes;
        }
        if (++s->live == slots_per_slab) unlink(s);
        return p;
    }

    void release(void* p) noexcept {
        const std::lock_guard<std::mutex> guard(lock_);
        slab* s = slab_of(p);
        if (s->live == slots_per_slab) link(s);
        s->free_slots = new (p) free_slot{s->free_slots};
        if (--s->live == 0) retire(s);
    }

private:
    static slab* slab_of(void* p) {
        return reinterpret_cast<slab*>(reinterpret_cast<std::uintptr_t>(p) & ~(slab_bytes - 1));
    }

    // Maps twice the slab size to find a slab-aligned start, which is what
    // lets release find the slab of any slot, then returns the excess.
    // Huge pages are asked for only while another slab is in use: a program
    // holding a handful of elements should not pay for a 2 MB page.
    slab* map_slab() {
        void* raw = mmap(nullptr, 2 * slab_bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (raw == MAP_FAILED) throw std::bad_alloc();
        const std::uintptr_t begin = reinterpret_cast<std::uintptr_t>(raw);
        const std::uintptr_t start = round_up(begin, slab_bytes);
        if (start > begin) munmap(raw, start - begin);
        const std::size_t tail = slab_bytes - (start - begin);
        if (tail > 0) munmap(reinterpret_cast<void*>(start + slab_bytes), tail);
        void* aligned = reinterpret_cast<void*>(start);
        if (mapped_slabs_ > 0) madvise(aligned, slab_bytes, MADV_HUGEPAGE);
        ++mapped_slabs_;
        return new (aligned) slab{};
    }

    slab* fresh_slab() {
        if (spare_ == nullptr) return map_slab();
        slab* s = spare_;
        spare_ = nullptr;
        return s;
    }

    void retire(slab* s) noexcept {
        unlink(s);
        if (spare_ == nullptr) {
            spare_ = new (s) slab{};
        } else {
            munmap(s, slab_bytes);
            --mapped_slabs_;
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
    std::size_t mapped_slabs_ = 0;
};

// Never destroyed: elements may outlive every other static object.
pool& the_pool() {
    static pool* const instance = new pool;
    return *instance;
}

}  // namespace

void* allocate(std::size_t size) {
    if (size != sizeof(element)) return ::operator new(size);
    return the_pool().allocate();
}

void release(void* p, std::size_t size) noexcept {
    if (p == nullptr) return;
    if (size != sizeof(element)) {
        ::operator delete(p);
        return;
    }
    the_pool().release(p);
}

#endif

}  // namespace element_pool
}  // namespace xml
