// Code addresses to source places: a real OpenMP program recorded by
// mvt-trace record, its code_address metadata read raw from the trace files,
// and each address resolved against the module map the record left.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "child_process.h"
#include "files.h"
#include "reading/run_layout.h"
#include "symbols/module_map.h"
#include "symbols/symbol_resolver.h"
#include "tool_run.h"
#include "trace_reader.h"

namespace {

// The values of every code_address metadata record of a directory. The
// handle may be created in one thread's file and used in another's.
std::vector<std::uint64_t> code_addresses(const std::string& directory) {
    std::vector<mvt_test::trace_file> traces;
    for (const std::string& name : mvt_test::list_dir(directory)) {
        if (name.rfind("_mvt.", 0) != 0) continue;
        traces.push_back(mvt_test::parse_trace(directory + "/" + name));
        EXPECT_TRUE(traces.back().whole()) << name << ": " << traces.back().error;
    }
    std::set<std::string> keys;
    for (const mvt_test::trace_file& trace : traces)
        for (const mvt_test::trace_record& r : trace.records)
            if (r.name() == "string_handle_createA" && r.fields.size() == 5 && r.fields[4].text == "code_address")
                keys.insert(r.fields[2].text);
    std::vector<std::uint64_t> addresses;
    for (const mvt_test::trace_file& trace : traces)
        for (const mvt_test::trace_record& r : trace.records)
            if (r.name() == "metadata" && r.fields.size() == 8 && keys.count(r.fields[4].text))
                addresses.push_back(std::stoull(r.fields[7].text));
    return addresses;
}

// The lines of the source that open a task or a parallel region.
std::set<unsigned> pragma_lines() {
    std::set<unsigned> lines;
    const std::vector<std::string> source = mvt_test::read_lines(OMP_CODE_PLACES_SOURCE);
    for (unsigned i = 0; i < source.size(); ++i)
        if (source[i].find("#pragma omp task ") != std::string::npos ||
            source[i].find("#pragma omp parallel") != std::string::npos)
            lines.insert(i + 1);
    return lines;
}

class symbols : public ::testing::Test {
protected:
    void SetUp() override { MVT_SKIP_UNDER_TSAN(); }

    // Records `program` and returns its one process.
    mvt_trace::traced_process record(const std::string& program) {
        const mvt_test::child_result r = run_tool({"record", "-o", "run", "--", program}, work.path());
        EXPECT_EQ(r.exit_code, 0) << r.err;
        mvt_trace::run_layout layout;
        std::string error;
        EXPECT_TRUE(mvt_trace::read_run_layout({work / "run"}, layout, error)) << error;
        return layout.processes.empty() ? mvt_trace::traced_process{} : layout.processes[0];
    }

