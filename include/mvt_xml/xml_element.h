#ifndef MVT_XML_XML_ELEMENT_H
#define MVT_XML_XML_ELEMENT_H

#include <cstddef>
#include <new>
#include <ostream>
#include <string>
#include <vector>

#include "mvt_xml/export.h"
#include "mvt_xml/xml_attributes.h"

namespace xml {

// One node of a parsed (or hand-built) tree. An element owns the children in
// child_elements, which must therefore each be allocated on the heap (with
// new, ::new or std::make_unique) and belong to one tree only. An element
// named "xml" stands for the XML declaration.
class MVT_API element {
public:
    // `name` must not be null; a null `text` means no text.
    element(const char* name, const char* text);
    ~element();
    element(const element&) = delete;
    element& operator=(const element&) = delete;

    // Elements are made one by one in large numbers; they come from a pool.
    // Deleting an element that the global allocator made is safe too: the
    // pool recognises its own memory and hands anything else back.
    static void* operator new(std::size_t size);
    static void* operator new(std::size_t size, const std::nothrow_t&) noexcept;
    static void* operator new(std::size_t size, void* where) noexcept { return ::operator new(size, where); }
    static void operator delete(void* p, std::size_t size) noexcept;
    static void operator delete(void* p, const std::nothrow_t&) noexcept;
    static void operator delete(void* p, void* where) noexcept { ::operator delete(p, where); }

    // Inserts the attribute, or replaces the value of one with that name.
    void add_attribute(const char* name, const char* value);
    void set_text(const char* text);

    // The first descendant (pre-order, this element excluded) whose `id`
    // attribute equals `id`; a missing `id` counts as empty.
    element* child(const char* id);
    const element* child(const char* id) const;
    // Every descendant in pre-order that matches; a null argument switches
    // its filter off, and a missing attribute counts as empty.
    std::vector<element*> children(const char* name, const char* attr, const char* value);
    std::vector<const element*> children(const char* name, const char* attr, const char* value) const;
    element* first_child();
    const element* first_child() const;
    element* first_child(const char* name, const char* attr, const char* value);
    const element* first_child(const char* name, const char* attr, const char* value) const;

    // Writes the element and its subtree as indented XML, one flushed line at
    // a time. Uses one process-wide nesting counter: dumps must not overlap.
    void dump(std::ostream& out);
    void dump(std::ostream& out) const;

    std::string name;
    std::string text;
    attribute_map attributes;
    std::vector<element*> child_elements;
};

// Writes three spaces per current dump nesting level.
MVT_API void dump_tab(std::ostream& out);

}  // namespace xml

#endif
