#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "files.h"
#include "mvt_xml/xml.h"

namespace {

using attrs = xml::attribute_map;

// A document over a temporary file holding `content`.
struct parsed {
    explicit parsed(const std::string& content) : doc((write(content), path.c_str())) { ok = doc.parse(); }
    const std::string& write(const std::string& content) {
        mvt_test::write_file(path, content);
        return path;
    }
    std::string dump() {
        std::ostringstream out;
        doc.dump(out);
        return out.str();
    }
    mvt_test::temp_dir dir;
    std::string path = dir / "doc.xml";
    xml::document doc;
    bool ok = false;
};

const char* const worked_example =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!-- settings -->\n"
    "<config id=\"main\" mode=\"fast\">\n"
    "   <item size=\"3\" id=\"a\" />\n"
    "   <text>raw <b>bold</b> text</text>\n"
    "   <name>  alpha </name>\n"
    "</config>\n";

const char* const worked_example_dump =
    "<?xml  encoding=\"UTF-8\"  version=\"1.0\"?>\n"
    "<config  id=\"main\"  mode=\"fast\">\n"
    "   <item  id=\"a\"  size=\"3\"/>\n"
    "   <text>raw <b>bold</b> text</text>\n"
    "   <name>alpha </name>\n"
    "</config>\n";

TEST(xml_document_parse, worked_example) {
    parsed p(worked_example);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.doc.declaration.attributes, (attrs{{"encoding", "UTF-8"}, {"version", "1.0"}}));
    xml::element* root = p.doc.root;
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->name, "config");
    EXPECT_EQ(root->attributes, (attrs{{"id", "main"}, {"mode", "fast"}}));
    ASSERT_EQ(root->child_elements.size(), 3u);
    xml::element *item = root->child_elements[0], *name = root->child_elements[2];
    EXPECT_EQ(item->attributes, (attrs{{"id", "a"}, {"size", "3"}}));
    EXPECT_EQ(root->child_elements[1]->text, "raw <b>bold</b> text");
    EXPECT_TRUE(root->child_elements[1]->child_elements.empty());
    EXPECT_EQ(name->text, "alpha ");
    EXPECT_EQ(p.doc.elem("a"), item);
    EXPECT_EQ(p.doc.elem("main"), nullptr);
    EXPECT_EQ(p.doc.elems("name"), std::vector<xml::element*>{name});
    EXPECT_EQ(p.doc.elems("id", "a"), std::vector<xml::element*>{item});
    EXPECT_EQ(p.doc.elems("item", "id", "a"), std::vector<xml::element*>{item});
    EXPECT_EQ(p.dump(), worked_example_dump);
    // The same queries through const references.
    const xml::document& doc = p.doc;
    const xml::element& const_root = *root;
    EXPECT_EQ(doc.elem("a"), item);
    EXPECT_EQ(doc.elems("name"), std::vector<const xml::element*>{name});
    EXPECT_EQ(doc.elems("size", "3"), std::vector<const xml::element*>{item});
    EXPECT_EQ(doc.elems("item", "id", "a"), std::vector<const xml::element*>{item});
    EXPECT_EQ(const_root.child("a"), item);
    EXPECT_EQ(const_root.first_child(), item);
    EXPECT_EQ(const_root.first_child("name", nullptr, nullptr), name);
    EXPECT_EQ(const_root.children(nullptr, "size", "3"), std::vector<const xml::element*>{item});
    std::ostringstream out;
    doc.dump(out);
    EXPECT_EQ(out.str(), worked_example_dump);
}

TEST(xml_document_parse, empty_or_missing_file_has_no_root) {
    parsed empty(""), rejected("<!DOCTYPE x><a/>");  // a rejected construct ends the input
    EXPECT_TRUE(empty.ok && rejected.ok);
    EXPECT_EQ(empty.doc.root, rejected.doc.root);
    EXPECT_EQ(empty.dump(), "<?xml  version=\"1.0\"?>\n");
    testing::internal::CaptureStdout();
    xml::document missing("/nonexistent/x.xml");
    EXPECT_TRUE(missing.parse());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR: Could not open /nonexistent/x.xml\n");
    EXPECT_EQ(missing.root, nullptr);
    EXPECT_EQ(missing.elem("x"), nullptr);
    EXPECT_TRUE(missing.elems("x").empty());
}

