#include <ostream>

#include "mvt_xml/xml_document.h"
#include "mvt_xml/xml_element.h"
#include "subtree_walk.h"

namespace xml {

namespace {

// Nesting level of the element being written; one for the whole process.
int g_nested_element_level = 0;

void end_line(std::ostream& out) { out << '\n' << std::flush; }

void write_attribute(std::ostream& out, const std::string& name, const std::string& value) {
    out << "  " << name << "=\"" << value << '"';
}

// Writes the start tag up to its attributes; `id` always comes first.
void write_opening(std::ostream& out, const element& e) {
    if (e.name == "xml") {
        out << "<?xml";
    } else {
        dump_tab(out);
        out << '<' << e.name;
    }
    const auto id = e.attributes.find("id");
    if (id != e.attributes.end()) write_attribute(out, id->first, id->second);
    for (const auto& attribute : e.attributes) {
        if (attribute.first != "id") write_attribute(out, attribute.first, attribute.second);
    }
}

void write_closing(std::ostream& out, const element& e) {
    dump_tab(out);
    out << "</" << e.name << '>';
    end_line(out);
}

// Text wins over children: an element that has both is written with its
// text only.
walk_step write_element(std::ostream& out, const element& e) {
    write_opening(out, e);
    if (!e.text.empty()) {
        out << '>' << e.text << "</" << e.name << '>';
        end_line(out);
        return walk_step::skip;
    }
    if (!e.child_elements.empty()) {
        out << '>';
        end_line(out);
        ++g_nested_element_level;
        return walk_step::descend;
    }
    out << (e.name == "xml" ? "?>" : "/>");
    end_line(out);
    return walk_step::skip;
}

}  // namespace

void dump_tab(std::ostream& out) {
    for (int level = 0; level < g_nested_element_level; ++level) out << "   ";
}

void element::dump(std::ostream& out) {
    const int level = g_nested_element_level;
    try {
        walk_subtree(
            *this, [&](element& e) { return write_element(out, e); },
            [&](element& e) {
                --g_nested_element_level;
                write_closing(out, e);
            });
    } catch (...) {
        // A failing stream or allocation ends the dump; the level is restored
        // so that the next dump starts where it should.
        g_nested_element_level = level;
    }
}

void document::dump(std::ostream& out) {
    g_nested_element_level = 0;
    declaration.dump(out);
    if (root != nullptr) root->dump(out);
}

}  // namespace xml
