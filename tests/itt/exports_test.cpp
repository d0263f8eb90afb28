// The shared library's dynamic symbol table holds the public interface and
// nothing else: a leaked internal symbol can be interposed by, or clash with,
// the host program.

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

namespace {

std::set<std::string> exported_symbols() {
    std::set<std::string> names;
    std::string command = std::string("nm -D --defined-only -C --format=posix ") + MVT_LIB_PATH;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return names;
    char line[4096];
    while (std::fgets(line, sizeof line, pipe)) {
        std::string text = line;
        // posix format: "name type value size"; C++ names contain blanks, so
        // cut at the type letter that follows the last blank-separated name.
        size_t end = text.rfind(' ', text.rfind(' ', text.rfind(' ') - 1) - 1);
        if (text.find(" T ") != std::string::npos) end = text.find(" T ");
        else if (text.find(" V ") != std::string::npos) end = text.find(" V ");
        else if (text.find(" W ") != std::string::npos) end = text.find(" W ");
        names.insert(text.substr(0, end));
    }
    pclose(pipe);
    return names;
}

TEST(Exports, ExactlyThePublicInterface) {
    const std::set<std::string> expected_outside_xml = {
        "__itt_api_fini", "__itt_api_version", "__itt_domain_create", "__itt_domain_createA",
        "__itt_id_create", "__itt_id_destroy", "__itt_metadata_add", "__itt_metadata_str_add",
        "__itt_metadata_str_addA", "__itt_region_begin", "__itt_region_end", "__itt_relation_add",
        "__itt_string_handle_create", "__itt_string_handle_createA", "__itt_task_begin", "__itt_task_end",
        "__itt_task_group", "ompt_start_tool", "writer::get_mtc()",
        "writer::write_begin_record(writer::trace_writer*, __itt_record_t)",
    };
    std::set<std::string> outside_xml;
    int xml_symbols = 0;
    for (const std::string& name : exported_symbols()) {
        bool xml = name.rfind("xml::", 0) == 0 || name.find(" for xml::") != std::string::npos;
        if (xml) ++xml_symbols;
        else outside_xml.insert(name);
    }
    EXPECT_EQ(outside_xml, expected_outside_xml);
    EXPECT_GT(xml_symbols, 0);
}

}  // namespace