TEST(xml_document_parse, content_rules) {
    struct expectation {
        const char* input;
        const char* text;
        std::size_t children;
    };
    for (const expectation& e : std::vector<expectation>{{"<a>hi <b /></a>", "hi <b />", 0},
                                                         {"<data><x>1</x></data>", "<x>1</x>", 0},
                                                         {"<text>  keep </text>", "  keep ", 0},
                                                         {"<data></data>", "", 0},
                                                         {"<a>  </a>", "", 0},
                                                         {"<a><!-- c --><b /></a>", "", 1},
                                                         {"<a><b/><c></c></a>", "", 2}}) {
        parsed p(e.input);
        ASSERT_TRUE(p.ok) << e.input;
        EXPECT_EQ(p.doc.root->text, e.text) << e.input;
        EXPECT_EQ(p.doc.root->child_elements.size(), e.children) << e.input;
    }
}

TEST(xml_document_parse, attributes_and_declarations) {
    parsed p("<a x=\"1\" x=\"2\"/>\n<?xml encoding=\"latin1\"?><?xml version=\"2\"?>");
    EXPECT_TRUE(p.ok);
    EXPECT_EQ(p.doc.root->attributes, (attrs{{"x", "2"}}));
    EXPECT_EQ(p.doc.declaration.attributes, (attrs{{"encoding", "latin1"}, {"version", "2"}}));
}

TEST(xml_document_parse, long_text_is_cut_with_one_warning) {
    testing::internal::CaptureStdout();
    parsed p("<a>" + std::string(100005, 't') + "</a>");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "WARNING: buffer too small for data, truncating\n");
    EXPECT_TRUE(p.ok);
    EXPECT_EQ(p.doc.root->text.size(), 99998u);
}

TEST(xml_document_parse, set_root_owns_and_replaces) {
    parsed p("<a><b id=\"x\"/></a>");
    xml::element* a = p.doc.root;
    EXPECT_EQ(p.doc.set_root(a), a);
    EXPECT_NE(p.doc.elem("x"), nullptr);
    p.doc.set_root(new xml::element("n", nullptr));
    EXPECT_EQ(p.doc.elem("x"), nullptr);
    p.doc.set_root(nullptr);
    EXPECT_TRUE(p.doc.elems("id", "x").empty());
}

TEST(xml_document_failure, malformed_input_fails) {
    for (const char* input : {"<a/><b/>", "<a></b>", "<a><b /> tail</a>", "<a x=1 />", "<a x \"1\"/>", "<a x=\"1\" \"y\">",
                              "<a>", "<a", "<a><b>", "<a>text", "<a></a", "<a x=\"1", "<?xml-stylesheet x=\"1\"?>",
                              "<?xml v=\"1\">", "< >", ">", "=", "\"s\"", "name", "/>", "?>", "</a>", "<a><\"b\"/></a>",
                              "<a><!DOCTYPE x></a>"}) {
        parsed p(input);
        EXPECT_FALSE(p.ok) << input;
    }
}

TEST(xml_document_failure, partial_tree_stays) {
    parsed two("<a/><b/>");
    EXPECT_EQ(two.doc.root->name, "a");
    parsed p("<a><b x=\"1\"><c>");
    ASSERT_NE(p.doc.root, nullptr);
    xml::element* b = p.doc.root->first_child();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->attributes, (attrs{{"x", "1"}}));
    EXPECT_EQ(b->first_child()->name, "c");
}

std::string repeat(const std::string& piece, int times) {
    std::string s;
    for (int i = 0; i < times; ++i) s += piece;
    return s;
}

std::string nested(int depth) { return repeat("<a>", depth) + repeat("</a>", depth); }

TEST(xml_document_failure, nesting_is_limited) {
    EXPECT_TRUE(parsed(nested(xml::document::max_depth)).ok);
    parsed too_deep(nested(xml::document::max_depth + 1));
    EXPECT_FALSE(too_deep.ok);
    EXPECT_EQ(too_deep.doc.elems("a").size(), static_cast<std::size_t>(xml::document::max_depth - 1));
    parsed hostile(repeat("<a>", 1000000));
    EXPECT_FALSE(hostile.ok);
    EXPECT_FALSE(hostile.dump().empty());
}

}  // namespace
