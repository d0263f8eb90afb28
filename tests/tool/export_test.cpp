// mvt-trace otf2 and sqlite, read back by the formats' own readers
// (otf2-print, the sqlite3 shell) and held against analyze --json: a real
// libomp run whose untied tasks run in pieces, a flow graph declared through
// the __itt_* API, and golden traces with two processes, open executions,
// regions and metadata. Then how both outputs appear: whole, or not at all.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "files.h"
#include "tool_run.h"
#include "trace_script.h"
#include "trace_text.h"

namespace {

using json = nlohmann::json;
using mvt_test::child_result;

const std::string data = MVT_TOOL_DATA;
const std::string otf2_print = MVT_OTF2_PRINT;
const std::string sqlite3_shell = MVT_SQLITE3;

// The README's three example queries, as a user would paste them.
const char* const slowest_constructs = R"(
SELECT c.label, count(e.duration_ns) AS executions, sum(e.duration_ns) AS total_ns
FROM executions e JOIN constructs c ON c.id = e.construct
WHERE e.role = 'task'
GROUP BY c.id ORDER BY total_ns DESC LIMIT 10;)";
const char* const busy_per_thread = R"(
SELECT t.id, t.file, sum(p.end_ns - p.begin_ns) AS busy_ns
FROM pieces p JOIN threads t ON t.id = p.thread
WHERE p.depth = 0
GROUP BY t.id ORDER BY busy_ns DESC;)";
const char* const critical_path_executions = R"(
SELECT cp.step, e.id AS execution, n.identifier, n.label, cp.instance, e.begin_ns, e.duration_ns
FROM critical_path cp JOIN executions e ON e.id = cp.execution JOIN nodes n ON n.id = e.node
ORDER BY cp.step;)";

json sql(const std::string& database, const std::string& query) {
    const child_result r = mvt_test::run_child({sqlite3_shell, "-json", "-bail", database, query}, {});
    EXPECT_EQ(r.exit_code, 0) << query << "\n" << r.err;
    return r.out.empty() ? json::array() : json::parse(r.out);
}

std::uint64_t sql_number(const std::string& database, const std::string& query) {
    const json rows = sql(database, query);
    return rows.empty() || rows[0].begin()->is_null() ? 0 : rows[0].begin()->get<std::uint64_t>();
}

// What otf2-print shows of an archive's events, checked as it is read: on
// each location, every LEAVE closes the region of the latest ENTER still
// open, and time never goes back.
struct otf2_events {
    std::size_t enters = 0;
    std::map<std::uint64_t, std::size_t> pieces_of;   // by the "execution" attribute
    std::map<std::uint64_t, std::uint64_t> time_of;   // the same, LEAVE minus ENTER added up
    std::map<std::uint64_t, std::uint64_t> node_of;
    std::set<std::pair<std::uint64_t, std::uint64_t>> waits;  // (before, after)
    std::map<std::uint64_t, std::uint64_t> step_of_path;      // step to execution
};

