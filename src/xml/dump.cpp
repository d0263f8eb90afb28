#include <algorithm>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>

#include "mvt_xml/xml_document.h"
#include "mvt_xml/xml_element.h"
#include "subtree_walk.h"

namespace xml {

namespace {

// Nesting level of the element being written; one for the whole process.
int g_nested_element_level = 0;

constexpr std::size_t spaces_per_level = 3;

std::size_t indentation_width() {
    return g_nested_element_level > 0 ? spaces_per_level * static_cast<std::size_t>(g_nested_element_level) : 0;
}

// Writes the current level's indentation in one call, from a run of spaces
// that grows with the deepest level seen, so a line costs only the spaces it
// writes however deep the tree.
class indenter {
public:
    void write(std::ostream& out) {
        const std::size_t width = indentation_width();
        if (width == 0) return;
        if (spaces_.size() < width) spaces_.resize(std::max(width, 2 * spaces_.size()), ' ');
        out.write(spaces_.data(), static_cast<std::streamsize>(width));
    }

private:
    std::string spaces_ = std::string(96, ' ');
};

void end_line(std::ostream& out) { out << '\n' << std::flush; }

void write_attribute(std::ostream& out, std::string_view name, std::string_view value) {
    out << "  " << name << "=\"" << value << '"';
}

// Writes the start tag up to its attributes; `id` always comes first.
void write_opening(std::ostream& out, indenter& indent, const element& e) {
    if (e.name == "xml") {
        out << "<?xml";
    } else {
        indent.write(out);
        out << '<' << e.name;
    }
    const auto id = e.attributes.find("id");
    if (id != e.attributes.end()) write_attribute(out, id->first, id->second);
    for (const auto& attribute : e.attributes) {
        if (attribute.first != "id") write_attribute(out, attribute.first, attribute.second);
    }
}

void write_closing(std::ostream& out, indenter& indent, const element& e) {
    indent.write(out);
    out << "</" << e.name << '>';
    end_line(out);
}

// Text wins over children: an element that has both is written with its
// text only.
walk_step write_element(std::ostream& out, indenter& indent, const element& e) {
    write_opening(out, indent, e);
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
    const std::size_t width = indentation_width();
    if (width == 0) return;
    try {
        const std::string spaces(width, ' ');
        out.write(spaces.data(), static_cast<std::streamsize>(width));
    } catch (...) {
    }
}

void element::dump(std::ostream& out) const {
    const int level = g_nested_element_level;
    try {
        indenter indent;
        walk_subtree(
            *this, [&](const element& e) { return write_element(out, indent, e); },
            [&](const element& e) {
                --g_nested_element_level;
                write_closing(out, indent, e);
            });
    } catch (...) {
        // A failing stream or allocation ends the dump; the level is restored
        // so that the next dump starts where it should.
        g_nested_element_level = level;
    }
}

void element::dump(std::ostream& out) { std::as_const(*this).dump(out); }

void document::dump(std::ostream& out) const {
    g_nested_element_level = 0;
    declaration.dump(out);
    if (root != nullptr) root->dump(out);
}

void document::dump(std::ostream& out) { std::as_const(*this).dump(out); }

}  // namespace xml
