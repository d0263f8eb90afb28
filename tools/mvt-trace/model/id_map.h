#ifndef MVT_TRACE_ID_MAP_H
#define MVT_TRACE_ID_MAP_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/large_allocator.h"
#include "reading/trace_record.h"

namespace mvt_trace {

// A hash map from (process, identifier) to a 32-bit value, in one array with
// linear probing: a run declares its graph objects by the hundred thousand,
// and a node per entry (std::unordered_map) costs an allocation and a cache
// miss each. Entries are never removed; the value UINT32_MAX is reserved.
class id_map {
public:
    static constexpr std::uint32_t empty = UINT32_MAX;

    // The value of the key, or null.
    const std::uint32_t* find(std::size_t process, const trace_id& id) const {
        if (slots_.empty()) return nullptr;
        for (std::size_t at = home(process, id);; at = (at + 1) & mask()) {
            const slot& s = slots_[at];
            if (s.value == empty) return nullptr;
            if (s.process == process && s.id == id) return &s.value;
        }
    }

    // Adds the key with `value` unless present; the stored value, and
    // whether it was added.
    std::pair<std::uint32_t*, bool> emplace(std::size_t process, const trace_id& id, std::uint32_t value) {
        if ((size_ + 1) * 10 > slots_.size() * 7) grow();
        std::size_t at = home(process, id);
        for (;; at = (at + 1) & mask()) {
            slot& s = slots_[at];
            if (s.value == empty) break;
            if (s.process == process && s.id == id) return {&s.value, false};
        }
        slots_[at] = slot{id, static_cast<std::uint32_t>(process), value};
        ++size_;
        return {&slots_[at].value, true};
    }

    std::size_t size() const { return size_; }

private:
    struct slot {
        trace_id id;
        std::uint32_t process = 0;
        std::uint32_t value = empty;
    };

    std::size_t mask() const { return slots_.size() - 1; }

    std::size_t home(std::size_t process, const trace_id& id) const {
        // The words of identifiers are often small counters or aligned
        // addresses: a full mix spreads them over the table.
        std::uint64_t h = trace_id_hash{}(id) ^ (static_cast<std::uint64_t>(process) * 0xD6E8FEB86659FD93ull);
        h ^= h >> 32;
        h *= 0xD6E8FEB86659FD93ull;
        h ^= h >> 32;
        return static_cast<std::size_t>(h) & mask();
    }

    void grow() {
        std::vector<slot, large_allocator<slot>> old;
        old.swap(slots_);
        slots_.assign(old.empty() ? 64 : old.size() * 2, slot{});
        size_ = 0;
        for (const slot& s : old)
            if (s.value != empty) emplace(s.process, s.id, s.value);
    }

    std::vector<slot, large_allocator<slot>> slots_;
    std::size_t size_ = 0;
};

}  // namespace mvt_trace

#endif
