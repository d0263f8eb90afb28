#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "mvt_xml/xml.h"

namespace {

xml::element* add(xml::element& parent, const char* name, const char* text = nullptr) {
    parent.child_elements.push_back(new xml::element(name, text));
    return parent.child_elements.back();
}

// a(b(c), d) with ids and a "k" attribute on c only.
struct small_tree {
    small_tree() {
        b = add(a, "b");
        c = add(*b, "c");
        d = add(a, "d");
        a.add_attribute("id", "a");
        b->add_attribute("id", "b");
        c->add_attribute("k", "v");
    }
    xml::element a{"a", nullptr};
    xml::element* b;
    xml::element* c;
    xml::element* d;
};

using list = std::vector<xml::element*>;

std::string dump_of(xml::element& e) {
    std::ostringstream out;
    e.dump(out);
    return out.str();
}

TEST(xml_element_queries, construction_and_attributes) {
    xml::element decl("xml", nullptr);
    EXPECT_EQ(decl.attributes, (xml::attribute_map{{"version", "1.0"}}));
    xml::element e("e", "t");
    EXPECT_EQ(e.text, "t");
    e.add_attribute("k", "1");
    e.add_attribute("k", "2");
    e.add_attribute(nullptr, "3");
    e.set_text(nullptr);
    EXPECT_EQ(e.attributes, (xml::attribute_map{{"k", "2"}}));
    EXPECT_EQ(e.text, "");
}

TEST(xml_element_queries, children_in_preorder_without_self) {
    small_tree t;
    EXPECT_EQ(t.a.children(nullptr, nullptr, nullptr), (list{t.b, t.c, t.d}));
    EXPECT_EQ(t.a.children("c", nullptr, nullptr), (list{t.c}));
    EXPECT_EQ(t.a.children(nullptr, "k", nullptr), (list{t.b, t.c, t.d}));
    EXPECT_EQ(t.a.children(nullptr, "k", "v"), (list{t.c}));
    EXPECT_EQ(t.a.children(nullptr, "k", ""), (list{t.b, t.d}));
    EXPECT_EQ(t.a.children("a", nullptr, nullptr), list{});
    EXPECT_EQ(t.a.first_child(), t.b);
    EXPECT_EQ(t.a.first_child("d", nullptr, nullptr), t.d);
    EXPECT_EQ(t.c->first_child(), nullptr);
}

TEST(xml_element_queries, child_by_id_never_adds_attributes) {
    small_tree t;
    EXPECT_EQ(t.a.child("b"), t.b);
    EXPECT_EQ(t.a.child("a"), nullptr);
    EXPECT_EQ(t.a.child("x"), nullptr);
    EXPECT_EQ(t.a.child(""), t.c);
    EXPECT_EQ(t.c->attributes.size(), 1u);
    EXPECT_TRUE(t.d->attributes.empty());
}

TEST(xml_element_queries, very_deep_hand_built_tree_is_walked_and_freed) {
    auto top = std::make_unique<xml::element>("a", nullptr);
    xml::element* leaf = top.get();
    for (int i = 0; i < 1000000; ++i) leaf = add(*leaf, "a");
    leaf->add_attribute("id", "deep");
    EXPECT_EQ(top->child("deep"), leaf);
    EXPECT_EQ(top->children(nullptr, nullptr, nullptr).size(), 1000000u);
    top.reset();
}

TEST(xml_element_queries, elements_freed_and_made_again_never_overlap) {
    // Enough elements to span several pool slabs, freed in a scattered order.
    std::vector<std::unique_ptr<xml::element>> live;
    for (int i = 0; i < 40000; ++i) live.emplace_back(new xml::element(std::to_string(i).c_str(), nullptr));
    for (std::size_t i = 0; i < live.size(); i += 2) live[i].reset(new xml::element("again", "some longer text here"));
    for (std::size_t i = 0; i < live.size(); ++i) {
        ASSERT_EQ(live[i]->name, i % 2 == 0 ? std::string("again") : std::to_string(i));
    }
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