otf2_events read_otf2_events(const std::string& archive) {
    const child_result r = mvt_test::run_child({otf2_print, archive + "/traces.otf2"}, {});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    otf2_events events;
    struct open_entry {
        std::string region;
        std::uint64_t at, execution;
    };
    std::map<std::string, std::vector<open_entry>> open;
    std::map<std::string, std::uint64_t> clock;
    open_entry* last_enter = nullptr;
    const std::regex attribute(R"re(\("(\w+)" <\d+>; \w+; "?([0-9 ]*)"?[^)]*\))re");
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("ADDITIONAL ATTRIBUTES:") != std::string::npos && last_enter) {
            std::map<std::string, std::string> values;
            for (std::sregex_iterator m(line.begin(), line.end(), attribute), end; m != end; ++m)
                values[(*m)[1]] = (*m)[2];
            const std::uint64_t e = std::stoull(values.at("execution"));
            last_enter->execution = e;
            ++events.pieces_of[e];
            if (values.count("node")) events.node_of[e] = std::stoull(values["node"]);
            if (values.count("critical_path_step")) events.step_of_path[std::stoull(values["critical_path_step"])] = e;
            std::istringstream before(values["waits_for"]);
            for (std::uint64_t b = 0; before >> b;) events.waits.insert({b, e});
            continue;
        }
        const bool enter = line.rfind("ENTER ", 0) == 0;
        if (!enter && line.rfind("LEAVE ", 0) != 0) continue;
        std::istringstream fields(line);
        std::string kind, location;
        std::uint64_t at = 0;
        fields >> kind >> location >> at;
        const std::string region = line.substr(line.find("Region: "));
        EXPECT_GE(at, clock[location]) << "time goes back on location " << location << ": " << line;
        clock[location] = at;
        std::vector<open_entry>& stack = open[location];
        if (enter) {
            ++events.enters;
            stack.push_back({region, at, UINT64_MAX});
            last_enter = &stack.back();
            continue;
        }
        last_enter = nullptr;
        if (stack.empty() || stack.back().region != region) {
            ADD_FAILURE() << "LEAVE of what is not open on location " << location << ": " << line;
            continue;
        }
        events.time_of[stack.back().execution] += at - stack.back().at;
        stack.pop_back();
    }
    for (const auto& [location, stack] : open) EXPECT_TRUE(stack.empty()) << "left open on location " << location;
    return events;
}

// {executions, total_ns} of a row, by "process/identifier" or by label.
using totals = std::pair<std::uint64_t, std::uint64_t>;
using totals_by = std::map<std::string, totals>;

totals totals_of(const json& row) { return {row["executions"].get<std::uint64_t>(), row["total_ns"].get<std::uint64_t>()}; }

std::string node_key(const json& row, const char* identifier) {
    return std::to_string(row["process"].get<int>()) + "/" + row[identifier].get<std::string>();
}

// Node rows of analyze --json, the program's and the runtime's.
totals_by node_totals(const json& analysis) {
    totals_by by_node;
    for (const char* list : {"nodes", "runtime"})
        for (const json& row : analysis[list])
            if (row.contains("id")) by_node[node_key(row, "id")] = totals_of(row);
    return by_node;
}

std::uint64_t executions_counted(const json& analysis) {
    std::uint64_t count = 0;
    for (const char* list : {"nodes", "unattached", "runtime"})
        for (const json& row : analysis[list]) count += row["executions"].get<std::uint64_t>();
    return count;
}

