// The shared library's dynamic symbol table holds the public interface and
// nothing else: a leaked internal symbol can be interposed by, or clash with,
// the host program.

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

TEST(Exports, ExactlyThePublicInterface) {
    std::set<std::string> outside_xml;
    int xml_symbols = 0;
    FILE* pipe = popen((std::string("nm -D --defined-only -C ") + MVT_LIB_PATH).c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[4096];
    while (std::fgets(line, sizeof line, pipe)) {
        // "value type name", and C++ names hold blanks.
        std::string text = line;
        const size_t start = text.find(' ', text.find(' ') + 1) + 1;
        const std::string name = text.substr(start, text.find('\n') - start);
        if (name.rfind("xml::", 0) == 0 || name.find(" for xml::") != std::string::npos) ++xml_symbols;
        else outside_xml.insert(name);
    }
    pclose(pipe);
    EXPECT_EQ(outside_xml, (std::set<std::string>{
                               "__itt_api_fini", "__itt_api_init", "__itt_api_version", "__itt_domain_create",
                               "__itt_domain_createA", "__itt_id_create", "__itt_id_destroy", "__itt_metadata_add",
                               "__itt_metadata_str_add", "__itt_metadata_str_addA", "__itt_region_begin",
                               "__itt_region_end", "__itt_relation_add", "__itt_string_handle_create",
                               "__itt_string_handle_createA", "__itt_task_begin", "__itt_task_end",
                               "__itt_task_group", "ompt_start_tool", "writer::get_mtc()",
                               "writer::write_begin_record(writer::trace_writer*, __itt_record_t)"}));
    EXPECT_GT(xml_symbols, 0);
}
