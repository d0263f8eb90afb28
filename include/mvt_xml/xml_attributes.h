#ifndef MVT_XML_XML_ATTRIBUTES_H
#define MVT_XML_XML_ATTRIBUTES_H

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

#include "mvt_xml/export.h"

namespace xml {

// The attributes of one element: an ordered map from name to value with one
// entry per name, iterated in ascending byte order of the name. It offers the
// std::map operations that attribute code uses (find, count, operator[], at,
// insert_or_assign, erase, iteration), and keeps its entries in one sorted
// array behind a single pointer: elements mostly have few attributes or
// none, and a tree holds millions of elements, so a node per attribute and a
// three-pointer header per element would cost more than the strings.
//
// Entries are pairs of std::string. Changing an entry's `first` through an
// iterator breaks the order; rename by erase and insert instead.
class MVT_API attribute_map {
public:
    using key_type = std::string;
    using mapped_type = std::string;
    using value_type = std::pair<std::string, std::string>;
    using size_type = std::size_t;
    using iterator = value_type*;
    using const_iterator = const value_type*;

    attribute_map() noexcept = default;
    attribute_map(std::initializer_list<value_type> entries);
    attribute_map(const attribute_map& other);
    attribute_map(attribute_map&& other) noexcept : store_(other.store_) { other.store_ = nullptr; }
    attribute_map& operator=(const attribute_map& other);
    attribute_map& operator=(attribute_map&& other) noexcept;
    ~attribute_map() { clear(); }

    iterator begin() noexcept { return entries(); }
    iterator end() noexcept { return store_ != nullptr ? entries() + store_->size : nullptr; }
    const_iterator begin() const noexcept { return entries(); }
    const_iterator end() const noexcept { return store_ != nullptr ? entries() + store_->size : nullptr; }
    const_iterator cbegin() const noexcept { return begin(); }
    const_iterator cend() const noexcept { return end(); }

    bool empty() const noexcept { return size() == 0; }
    size_type size() const noexcept { return store_ != nullptr ? store_->size : 0; }

    // end() when there is no attribute of that name.
    iterator find(std::string_view name) noexcept;
    const_iterator find(std::string_view name) const noexcept;
    size_type count(std::string_view name) const noexcept { return find(name) != end() ? 1 : 0; }
    // Inserts an empty value when the name is missing.
    std::string& operator[](std::string_view name);
    // Throws std::out_of_range when the name is missing.
    std::string& at(std::string_view name);
    const std::string& at(std::string_view name) const;

    // Inserts the entry or replaces the value of the one with that name; the
    // bool tells whether it was inserted.
    std::pair<iterator, bool> insert_or_assign(std::string_view name, std::string_view value);
    size_type erase(std::string_view name) noexcept;
    void clear() noexcept;
    // Room for `n` entries in all, so that inserting up to there allocates
    // nothing.
    void reserve(size_type n);

    friend bool operator==(const attribute_map& a, const attribute_map& b) noexcept;
    friend bool operator!=(const attribute_map& a, const attribute_map& b) noexcept { return !(a == b); }

private:
    // The array's header; the entries follow it in the same allocation.
    struct storage {
        std::uint32_t size;
        std::uint32_t capacity;
    };
    static_assert(sizeof(storage) % alignof(value_type) == 0, "entries must follow the header aligned");

    value_type* entries() const noexcept {
        return store_ != nullptr ? reinterpret_cast<value_type*>(reinterpret_cast<char*>(store_) + sizeof(storage))
                                 : nullptr;
    }
    MVT_LOCAL iterator lower_bound(std::string_view name) const noexcept;
    MVT_LOCAL iterator insert_at(iterator position, std::string_view name, std::string_view value);
    MVT_LOCAL void grow_to(size_type capacity);

    storage* store_ = nullptr;
};

}  // namespace xml

#endif