// Exports the run both ways (from `cwd`, DIRs relative to it) and holds the
// archive and the database against analyze and against each other.
void expect_exports_agree_with_analyze(const std::vector<std::string>& dirs, const std::string& cwd,
                                       const std::string& out) {
    if (otf2_print.empty() || sqlite3_shell.empty()) GTEST_SKIP() << "otf2-print or sqlite3 is not installed";
    const json analysis = tool_json(joined({"analyze", "--json", "--edges"}, dirs), cwd);
    const std::string archive = out + "/archive", database = out + "/run.db";
    for (const auto& command : {std::vector<std::string>{"otf2", "-o", archive}, {"sqlite", "--execution-edges", "-o", database}}) {
        const child_result r = run_tool(joined(command, dirs), cwd);
        ASSERT_EQ(r.exit_code, 0) << r.err;
    }
    const json& graph = analysis["dependency_graph"];

    // The database counts what analyze counts.
    EXPECT_EQ(sql_number(database, "SELECT value FROM meta WHERE key = 'schema_version'"), 2u);
    EXPECT_EQ(sql_number(database, "SELECT count(*) FROM metadata m LEFT JOIN nodes n ON n.process = m.process AND "
                                   "n.identifier = m.identifier WHERE m.node IS NOT n.id"),
              0u);
    EXPECT_EQ(sql_number(database, "SELECT value FROM meta WHERE key = 'wall_ns'"), analysis["wall_ns"]);
    EXPECT_EQ(sql_number(database, "SELECT count(duration_ns) FROM executions"), executions_counted(analysis));
    EXPECT_EQ(sql_number(database, "SELECT count(*) FROM executions WHERE role = 'task' AND duration_ns IS NOT NULL"),
              graph["executions"]);
    EXPECT_EQ(sql_number(database, "SELECT sum(duration_ns) FROM executions WHERE role = 'task'"), graph["work_ns"]);
    EXPECT_EQ(sql_number(database, "SELECT count(*) FROM execution_edges"), graph["execution_edges"]);
    EXPECT_EQ(sql_number(database, "SELECT count(*) FROM edges"), graph["edges"]);
    const json edges = sql(database,
                           "SELECT a.identifier AS a, b.identifier AS b FROM edges JOIN nodes a ON a.id = from_node "
                           "JOIN nodes b ON b.id = to_node");
    std::multiset<std::pair<std::string, std::string>> sql_edges, json_edges;
    for (const json& e : edges) sql_edges.insert({e["a"].get<std::string>(), e["b"].get<std::string>()});
    for (const json& e : graph["edge_list"]) json_edges.insert({e[0].get<std::string>(), e[1].get<std::string>()});
    EXPECT_EQ(sql_edges, json_edges);
    const json without = sql(database,
                             "SELECT count(duration_ns) AS executions, coalesce(sum(duration_ns), 0) AS total_ns "
                             "FROM executions WHERE role = 'task_without_node'");
    EXPECT_EQ(without[0], analysis["tasks_without_dependences"]);
    totals_by per_node;
    const json nodes = sql(database,
                           "SELECT n.process, n.identifier, count(e.duration_ns) AS executions, sum(e.duration_ns) "
                           "AS total_ns FROM executions e JOIN nodes n ON n.id = e.node GROUP BY n.id "
                           "HAVING executions > 0");
    for (const json& row : nodes) per_node[node_key(row, "identifier")] = totals_of(row);
    EXPECT_EQ(per_node, node_totals(analysis));
    totals_by constructs_sql, constructs_json;
    for (const json& row : sql(database, slowest_constructs)) constructs_sql[row["label"].get<std::string>()] = totals_of(row);
    for (const json& row : analysis["constructs"])
        if (row["executions"] != 0) constructs_json[row["label"].get<std::string>()] = totals_of(row);
    EXPECT_EQ(constructs_sql, constructs_json);
    const json path = sql(database, critical_path_executions);
    json path_sql = json::array(), path_json = json::array();
    for (const json& step : path) path_sql.push_back({step["identifier"], step["begin_ns"], step["duration_ns"]});
    for (const json& step : graph["critical_path"]) path_json.push_back({step["id"], step["begin_ns"], step["duration_ns"]});
    ASSERT_EQ(path_sql, path_json);
    // Threads busy with executions at depth 0, added up, are the thread-time
    // of the concurrency profile, where nothing open at the end counts.
    if (sql_number(database, "SELECT count(*) FROM executions WHERE duration_ns IS NULL") == 0) {
        std::uint64_t busy = 0, thread_time = 0;
        for (const json& row : sql(database, busy_per_thread)) busy += row["busy_ns"].get<std::uint64_t>();
        for (const auto& [k, ns] : analysis["concurrency"]["time_at_ns"].items())
            thread_time += std::stoull(k) * ns.get<std::uint64_t>();
        EXPECT_EQ(busy, thread_time);
    }

    // The archive has an ENTER and a LEAVE for every piece, every execution
    // under its number with its time, its node and what it waited for.
    const otf2_events events = read_otf2_events(archive);
    const std::uint64_t executions = sql_number(database, "SELECT count(*) FROM executions");
    EXPECT_EQ(events.enters, sql_number(database, "SELECT count(*) FROM pieces"));
    ASSERT_EQ(events.pieces_of.size(), executions);
    EXPECT_EQ(events.pieces_of.rbegin()->first, executions - 1);
    totals_by per_node_otf2;
    std::map<std::uint64_t, std::string> node_names;
    for (const json& row : sql(database, "SELECT id, process, identifier FROM nodes"))
        node_names[row["id"].get<std::uint64_t>()] = node_key(row, "identifier");
    for (const json& row : sql(database, "SELECT id, pieces, node, duration_ns FROM executions")) {
        const std::uint64_t e = row["id"].get<std::uint64_t>();
        EXPECT_EQ(events.pieces_of.at(e), row["pieces"].get<std::size_t>()) << "execution " << e;
        EXPECT_EQ(events.node_of.count(e), row["node"].is_null() ? 0u : 1u) << "execution " << e;
        if (row["duration_ns"].is_null()) continue;  // open at the end: analyze counts it nowhere
        EXPECT_EQ(events.time_of.at(e), row["duration_ns"]) << "execution " << e;
        if (row["node"].is_null()) continue;
        auto& total = per_node_otf2[node_names.at(events.node_of.at(e))];
        ++total.first;
        total.second += events.time_of.at(e);
    }
    EXPECT_EQ(per_node_otf2, node_totals(analysis));
    std::set<std::pair<std::uint64_t, std::uint64_t>> waits_sql;
    for (const json& row : sql(database, "SELECT from_execution, to_execution FROM execution_edges"))
        waits_sql.insert({row["from_execution"].get<std::uint64_t>(), row["to_execution"].get<std::uint64_t>()});
    EXPECT_EQ(events.waits, waits_sql);
    ASSERT_EQ(events.step_of_path.size(), path.size());
    for (std::size_t k = 0; k < path.size(); ++k) EXPECT_EQ(events.step_of_path.at(k + 1), path[k]["execution"]);
}

