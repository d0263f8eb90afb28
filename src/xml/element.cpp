#include "mvt_xml/xml_element.h"

#include <algorithm>
#include <new>
#include <string_view>
#include <utility>

#include "tree_pool.h"
#include "subtree_walk.h"

namespace xml {

namespace {

// Looking an attribute up never inserts it: a missing one reads as empty.
bool attribute_equals(const element& e, const char* attr, const char* value) {
    const auto found = e.attributes.find(attr);
    if (found == e.attributes.end()) return *value == 0;
    return found->second == value;
}

bool matches(const element& e, const char* name, const char* attr, const char* value) {
    if (name != nullptr && e.name != name) return false;
    if (attr == nullptr || value == nullptr) return true;
    return attribute_equals(e, attr, value);
}

// The queries walk a const tree; the non-const forms hand the same elements
// back as mutable, which they are to the caller who holds the tree mutably.
element* unconst(const element* e) { return const_cast<element*>(e); }

// The descendants that match, in preorder; as many as memory allows.
template <typename Node>
std::vector<Node*> matching_descendants(Node& top, const char* name, const char* attr, const char* value) {
    std::vector<Node*> result;
    try {
        for_each_descendant(top, [&](Node& e) {
            if (matches(e, name, attr, value)) result.push_back(&e);
            return true;
        });
    } catch (const std::bad_alloc&) {
    }
    return result;
}

}  // namespace

element::element(const char* element_name, const char* element_text) {
    // Exceptions stop at the library boundary: out of memory leaves the
    // element with what it could store.
    try {
        if (element_name != nullptr) name = element_name;
        if (element_text != nullptr) text = element_text;
        if (std::string_view(name) == "xml") attributes.insert_or_assign("version", "1.0");
    } catch (const std::bad_alloc&) {
    }
}

// Children are destroyed from a flat list of pending elements rather than by
// recursion, so even a tree built by hand to any depth is freed safely.
element::~element() {
    std::vector<element*> pending;
    pending.swap(child_elements);
    std::reverse(pending.begin(), pending.end());
    while (!pending.empty()) {
        element* e = pending.back();
        pending.pop_back();
        if (e == nullptr) continue;
        if (!e->child_elements.empty()) {
            pending.insert(pending.end(), e->child_elements.rbegin(), e->child_elements.rend());
            e->child_elements.clear();
        }
        delete e;
    }
}

void* element::operator new(std::size_t size) { return tree_pool::allocate(size); }

void* element::operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return tree_pool::allocate(size);
    } catch (...) {
        return nullptr;
    }
}

void element::operator delete(void* p, std::size_t) noexcept { tree_pool::release(p); }

void element::operator delete(void* p, const std::nothrow_t&) noexcept { tree_pool::release(p); }

// Null arguments are refused quietly rather than handed to std::string,
// which would throw out of the library.
void element::add_attribute(const char* attr, const char* value) {
    if (attr == nullptr || value == nullptr) return;
    try {
        attributes.insert_or_assign(attr, value);
    } catch (const std::bad_alloc&) {
    }
}

void element::set_text(const char* new_text) {
    try {
        text = new_text != nullptr ? new_text : "";
    } catch (const std::bad_alloc&) {
    }
}

const element* element::child(const char* id) const {
    const element* found = nullptr;
    if (id == nullptr) return found;
    try {
        for_each_descendant(*this, [&](const element& e) {
            if (!attribute_equals(e, "id", id)) return true;
            found = &e;
            return false;
        });
    } catch (const std::bad_alloc&) {
    }
    return found;
}

element* element::child(const char* id) { return unconst(std::as_const(*this).child(id)); }

std::vector<const element*> element::children(const char* child_name, const char* attr, const char* value) const {
    return matching_descendants(*this, child_name, attr, value);
}

std::vector<element*> element::children(const char* child_name, const char* attr, const char* value) {
    return matching_descendants(*this, child_name, attr, value);
}

const element* element::first_child() const { return child_elements.empty() ? nullptr : child_elements.front(); }

element* element::first_child() { return unconst(std::as_const(*this).first_child()); }

const element* element::first_child(const char* child_name, const char* attr, const char* value) const {
    const element* found = nullptr;
    try {
        for_each_descendant(*this, [&](const element& e) {
            if (!matches(e, child_name, attr, value)) return true;
            found = &e;
            return false;
        });
    } catch (const std::bad_alloc&) {
    }
    return found;
}

element* element::first_child(const char* child_name, const char* attr, const char* value) {
    return unconst(std::as_const(*this).first_child(child_name, attr, value));
}

}  // namespace xml
