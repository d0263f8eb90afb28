#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "mvt_xml/xml.h"

namespace {

std::string dump_of(xml::element& e) {
    std::ostringstream out;
    e.dump(out);
    return out.str();
}

xml::element* add(xml::element& parent, const char* name, const char* text = nullptr) {
    parent.child_elements.push_back(new xml::element(name, text));
    return parent.child_elements.back();
}

TEST(xml_dump, declaration_and_empty_elements) {
    xml::element decl("xml", nullptr);
    EXPECT_EQ(dump_of(decl), "<?xml  version=\"1.0\"?>\n");
    xml::element e("item", nullptr);
    e.add_attribute("b", "2");
    e.add_attribute("id", "x");
    e.add_attribute("a", "<&\"");
    EXPECT_EQ(dump_of(e), "<item  id=\"x\"  a=\"<&\"\"  b=\"2\"/>\n");
}

TEST(xml_dump, nesting_is_indented_and_text_wins_over_children) {
    xml::element root("r", nullptr);
    xml::element* mid = add(root, "m");
    add(*add(*mid, "n"), "deep", "1");
    xml::element* both = add(root, "t", "words");
    add(*both, "hidden");
    EXPECT_EQ(dump_of(root),
              "<r>\n"
              "   <m>\n"
              "      <n>\n"
              "         <deep>1</deep>\n"
              "      </n>\n"
              "   </m>\n"
              "   <t>words</t>\n"
              "</r>\n");
}

TEST(xml_dump, subtree_dump_restores_the_level) {
    xml::element root("r", nullptr);
    add(*add(root, "m"), "n");
    const std::string first = dump_of(root);
    EXPECT_EQ(dump_of(root), first);
    std::ostringstream tab;
    xml::dump_tab(tab);
    EXPECT_EQ(tab.str(), "");
}

}  // namespace