std::string global_definitions(const std::string& archive) {
    const child_result r = mvt_test::run_child({otf2_print, "-G", archive + "/traces.otf2"}, {});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return r.out;
}

std::size_t lines_starting(const std::string& text, const std::string& start) {
    std::size_t count = 0;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) count += line.rfind(start, 0) == 0 ? 1 : 0;
    return count;
}

TEST(tool_export, openmp_tasks_on_libomp_with_untied_pieces_agree_with_analyze) {
    MVT_SKIP_UNDER_TSAN();
    mvt_test::temp_dir trace, out;
    const child_result run = run_openmp_traced(OMP_EXPORT_PROGRAM, trace.path());
    ASSERT_EQ(run.exit_code, 0) << run.out << run.err;
    ASSERT_NE(run.out.find("tasks=29"), std::string::npos) << run.out;
    SCOPED_TRACE("trace in " + trace.path());
    ASSERT_NO_FATAL_FAILURE(expect_exports_agree_with_analyze({trace.path()}, "", out.path()));
    if (otf2_print.empty() || sqlite3_shell.empty()) return;
    const std::string database = out / "run.db";
    // The untied parents were suspended at their taskwait: more pieces than
    // executions, which is what the checks above are worth having.
    EXPECT_GT(sql_number(database, "SELECT count(*) FROM pieces"), sql_number(database, "SELECT count(*) FROM executions"));
    EXPECT_EQ(sql_number(database, "SELECT count(*) FROM edges"), 5u);
    // A region per construct, named and placed as analyze places it.
    const std::string definitions = global_definitions(out / "archive");
    for (const json& row : sql(database, "SELECT label, file, line FROM constructs WHERE file IS NOT NULL")) {
        const std::string label = row["label"];
        EXPECT_NE(definitions.find("Name: \"" + label + "\""), std::string::npos) << label;
        EXPECT_NE(definitions.find("File: \"" + row["file"].get<std::string>() + "\""), std::string::npos) << label;
    }
    EXPECT_EQ(lines_starting(definitions, "LOCATION_GROUP"), 1u);
    EXPECT_EQ(lines_starting(definitions, "LOCATION "), sql_number(database, "SELECT count(*) FROM threads WHERE records > 0"));
}

