#include "mvt_xml/xml_attributes.h"

#include <algorithm>
#include <memory>
#include <new>
#include <stdexcept>

#include "tree_pool.h"

namespace xml {

namespace {

constexpr std::size_t largest_capacity = UINT32_MAX;

}  // namespace

attribute_map::attribute_map(std::initializer_list<value_type> entries) {
    try {
        reserve(entries.size());
        for (const value_type& entry : entries) insert_or_assign(entry.first, entry.second);
    } catch (...) {
        clear();
        throw;
    }
}

attribute_map::attribute_map(const attribute_map& other) {
    try {
        reserve(other.size());
        for (const value_type& entry : other) {
            new (entries() + store_->size) value_type(entry);
            ++store_->size;
        }
    } catch (...) {
        clear();
        throw;
    }
}

attribute_map& attribute_map::operator=(const attribute_map& other) {
    if (this != &other) {
        attribute_map copy(other);
        *this = std::move(copy);
    }
    return *this;
}

attribute_map& attribute_map::operator=(attribute_map&& other) noexcept {
    if (this != &other) {
        clear();
        std::swap(store_, other.store_);
    }
    return *this;
}

void attribute_map::clear() noexcept {
    if (store_ == nullptr) return;
    std::destroy(begin(), end());
    tree_pool::release(store_);
    store_ = nullptr;
}

// std::string compares through char_traits<char>, that is by unsigned bytes,
// which is the order the map promises.
attribute_map::iterator attribute_map::lower_bound(std::string_view name) const noexcept {
    value_type* first = entries();
    value_type* last = store_ != nullptr ? first + store_->size : nullptr;
    return std::lower_bound(first, last, name,
                            [](const value_type& entry, std::string_view key) { return entry.first < key; });
}

attribute_map::iterator attribute_map::find(std::string_view name) noexcept {
    const iterator found = lower_bound(name);
    return found != end() && found->first == name ? found : end();
}

attribute_map::const_iterator attribute_map::find(std::string_view name) const noexcept {
    const iterator found = lower_bound(name);
    return found != end() && found->first == name ? found : end();
}

std::string& attribute_map::operator[](std::string_view name) {
    const iterator found = lower_bound(name);
    if (found != end() && found->first == name) return found->second;
    return insert_at(found, name, std::string_view())->second;
}

std::string& attribute_map::at(std::string_view name) {
    const iterator found = find(name);
    if (found == end()) throw std::out_of_range("xml::attribute_map::at");
    return found->second;
}

const std::string& attribute_map::at(std::string_view name) const {
    const const_iterator found = find(name);
    if (found == end()) throw std::out_of_range("xml::attribute_map::at");
    return found->second;
}

std::pair<attribute_map::iterator, bool> attribute_map::insert_or_assign(std::string_view name,
                                                                          std::string_view value) {
    const iterator found = lower_bound(name);
    if (found != end() && found->first == name) {
        found->second.assign(value.data(), value.size());
        return {found, false};
    }
    return {insert_at(found, name, value), true};
}

attribute_map::size_type attribute_map::erase(std::string_view name) noexcept {
    const iterator found = find(name);
    if (found == end()) return 0;
    std::move(found + 1, end(), found);
    std::destroy_at(end() - 1);
    --store_->size;
    return 1;
}

void attribute_map::reserve(size_type n) {
    if (n > (store_ != nullptr ? store_->capacity : 0)) grow_to(n);
}

// Entries move into the new array; moving a std::string never throws, so a
// failed allocation leaves the map as it was.
void attribute_map::grow_to(size_type capacity) {
    if (capacity > largest_capacity) throw std::length_error("xml::attribute_map");
    auto* fresh = static_cast<storage*>(tree_pool::allocate(sizeof(storage) + capacity * sizeof(value_type)));
    fresh->size = 0;
    fresh->capacity = static_cast<std::uint32_t>(capacity);
    if (store_ != nullptr) {
        std::uninitialized_move(begin(), end(),
                                reinterpret_cast<value_type*>(reinterpret_cast<char*>(fresh) + sizeof(storage)));
        fresh->size = store_->size;
        clear();
    }
    store_ = fresh;
}

attribute_map::iterator attribute_map::insert_at(iterator position, std::string_view name, std::string_view value) {
    // Built first: if copying the strings throws, the map is untouched.
    value_type entry{std::string(name), std::string(value)};
    const size_type index = store_ != nullptr ? static_cast<size_type>(position - entries()) : 0;
    if (size() == (store_ != nullptr ? store_->capacity : 0)) grow_to(size() == 0 ? 1 : 2 * size());
    value_type* first = entries();
    value_type* last = first + store_->size;
    if (first + index == last) {
        new (last) value_type(std::move(entry));
    } else {
        new (last) value_type(std::move(last[-1]));
        std::move_backward(first + index, last - 1, last);
        first[index] = std::move(entry);
    }
    ++store_->size;
    return first + index;
}

bool operator==(const attribute_map& a, const attribute_map& b) noexcept {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

}  // namespace xml
