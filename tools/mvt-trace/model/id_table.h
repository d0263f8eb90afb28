#ifndef MVT_TRACE_ID_TABLE_H
#define MVT_TRACE_ID_TABLE_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/large_allocator.h"
#include "model/chunked_vector.h"
#include "reading/trace_record.h"

namespace mvt_trace {

// Numbers for the identifiers of one process, 0, 1, 2, ... in order of first
// sight. What the model keeps of a declaration, a relation or a metadata
// record is then a few bytes, and what it learns per identifier sits in plain
// arrays indexed by number instead of in hash tables of its own.
//
// The numbers are found by open addressing with linear probing over 8-byte
// slots: a number, and 32 bits of the identifier's place in the table, which
// tell most identifiers apart without reading them and let the table grow
// without reading any. The place keeps the first word's three low bits:
// consecutive task numbers share a cache line, and a run that declares its
// tasks in order is looked up in order. The rest of the identifier is mixed,
// so aligned addresses spread as well as counters.
class id_table {
public:
    static constexpr std::uint32_t none = UINT32_MAX;

    // The identifier's number, given it now if it has none.
    std::uint32_t intern(const trace_id& id) {
        if ((ids_.size() + 1) * 8 > slots_.size() * 5) grow();
        const std::uint64_t place = place_of(id);
        for (std::size_t at = place & mask();; at = (at + 1) & mask()) {
            const std::uint64_t slot = slots_[at];
            if (slot == 0) {
                const auto number = static_cast<std::uint32_t>(ids_.size());
                ids_.push_back(id);
                slots_[at] = place << 32 | (number + std::uint64_t{1});
                return number;
            }
            if (slot >> 32 == place && ids_[number_in(slot)] == id) return number_in(slot);
        }
    }

    // The identifier's number, or none.
    std::uint32_t find(const trace_id& id) const {
        if (slots_.empty()) return none;
        const std::uint64_t place = place_of(id);
        for (std::size_t at = place & mask();; at = (at + 1) & mask()) {
            const std::uint64_t slot = slots_[at];
            if (slot == 0) return none;
            if (slot >> 32 == place && ids_[number_in(slot)] == id) return number_in(slot);
        }
    }

    const trace_id& id(std::uint32_t number) const { return ids_[number]; }
    std::uint32_t size() const { return static_cast<std::uint32_t>(ids_.size()); }

private:
    // 32 bits: the slot to start from is their low bits.
    static std::uint64_t place_of(const trace_id& id) {
        std::uint64_t h = (id.d1 >> 3) * 0x9E3779B97F4A7C15ull;
        h ^= (id.d2 + 0x632BE59BD9B4E019ull) * 0xC2B2AE3D27D4EB4Full;
        h ^= (id.d3 + 0x8CB92BA72F3D8DD7ull) * 0x165667B19E3779F9ull;
        h ^= h >> 31;
        h *= 0xD6E8FEB86659FD93ull;
        h ^= h >> 32;
        return (h << 3 | (id.d1 & 7)) & 0xFFFFFFFFull;
    }
    static std::uint32_t number_in(std::uint64_t slot) { return static_cast<std::uint32_t>(slot) - 1; }
    std::size_t mask() const { return slots_.size() - 1; }

    // The slots are moved in their order, each to its place in the larger
    // table: the writes go forward through the new table, and no identifier
    // is read again.
    void grow() {
        std::vector<std::uint64_t, large_allocator<std::uint64_t>> old(slots_.empty() ? 64 : slots_.size() * 2, 0);
        old.swap(slots_);
        for (const std::uint64_t slot : old) {
            if (slot == 0) continue;
            std::size_t at = (slot >> 32) & mask();
            while (slots_[at] != 0) at = (at + 1) & mask();
            slots_[at] = slot;
        }
    }

    chunked_vector<trace_id> ids_;
    std::vector<std::uint64_t, large_allocator<std::uint64_t>> slots_;
};

}  // namespace mvt_trace

#endif