TEST(tool_export, flow_graph_declared_through_the_api_agrees_with_analyze) {
    mvt_test::temp_dir trace, out;
    const child_result run = mvt_test::run_child({FLOW_PIPELINE_PROGRAM}, {"", {"MVA_DIR=" + trace.path()}, {}, 120});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    ASSERT_NO_FATAL_FAILURE(expect_exports_agree_with_analyze({trace.path()}, "", out.path()));
    if (otf2_print.empty() || sqlite3_shell.empty()) return;
    const json stages = sql(out / "run.db",
                            "SELECT n.name, n.kind, count(*) AS executions FROM executions e JOIN nodes n ON "
                            "n.id = e.node GROUP BY n.id ORDER BY n.name");
    EXPECT_EQ(stages, json::parse(R"([{"name": "read", "kind": "function_node", "executions": 50},
                                      {"name": "scale", "kind": "function_node", "executions": 50},
                                      {"name": "write", "kind": "function_node", "executions": 50}])"));
}

// Two processes with the same identifiers; executions still open at the end;
// regions; metadata on a task that is not its node.
TEST(tool_export, golden_traces_keep_processes_open_executions_regions_and_metadata) {
    for (const char* name : {"two_processes", "unpaired", "attachment"}) {
        SCOPED_TRACE(name);
        mvt_test::temp_dir dir, out;
        const std::vector<std::string> dirs =
            mvt_tool_test::write_trace_script_here(mvt_test::read_file(data + "/analyze/" + name + ".trace"), dir.path());
        ASSERT_NO_FATAL_FAILURE(expect_exports_agree_with_analyze(dirs, dir.path(), out.path()));
        if (otf2_print.empty() || sqlite3_shell.empty()) return;
        const std::string database = out / "run.db";
        const std::string definitions = global_definitions(out / "archive");
        EXPECT_EQ(lines_starting(definitions, "LOCATION_GROUP"), dirs.size());
        EXPECT_EQ(sql_number(database, "SELECT count(*) FROM processes"), dirs.size());
        if (std::string(name) == "unpaired") {
            EXPECT_EQ(sql_number(database, "SELECT count(*) FROM executions WHERE duration_ns IS NULL"), 3u);
            EXPECT_EQ(sql(database, "SELECT name, begin_ns, end_ns, open_at_end FROM regions ORDER BY id"),
                      json::parse(R"([{"name": "phase", "begin_ns": 6000000, "end_ns": 20000000, "open_at_end": 1},
                                      {"name": "phase", "begin_ns": 7000000, "end_ns": 8000000, "open_at_end": 0},
                                      {"name": "phase", "begin_ns": 10000000, "end_ns": 20000000, "open_at_end": 1}])"));
        }
        if (std::string(name) == "attachment") {
            EXPECT_EQ(sql(database, "SELECT identifier, node, key, number, text FROM metadata WHERE key = 'code_address'"),
                      json::parse(R"([{"identifier": "5.0.0", "node": null, "key": "code_address", "number": 3054,
                                       "text": null}])"));
            EXPECT_EQ(sql(database, "SELECT code_address FROM nodes WHERE identifier = '5.1.0'"),
                      json::parse(R"([{"code_address": "0xbee"}])"));
        }
    }
}