    mvt_test::temp_dir work;
};

// Through a symbolizer that logs what it is asked, then answers as the real
// one: each address is looked up once, however often it is resolved.
TEST_F(symbols, addresses_land_on_their_pragmas_each_looked_up_once_or_stay_hex_with_a_hint) {
    const mvt_trace::traced_process process = record(OMP_CODE_PLACES_PROGRAM);
    ASSERT_FALSE(process.module_map.empty());
    const std::vector<std::uint64_t> addresses = code_addresses(process.directory);
    // Eight tasks in the loop, one after it, two in main, two regions.
    ASSERT_EQ(addresses.size(), 13u);
    const std::string log = work / "asked", script = work / "logging-symbolizer";
    mvt_test::write_file(script, "#!/bin/sh\ntee -a " + log + " | exec llvm-symbolizer \"$@\"\n");
    ASSERT_EQ(::chmod(script.c_str(), 0755), 0);

    mvt_trace::symbol_resolver resolver = mvt_trace::symbol_resolver::for_process(process, script);
    std::vector<std::uint64_t> twice = addresses;
    twice.insert(twice.end(), addresses.begin(), addresses.end());
    const std::vector<mvt_trace::source_place> places = resolver.resolve(twice), again = resolver.resolve(addresses);
    std::set<unsigned> lines;
    for (std::size_t i = 0; i < places.size(); ++i) {
        const mvt_trace::source_place& place = places[i];
        ASSERT_TRUE(place.resolved) << place.label();
        EXPECT_EQ(place.address, twice[i]);
        EXPECT_EQ(place.module, OMP_CODE_PLACES_PROGRAM);
        EXPECT_EQ(place.frame.file, OMP_CODE_PLACES_SOURCE);
        EXPECT_EQ(place.label(), again[i % addresses.size()].label());
        EXPECT_EQ(mvt_trace::place_json(place).contains("inlined_into"), place.inlined_into.has_value());
        lines.insert(place.frame.line);
    }
    EXPECT_EQ(lines, pragma_lines());
    EXPECT_EQ(resolver.hint(), "");
    EXPECT_EQ(mvt_test::read_lines(log).size(), std::set<std::uint64_t>(addresses.begin(), addresses.end()).size());

    // Without a symbolizer, or without a module map (a trace made by hand,
    // with MVA_DIR), addresses stay hex, with a hint.
    char hex[32];
    std::snprintf(hex, sizeof hex, "0x%llx", static_cast<unsigned long long>(addresses[0]));
    mvt_trace::symbol_resolver missing = mvt_trace::symbol_resolver::for_process(process, work / "no-symbolizer");
    EXPECT_FALSE(missing.resolve(addresses)[0].resolved);
    EXPECT_EQ(missing.resolve(addresses)[0].label(), hex);
    EXPECT_NE(missing.hint().find("could not be run"), std::string::npos) << missing.hint();
    mvt_trace::traced_process unmapped_process = process;
    unmapped_process.module_map.clear();
    mvt_trace::symbol_resolver unmapped = mvt_trace::symbol_resolver::for_process(unmapped_process);
    EXPECT_EQ(mvt_trace::place_json(unmapped.resolve(addresses)[0]),
              (nlohmann::json{{"address", hex}, {"label", hex}, {"resolved", false}}));
    EXPECT_NE(unmapped.hint().find("mvt-trace record"), std::string::npos) << unmapped.hint();
}

// The line of the source that holds `marker`.
unsigned line_of(const std::string& marker) {
    const std::vector<std::string> source = mvt_test::read_lines(OMP_CODE_PLACES_SOURCE);
    for (unsigned i = 0; i < source.size(); ++i)
        if (source[i].find(marker) != std::string::npos) return i + 1;
    ADD_FAILURE() << marker;
    return 0;
}

// What analyze makes of those places. The compiler moves a region's body and
// a task's body into functions of its own; a task created there still reads
// by the function the user wrote it in.
TEST_F(symbols, analyze_names_each_construct_by_its_place_and_counts_its_instances) {
    record(OMP_CODE_PLACES_PROGRAM);
    const nlohmann::json analysis = tool_json({"analyze", "--json", "run"}, work.path());
    const auto at = [](const std::string& function, unsigned line) {
        return function + " (omp_code_places.c:" + std::to_string(line) + ")";
    };
    std::map<std::string, int> constructs;
    for (const nlohmann::json& c : analysis["constructs"]) {
        constructs[c["label"]] = c["nodes"];
        EXPECT_EQ(c["location"]["file"], OMP_CODE_PLACES_SOURCE);
    }
    EXPECT_EQ(constructs, (std::map<std::string, int>{{at("sweep", line_of("depend(out : cells[i])")), 8},
                                                        {at("sweep", line_of("depend(out : cells[n - 1])")), 1},
                                                        {at("main", line_of("/* outer */")), 1},
                                                        {at("main", line_of("/* inner */")), 1}}));
    std::multiset<std::string> regions;
    for (const nlohmann::json& e : analysis["runtime"])
        if (e.value("kind", "") == "composite_node") regions.insert(e["label"]);
    EXPECT_EQ(regions, (std::multiset<std::string>{"parallel region at " + at("main", line_of("#pragma omp parallel num_threads(2)")),
                                                   "parallel region at " + at("main", line_of("reduction("))}));
}

TEST_F(symbols, without_debug_information_an_address_is_a_function_and_an_offset) {
    const mvt_trace::traced_process process = record(OMP_CODE_PLACES_BARE_PROGRAM);
    const std::vector<std::uint64_t> addresses = code_addresses(process.directory);
    ASSERT_FALSE(addresses.empty());
    mvt_trace::symbol_resolver resolver = mvt_trace::symbol_resolver::for_process(process);
    for (const mvt_trace::source_place& place : resolver.resolve(addresses)) {
        ASSERT_TRUE(place.resolved);
        EXPECT_EQ(place.frame.line, 0u);
        EXPECT_GT(place.function_offset, 0u);
        char offset[32];
        std::snprintf(offset, sizeof offset, "+0x%llx", static_cast<unsigned long long>(place.function_offset));
        EXPECT_EQ(place.label(), place.frame.function + offset);
    }
    EXPECT_NE(resolver.hint().find("without debug information"), std::string::npos) << resolver.hint();
}

// The module map alone, as the helper writes it: several snapshots of one
// process, a range reused after an unload, a file removed since.
TEST(module_map, reads_every_snapshot_and_keeps_the_first_owner_of_a_range) {
    mvt_test::temp_dir dir;
    mvt_test::write_file(dir / "map", "mvt-modules 1\n"
                                      "snapshot start 1\n"
                                      "1000-2000 r-xp 00001000 fe:00 11     /bin/first\n"
                                      "snapshot exit 2\n"
                                      "1000-2000 r-xp 00001000 fe:00 11     /bin/first\n"
                                      "1800-2800 r-xp 00000000 fe:00 12     /lib/later.so\n"
                                      "5000-6000 r-xp 00002000 fe:00 13     /lib/gone with blanks.so (deleted)\n"
                                      "7000-8000 r-xp 00000000 00:00 0      \n");
    mvt_trace::module_map map;
    std::string error;
    ASSERT_TRUE(mvt_trace::read_module_map(dir / "map", map, error)) << error;
    ASSERT_EQ(map.mappings().size(), 2u);
    ASSERT_NE(map.find(0x1fff), nullptr);
    EXPECT_EQ(map.find(0x1fff)->path, "/bin/first");
    EXPECT_EQ(map.find(0x1000)->file_offset, 0x1000u);
    EXPECT_EQ(map.find(0x2000), nullptr);
    EXPECT_EQ(map.find(0x5800)->path, "/lib/gone with blanks.so");
    EXPECT_EQ(map.find(0x7800), nullptr);

    mvt_test::write_file(dir / "future", "mvt-modules 2\n");
    EXPECT_FALSE(mvt_trace::read_module_map(dir / "future", map, error));
    EXPECT_NE(error.find("not a module map this mvt-trace knows"), std::string::npos) << error;
}

}  // namespace
