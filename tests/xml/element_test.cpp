#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <sstream>
#include <streambuf>
#include <string>
#include <thread>
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
    xml::element e("e", "t");
    EXPECT_EQ(e.text, "t");
    e.add_attribute("k", "1");
    e.add_attribute("k", "2");
    e.add_attribute(nullptr, "3");
    e.set_text(nullptr);
    EXPECT_EQ(e.attributes, (xml::attribute_map{{"k", "2"}}));
    EXPECT_EQ(e.text, "");
}

TEST(xml_element_queries, children_in_preorder_without_self_and_by_id) {
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
    // By identifier, without adding attributes.
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

TEST(xml_element_memory, any_heap_element_joins_a_tree_and_is_freed) {
    xml::document doc(nullptr);
    auto* root = ::new xml::element("global_root", nullptr);
    root->child_elements.push_back(new xml::element("class_new", nullptr));
    root->child_elements.push_back(::new xml::element("global_new", "text"));
    root->child_elements.push_back(std::make_unique<xml::element>("make_unique", nullptr).release());
    root->child_elements.push_back(new (std::nothrow) xml::element("nothrow", nullptr));
    root->child_elements.back()->child_elements.push_back(::new xml::element("global_grandchild", nullptr));
    EXPECT_EQ(doc.set_root(root), root);
    EXPECT_EQ(doc.elems(nullptr, nullptr, nullptr).size(), 5u);
    doc.set_root(::new xml::element("replacement", nullptr));
    doc.root->child_elements.push_back(new xml::element("pooled", nullptr));
}

TEST(xml_element_memory, elements_cross_threads_both_ways) {
    std::vector<xml::element*> made_there;
    std::thread([&] {
        for (int i = 0; i < 1000; ++i) made_there.push_back(new xml::element("there", nullptr));
    }).join();
    xml::element holder("holder", nullptr);
    holder.child_elements = made_there;  // outlive the thread that made them
    std::vector<xml::element*> made_here;
    for (int i = 0; i < 1000; ++i) made_here.push_back(new xml::element("here", nullptr));
    std::thread([&] {
        for (xml::element* e : made_here) delete e;
    }).join();
    EXPECT_EQ(holder.children("there", nullptr, nullptr).size(), 1000u);
}

// Counts what is written and keeps nothing.
class counting_buffer : public std::streambuf {
public:
    std::size_t written = 0;

protected:
    int_type overflow(int_type c) override {
        if (!traits_type::eq_int_type(c, traits_type::eof())) ++written;
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char*, std::streamsize n) override {
        written += static_cast<std::size_t>(n);
        return n;
    }
};

TEST(xml_dump, very_deep_hand_built_tree_is_indented_in_full) {
    const std::size_t depth = 100000;
    xml::element top("a", nullptr);
    xml::element* leaf = &top;
    for (std::size_t i = 1; i < depth; ++i) leaf = add(*leaf, "a");
    // Level L holds "<a>" and "</a>" lines of 3L spaces each; the leaf's line
    // is "<a/>" at level depth - 1.
    std::size_t expected = 3 * (depth - 1) + 5;
    for (std::size_t level = 0; level + 1 < depth; ++level) expected += 6 * level + 9;
    counting_buffer sink;
    std::ostream out(&sink);
    top.dump(out);
    EXPECT_EQ(sink.written, expected);
    top.dump(out);
    EXPECT_EQ(sink.written, 2 * expected);
}

// Attributes with `id` first, then in order; text wins over children; each
// dump, and dump_tab after it, starts again at the level it started at.
TEST(xml_dump, nesting_is_indented_and_the_level_restored) {
    xml::element item("item", nullptr);
    item.add_attribute("b", "2");
    item.add_attribute("id", "x");
    item.add_attribute("a", "<&\"");
    EXPECT_EQ(dump_of(item), "<item  id=\"x\"  a=\"<&\"\"  b=\"2\"/>\n");
    xml::element root("r", nullptr);
    xml::element* mid = add(root, "m");
    add(*add(*mid, "n"), "deep", "1");
    xml::element* both = add(root, "t", "words");
    add(*both, "hidden");
    const std::string expected =
        "<r>\n"
        "   <m>\n"
        "      <n>\n"
        "         <deep>1</deep>\n"
        "      </n>\n"
        "   </m>\n"
        "   <t>words</t>\n"
        "</r>\n";
    EXPECT_EQ(dump_of(root), expected);
    EXPECT_EQ(dump_of(root), expected);
    std::ostringstream tab;
    xml::dump_tab(tab);
    EXPECT_EQ(tab.str(), "");
}

}  // namespace
