// The collector as a process sees it: which directory and files appear at
// load and which thread writes which file. Each case runs the client in a
// child process with its own environment and working directory.

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <thread>

#include "child_process.h"
#include "files.h"
#include "trace_reader.h"

namespace {

using mvt_test::list_dir;
using mvt_test::temp_dir;

const int hardware = static_cast<int>(std::thread::hardware_concurrency());

// Runs the client in `cwd` with MVA_DIR set to `trace_dir`, or unset when
// null, and returns what it printed.
std::string run_client(const std::vector<std::string>& args, const std::string& cwd, const char* trace_dir) {
    std::vector<std::string> argv = {MVT_TRACE_CLIENT, MVT_LIB_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    mvt_test::child_options options{cwd, {}, {"MVA_DIR"}, 120};
    if (trace_dir) options.set_env = {std::string("MVA_DIR=") + trace_dir};
    const mvt_test::child_result r = mvt_test::run_child(argv, options);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return r.out;
}

std::vector<std::string> trace_files(int count) {
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) names.push_back("_mvt." + std::to_string(i));
    std::sort(names.begin(), names.end());
    return names;
}

std::string dated_name(time_t when) {
    char name[32];
    strftime(name, sizeof name, "_mva_%Y%m%d_%H%M%S", localtime(&when));
    return name;
}

TEST(CollectorLoad, WithoutCallsEveryHardwareThreadHasAClosedFile) {
    temp_dir dir;
    // MVA_DIR names the directory, its trailing slash kept: no mkdir runs.
    EXPECT_EQ(run_client({"none"}, dir.path(), (dir.path() + "/").c_str()), "");
    ASSERT_EQ(list_dir(dir.path()), trace_files(hardware));
    for (const std::string& name : list_dir(dir.path())) {
        std::vector<std::string> lines = mvt_test::read_lines(dir / name);
        ASSERT_EQ(lines.size(), 7u) << name;
        EXPECT_EQ(lines[0], "<?xml version=\"1.0\"?>");
        EXPECT_EQ(lines[1], mvt_test::expected_trace_header_line());
        EXPECT_EQ(lines[2] + lines[3] + lines[5] + lines[6], "<record><field>end_of_records</field></record></trace>");
        EXPECT_TRUE(std::regex_match(lines[4], std::regex("<field>[0-9]{19}</field>"))) << lines[4];
    }
}

// MVA_DIR unset or empty: a directory in the working directory named after
// the local time of loading, or the first free variant of that name; when
// every variant is taken, mkdir's failure is told and the base name is used.
TEST(CollectorLoad, UnsetOrEmptyDirectoryGivesTheFirstFreeDatedName) {
    std::vector<std::string> every_suffix = {""};
    for (int i = 0; i < 1000; ++i) every_suffix.push_back("_" + std::to_string(1000 + i).substr(1));  // _000 to _999
    const struct {
        const char* setting;
        std::vector<std::string> taken;  // made beforehand for the next seconds
        std::string suffix, out;
    } cases[] = {{nullptr, {}, "", ""},
                 {"", {}, "", ""},
                 {nullptr, {""}, "_000", ""},
                 {nullptr, {"", "_000"}, "_001", ""},
                 {nullptr, every_suffix, "", "WARNING when issuing: mkdir _mva_[0-9]{8}_[0-9]{6}\n"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.suffix + " after " + std::to_string(c.taken.size()) + " taken");
        for (int attempt = 1;; ++attempt) {
            // Thousands of directories are made and removed fastest in memory.
            temp_dir cwd(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "");
            const time_t before = time(nullptr);
            std::set<std::string> taken;
            for (time_t t = before; t < before + 3; ++t)
                for (const std::string& suffix : c.taken) taken.insert(dated_name(t) + suffix);
            for (const std::string& name : taken) mkdir((cwd / name).c_str(), 0755);
            const std::string out = run_client({"none"}, cwd.path(), c.setting);
            const time_t after = time(nullptr);
            // On a loaded machine making 3,000 directories can take seconds; a
            // run that ends after the names taken proves nothing.
            if (!taken.empty() && after >= before + 3 && attempt < 5) continue;
            EXPECT_TRUE(std::regex_match(out, std::regex(c.out))) << out;
            // The one directory that holds files has the expected name for a
            // moment of the run, and no other directory was made.
            std::vector<std::string> made, used;
            for (const std::string& entry : list_dir(cwd.path()))
                if (!taken.count(entry)) made.push_back(entry);
            for (time_t t = before; t <= after; ++t)
                if (!list_dir(cwd / (dated_name(t) + c.suffix)).empty()) used.push_back(dated_name(t) + c.suffix);
            ASSERT_EQ(used.size(), 1u);
            EXPECT_TRUE(made.empty() || made == used) << made.size();
            EXPECT_EQ(list_dir(cwd / used[0]), trace_files(hardware));
            break;
        }
    }
}

TEST(CollectorThreads, FirstRecordingThreadsTakeFilesInOrderAndLaterOnesOpenNewFiles) {
    temp_dir dir;
    const int threads = hardware + 1;
    EXPECT_EQ(run_client({"ordered", std::to_string(threads)}, dir.path(), dir.path().c_str()), "");
    // Every thread ended long before exit; its file is still closed properly.
    std::vector<mvt_test::lines> files = mvt_test::read_rendered(dir.path());
    ASSERT_EQ(files.size(), static_cast<size_t>(threads));
    for (int k = 0; k < threads; ++k) EXPECT_EQ(files[k], mvt_test::lines{"id_create 0 " + mvt_test::id_text(k)});
}

}  // namespace
