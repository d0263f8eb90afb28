#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "mvt_xml/xml.h"

namespace {

using entries = std::vector<std::pair<std::string, std::string>>;

entries entries_of(const xml::attribute_map& m) { return entries(m.begin(), m.end()); }

TEST(xml_attribute_map, kept_in_ascending_byte_order_one_entry_per_name) {
    xml::attribute_map m;
    for (const char* name : {"b", "id", "\xe9t\xe9", "a", "B", "", "b"}) m.insert_or_assign(name, name);
    m["a"] = "last";
    EXPECT_EQ(entries_of(m), (entries{{"", ""}, {"B", "B"}, {"a", "last"}, {"b", "b"}, {"id", "id"},
                                      {"\xe9t\xe9", "\xe9t\xe9"}}));
}

TEST(xml_attribute_map, lookups_never_insert_but_subscript_does) {
    xml::attribute_map m{{"k", "v"}};
    EXPECT_EQ(m.find("x"), m.end());
    EXPECT_EQ(m.count("k"), 1u);
    EXPECT_EQ(m.at("k"), "v");
    EXPECT_THROW(m.at("x"), std::out_of_range);
    EXPECT_EQ(m.size(), 1u);
    EXPECT_EQ(m["x"], "");
    EXPECT_EQ(m.size(), 2u);
    EXPECT_EQ(m.erase("k"), 1u);
    EXPECT_EQ(m.erase("k"), 0u);
    EXPECT_EQ(entries_of(m), (entries{{"x", ""}}));
}

TEST(xml_attribute_map, grows_past_every_pooled_size_and_copies_whole) {
    xml::attribute_map m;
    entries expected;
    for (int i = 40; i > 0; --i) {
        const std::string name = "name" + std::to_string(100 + i);
        const std::string value(static_cast<std::size_t>(i), 'v');  // some beyond the inline string size
        m.insert_or_assign(name, value);
        expected.insert(expected.begin(), {name, value});
    }
    EXPECT_EQ(entries_of(m), expected);
    xml::attribute_map copy(m);
    EXPECT_EQ(copy, m);
    xml::attribute_map moved(std::move(copy));
    EXPECT_TRUE(copy.empty());
    EXPECT_EQ(moved, m);
    moved = xml::attribute_map{{"only", "1"}};
    m = moved;
    EXPECT_EQ(entries_of(m), (entries{{"only", "1"}}));
    m.clear();
    EXPECT_TRUE(m.empty());
    EXPECT_EQ(m.begin(), m.end());
}

}  // namespace
