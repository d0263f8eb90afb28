#ifndef MVT_XML_XML_ELEMENT_H
#define MVT_XML_XML_ELEMENT_H

#include <cstddef>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "mvt_xml/export.h"

namespace xml {

// One node of a parsed (or hand-built) tree. An element owns the children in
// child_elements, which must therefore each be allocated with new and belong
// to one tree only. An element named "xml" stands for the XML declaration.
class MVT_API element {
public:
    // `name` must not be null; a null `text` means no text.
    element(const char* name, const char* text);
    ~element();
    element(const element&) = delete;
    element& operator=(const element&) = delete;

    // Elements are made one by one in large numbers; they come from a pool.
    static void* operator new(std::size_t size);
    static void operator delete(void* p, std::size_t size) noexcept;

    // Inserts the attribute, or replaces the value of one with that name.
    void add_attribute(const char* name, const char* value);
    void set_text(const char* text);

    // The first descendant (pre-order, this element excluded) whose `id`
    // attribute equals `id`; a missing `id` counts as empty.
    element* child(const char* id);
    // Every descendant in pre-order that matches; a null argument switches
    // its filter off, and a missing attribute counts as empty.
    std::vector<element*> children(const char* name, const char* attr, const char* value);
    element* first_child();
    element* first_child(const char* name, const char* attr, const char* value);

    // Writes the element and its subtree as indented XML, one flushed line at
    // a time. Uses one process-wide nesting counter: dumps must not overlap.
    void dump(std::ostream& out);

    std::string name;
    std::string text;
    std::map<std::string, std::string> attributes;
    std::vector<element*> child_elements;
};

// Writes three spaces per current dump nesting level.
MVT_API void dump_tab(std::ostream& out);

}  // namespace xml

#endif
