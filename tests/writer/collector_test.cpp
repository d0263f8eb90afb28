// The collector as a process sees it: which directory and files appear at
// load, which thread writes which file, and how every file ends at exit, even
// while threads are still recording. Each case runs the trace client in a
// child process with its own environment and working directory.

#include <sys/stat.h>
#include <time.h>

#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "child_process.h"
#include "files.h"
#include "trace_reader.h"

namespace {

using mvt_test::child_result;
using mvt_test::list_dir;
using mvt_test::parse_trace;
using mvt_test::temp_dir;

const int hardware = static_cast<int>(std::thread::hardware_concurrency());

child_result run_client(const std::vector<std::string>& args, mvt_test::child_options options) {
    std::vector<std::string> argv = {MVT_TRACE_CLIENT, MVT_LIB_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return mvt_test::run_child(argv, options);
}

child_result run_in(const temp_dir& dir, const std::vector<std::string>& args) {
    return run_client(args, {dir.path(), {"MVA_DIR=" + dir.path()}, {}, 120});
}

std::string trace_name(int index) { return "_mvt." + std::to_string(index); }

std::vector<std::string> trace_files(int count) {
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) names.push_back(trace_name(i));
    std::sort(names.begin(), names.end());
    return names;
}

std::string dated_name(time_t when) {
    tm local{};
    localtime_r(&when, &local);
    char name[32];
    strftime(name, sizeof name, "_mva_%Y%m%d_%H%M%S", &local);
    return name;
}

void expect_untouched_file(const std::string& path) {
    std::vector<std::string> lines = mvt_test::read_lines(path);
    ASSERT_EQ(lines.size(), 7u) << path;
    EXPECT_EQ(lines[0], "<?xml version=\"1.0\"?>");
    EXPECT_EQ(lines[1], mvt_test::expected_trace_header_line());
    EXPECT_EQ(lines[2], "<record>");
    EXPECT_EQ(lines[3], "<field>end_of_records</field>");
    EXPECT_TRUE(std::regex_match(lines[4], std::regex("<field>[0-9]{19}</field>"))) << lines[4];
    EXPECT_EQ(lines[5], "</record>");
    EXPECT_EQ(lines[6], "</trace>");
}

TEST(CollectorLoad, WithoutCallsEveryHardwareThreadHasAClosedFile) {
    temp_dir dir;
    child_result r = run_in(dir, {"none"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "");  // MVA_DIR names the directory: nothing is created, no mkdir runs
    EXPECT_EQ(list_dir(dir.path()), trace_files(hardware));
    for (int i = 0; i < hardware; ++i) expect_untouched_file(dir / trace_name(i));
}

TEST(CollectorLoad, UnsetOrEmptyDirectoryGivesADatedDirectoryInTheWorkingDirectory) {
    for (const char* setting : {"unset", "empty"}) {
        temp_dir cwd;
        mvt_test::child_options options{cwd.path(), {}, {"MVA_DIR"}, 120};
        if (std::string(setting) == "empty") options.set_env = {"MVA_DIR="};
        time_t before = time(nullptr);
        child_result r = run_client({"none"}, options);
        time_t after = time(nullptr);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        std::vector<std::string> entries = list_dir(cwd.path());
        ASSERT_EQ(entries.size(), 1u) << setting;
        bool in_window = false;
        for (time_t t = before; t <= after; ++t) in_window |= entries[0] == dated_name(t);
        EXPECT_TRUE(in_window) << entries[0];
        EXPECT_EQ(list_dir(cwd / entries[0]), trace_files(hardware));
    }
}

TEST(CollectorLoad, ExistingDatedDirectoryGetsTheFirstFreeSuffix) {
    temp_dir cwd;
    time_t now = time(nullptr);
    for (time_t t = now; t < now + 5; ++t) {
        mkdir((cwd / dated_name(t)).c_str(), 0755);
        mkdir((cwd / (dated_name(t) + "_000")).c_str(), 0755);
    }
    child_result r = run_client({"none"}, {cwd.path(), {}, {"MVA_DIR"}, 120});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    int with_files = 0;
    for (const std::string& entry : list_dir(cwd.path())) {
        if (list_dir(cwd / entry).empty()) continue;
        ++with_files;
        EXPECT_TRUE(std::regex_match(entry, std::regex("_mva_[0-9]{8}_[0-9]{6}_001"))) << entry;
    }
    EXPECT_EQ(with_files, 1);
}

TEST(CollectorLoad, WhenEveryNameIsTakenTheWarningShowsAndTheBaseDirectoryIsUsed) {
    temp_dir cwd;
    time_t now = time(nullptr);
    for (time_t t = now; t < now + 3; ++t) {
        mkdir((cwd / dated_name(t)).c_str(), 0755);
        for (int i = 0; i < 1000; ++i) {
            char suffix[8];
            std::snprintf(suffix, sizeof suffix, "_%03d", i);
            mkdir((cwd / (dated_name(t) + suffix)).c_str(), 0755);
        }
    }
    child_result r = run_client({"none"}, {cwd.path(), {}, {"MVA_DIR"}, 120});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::smatch m;
    ASSERT_TRUE(std::regex_match(r.out, m, std::regex("WARNING when issuing: mkdir (_mva_[0-9]{8}_[0-9]{6})\n")))
        << r.out;
    EXPECT_EQ(list_dir(cwd / m[1].str()), trace_files(hardware));
}

TEST(CollectorLoad, TrailingSlashInTheDirectoryIsKept) {
    temp_dir dir;
    child_result r = run_client({"none"}, {dir.path(), {"MVA_DIR=" + dir.path() + "/"}, {}, 120});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(list_dir(dir.path()), trace_files(hardware));
}

TEST(CollectorLoad, MissingDirectoryReportsEveryWriterOnStandardError) {
    temp_dir dir;
    child_result r = run_client({"ordered", "1"}, {dir.path(), {"MVA_DIR=" + dir / "missing"}, {}, 120});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "");
    std::string header = "WARNING NO OPEN FILE: <?xml version=\"1.0\"?>\n" + mvt_test::expected_trace_header_line() + "\n";
    std::string closing = "WARNING NO OPEN FILE: </trace>\n";
    size_t headers = 0, closings = 0;
    for (size_t at = r.err.find(header); at != std::string::npos; at = r.err.find(header, at + 1)) ++headers;
    for (size_t at = r.err.find(closing); at != std::string::npos; at = r.err.find(closing, at + 1)) ++closings;
    EXPECT_EQ(headers, static_cast<size_t>(hardware));
    EXPECT_EQ(closings, static_cast<size_t>(hardware));
    EXPECT_NE(r.err.find("WARNING NO OPEN FILE: <field>id_create</field>\n"), std::string::npos);
    EXPECT_FALSE(mvt_test::is_directory(dir / "missing"));
}

TEST(CollectorThreads, FirstRecordingThreadsTakeFilesInOrderAndLaterOnesOpenNewFiles) {
    temp_dir dir;
    int threads = hardware + 1;
    child_result r = run_in(dir, {"ordered", std::to_string(threads)});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(list_dir(dir.path()), trace_files(threads));
    for (int k = 0; k < threads; ++k) {
        // Every thread ended long before exit; its file is still closed properly.
        mvt_test::trace_file file = parse_trace(dir / trace_name(k));
        ASSERT_TRUE(file.whole()) << k << ": " << file.error;
        ASSERT_EQ(file.records.size(), 2u);
        EXPECT_EQ(file.records[0].name(), "id_create");
        EXPECT_EQ(file.records[0].fields[3].id[0], static_cast<unsigned long long>(k));
    }
}

TEST(CollectorExit, ThreadsRecordingWhileMainReturnsLeaveWholeFiles) {
    for (int run = 0; run < 5; ++run) {
        temp_dir dir;
        child_result r = run_in(dir, {"exit_race", "4"});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        ASSERT_EQ(r.signal, 0);
        for (const std::string& name : list_dir(dir.path())) {
            mvt_test::trace_file file = parse_trace(dir / name);
            ASSERT_TRUE(file.whole()) << name << ": " << file.error;
            for (const mvt_test::trace_record& record : file.records)
                ASSERT_TRUE(mvt_test::has_expected_layout(record)) << name << ": " << record.name();
        }
    }
}

TEST(CollectorExit, CallsAfterShutdownWriteNothingAndStillGetUsableDomains) {
    temp_dir dir;
    child_result r = run_in(dir, {"after_exit"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "after-exit domain usable\n");
    EXPECT_EQ(r.err, "");
    mvt_test::trace_file first = parse_trace(dir / trace_name(0));
    ASSERT_TRUE(first.whole()) << first.error;
    ASSERT_EQ(first.records.size(), 2u);
    EXPECT_EQ(first.records[0].name(), "task_end");
}

}  // namespace
