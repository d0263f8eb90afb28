#ifndef MVT_TRACE_OUTPUT_REPORT_LONGEST_KEPT_H
#define MVT_TRACE_OUTPUT_REPORT_LONGEST_KEPT_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "common/large_allocator.h"

namespace mvt_trace {

// The `capacity` longest of a stream of items, in memory that does not grow
// with the stream. Of items equally long, the earlier offered stay: which are
// kept never depends on anything but the stream.
template <typename Item>
class longest_kept {
public:
    // Room for up to a million items is set aside at once (in huge pages,
    // which fault in faster), so that the items are never moved.
    explicit longest_kept(std::size_t capacity) : capacity_(std::min<std::size_t>(capacity, UINT32_MAX)) {
        keys_.reserve(std::min<std::size_t>(capacity_, 1u << 20));
        items_.reserve(keys_.capacity());
    }

    // Keeps the item while it is among the longest; returns what is not kept
    // any more, the item itself or one it pushed out.
    std::optional<Item> offer(Item item, std::uint64_t length) {
        const key offered{length, sequence_++, 0};
        if (items_.size() < capacity_) {
            keys_.push_back({length, offered.sequence, static_cast<std::uint32_t>(items_.size())});
            items_.push_back(std::move(item));
            std::push_heap(keys_.begin(), keys_.end(), shortest_on_top);
            return std::nullopt;
        }
        if (capacity_ == 0 || !shortest_on_top(offered, keys_.front())) return item;
        // The item takes the place of the one it pushes out.
        std::pop_heap(keys_.begin(), keys_.end(), shortest_on_top);
        key& freed = keys_.back();
        std::optional<Item> out(std::move(items_[freed.slot]));
        items_[freed.slot] = std::move(item);
        freed.length = length;
        freed.sequence = offered.sequence;
        std::push_heap(keys_.begin(), keys_.end(), shortest_on_top);
        return out;
    }

    // visit(item) for each item kept, in no order.
    template <typename Visit>
    void for_each(Visit visit) const {
        for (const key& k : keys_) visit(items_[k.slot]);
    }

    // visit(item) for each item kept, longest first (then in the order
    // offered), and forgets them.
    template <typename Visit>
    void drain(Visit visit) {
        std::sort(keys_.begin(), keys_.end(), shortest_on_top);
        for (const key& k : keys_) visit(std::move(items_[k.slot]));
        keys_ = decltype(keys_)();
        items_ = decltype(items_)();
    }

private:
    // The heap holds keys alone, the items stay where they were put.
    struct key {
        std::uint64_t length;
        std::uint64_t sequence;
        std::uint32_t slot;  // in items_
    };
    // The heap's order: its top is the one to go first, the shortest and,
    // among the shortest, the latest offered.
    static bool shortest_on_top(const key& a, const key& b) {
        return a.length != b.length ? a.length > b.length : a.sequence < b.sequence;
    }

    std::size_t capacity_;
    std::uint64_t sequence_ = 0;
    std::vector<key, large_allocator<key>> keys_;
    std::vector<Item, large_allocator<Item>> items_;
};

}  // namespace mvt_trace

#endif