TEST(tool_export, a_run_that_recorded_nothing_is_still_an_archive_readers_open) {
    if (otf2_print.empty() || sqlite3_shell.empty()) GTEST_SKIP() << "otf2-print or sqlite3 is not installed";
    mvt_test::temp_dir run, out;
    mvt_test::write_file(run / "_mvt.0", trace_text::file("", 20));
    ASSERT_EQ(run_tool({"otf2", run.path(), "-o", out / "archive"}).exit_code, 0);
    ASSERT_EQ(run_tool({"sqlite", run.path(), "-o", out / "run.db"}).exit_code, 0);
    EXPECT_EQ(read_otf2_events(out / "archive").enters, 0u);
    EXPECT_EQ(lines_starting(global_definitions(out / "archive"), "LOCATION "), 1u);
    EXPECT_EQ(sql_number(out / "run.db", "SELECT count(*) FROM executions"), 0u);
    // The graph of executions is there only when asked for.
    EXPECT_EQ(sql_number(out / "run.db", "SELECT count(*) FROM sqlite_schema WHERE name = 'execution_edges'"), 0u);
}

child_result run_shell(const std::string& script, const std::string& cwd) {
    return mvt_test::run_child({"/bin/sh", "-c", script},
                               {cwd, {"LSAN_OPTIONS=print_suppressions=0:suppressions=" MVT_OTF2_LEAKS}, {"MVA_DIR"}, 60});
}

TEST(tool_export, archives_and_databases_appear_whole_or_not_at_all) {
    mvt_test::temp_dir out;
    const std::string run = data + "/openmp_run";
    // An archive is never written into or over anything; neither goes
    // inside an input, to a device, or to standard output.
    mvt_test::write_file(out / "file", "mine");
    ::mkdir((out / "empty").c_str(), 0755);
    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
        {{"otf2", run, "-o", out / "file"}, "it exists"}, {{"otf2", run, "-o", out / "empty"}, "it exists"},
        {{"otf2", run, "-o", out / "empty/"}, "it exists"}, {{"otf2", run, "-o", run + "/archive"}, ""},
        {{"otf2", run}, ""}, {{"otf2", run, "-o", "-"}, ""}, {{"sqlite", run, "-o", run + "/run.db"}, ""},
        {{"sqlite", run}, ""}, {{"sqlite", run, "-o", "/dev/null"}, ""}};
    for (const auto& [args, reason] : refused) {
        const child_result r = run_tool(args);
        EXPECT_EQ(r.exit_code, 2) << args.back();
        EXPECT_TRUE(one_error_line(r) && r.err.find(reason) != std::string::npos) << r.err;
    }
    EXPECT_EQ(mvt_test::read_file(out / "file"), "mine");
    EXPECT_TRUE(mvt_test::list_dir(out / "empty").empty());
    EXPECT_EQ(mvt_test::list_dir(run), (std::vector<std::string>{"_mvt.0", "_mvt.1", "_mvt.2"}));

    // A malformed input, or a write that fails half-way (a file size limit,
    // as a full disk would), leaves nothing behind, not even a temporary.
    for (const char* command : {"otf2", "sqlite"}) {
        SCOPED_TRACE(command);
        mvt_test::temp_dir target;
        const child_result malformed = run_tool({command, data + "/malformed", "-o", target / "result"});
        EXPECT_EQ(malformed.exit_code, 1) << malformed.err;
        const child_result limited = run_shell(std::string("ulimit -f 1; exec ") + MVT_TRACE_EXE + " " + command +
                                                   " openmp_run -o " + target / "result",
                                               data);
        EXPECT_EQ(limited.signal, 0);
        EXPECT_EQ(limited.exit_code, 2);
        EXPECT_TRUE(one_error_line(limited)) << limited.err;
        EXPECT_EQ(limited.err.rfind("mvt-trace: cannot write " + target / "result: ", 0), 0u) << limited.err;
        EXPECT_TRUE(mvt_test::list_dir(target.path()).empty());
        // Without the limit it is written, and a database takes the place
        // of a file that was there.
        if (std::string(command) == "sqlite") mvt_test::write_file(target / "result", "old");
        EXPECT_EQ(run_tool({command, data + "/openmp_run", "-o", target / "result"}).exit_code, 0);
        EXPECT_EQ(mvt_test::list_dir(target.path()), std::vector<std::string>{"result"});
    }
}

}  // namespace
