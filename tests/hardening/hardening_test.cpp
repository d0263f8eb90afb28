// Robustness as a process sees it. Each scenario runs the client in a child
// process with its own trace directory and working directory; the test then
// reads what the child left: its exit status, its output and its trace files,
// which must be whole (or, after SIGKILL, whole up to the last line).

#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <regex>
#include <set>
#include <thread>

#include "child_process.h"
#include "files.h"
#include "record_plan.h"
#include "trace_reader.h"

namespace {

using mvt_test::child_result;
using mvt_test::lines;
using mvt_test::list_dir;
using mvt_test::temp_dir;

const size_t hardware = std::thread::hardware_concurrency();

#ifdef MVT_SANITIZED
// Sanitizers slow every write(2) and every lock tenfold and more.
constexpr unsigned long long stress_records = 1000;
constexpr int exit_race_runs = 20, forks_per_run = 8;
#else
constexpr unsigned long long stress_records = 10000;
constexpr int exit_race_runs = 50, forks_per_run = 20;
#endif

// Runs the client with MVA_DIR naming `trace_dir` (unset when empty), in
// `cwd` (`trace_dir` when empty). The timeout only ends a child that hangs.
child_result run_client(const std::string& trace_dir, const lines& args, const std::string& cwd = "", int timeout = 240) {
    lines argv = {MVT_TRACE_CLIENT, MVT_LIB_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    // ThreadSanitizer sleeps a second in every process that exits, forked
    // children included. Other builds ignore the setting.
    const char* tsan = std::getenv("TSAN_OPTIONS");
    mvt_test::child_options options{cwd.empty() ? trace_dir : cwd,
                                    {std::string("TSAN_OPTIONS=") + (tsan && *tsan ? tsan + std::string(":") : "") + "atexit_sleep_ms=0"},
                                    {"MVA_DIR"}, timeout};
    if (!trace_dir.empty()) options.set_env.push_back("MVA_DIR=" + trace_dir);
    return mvt_test::run_child(argv, options);
}

std::string describe(const child_result& r) {
    return "exit " + std::to_string(r.exit_code) + ", signal " + std::to_string(r.signal) +
           "\nstdout: " + r.out.substr(0, 2000) + "\nstderr: " + r.err.substr(0, 2000);
}

// Checks that a file holds records 0 to `records.size()`-1 of one thread's
// plan and returns that thread, read from record 2 (the first to name it), or
// no_owner when the file holds only creation records.
constexpr unsigned long long no_owner = ~0ULL;

unsigned long long expect_plan(const lines& records, const std::string& where) {
    const unsigned long long owner = records.size() > 2 ? std::stoull(records[2].substr(records[2].find('{') + 1)) : no_owner;
    for (size_t n = 0; n < records.size(); ++n)
        if (records[n] != plan::expected(owner, n)) {
            ADD_FAILURE() << where << ", record " << n << ": " << records[n] << "\ninstead of " << plan::expected(owner, n);
            break;
        }
    return owner;
}

// Every file of a planned run: a prefix of its owner's plan, of `per_file`
// records when given, and one file per owner. Returns the owners.
std::set<unsigned long long> expect_planned_run(const std::string& dir, size_t per_file = 0) {
    std::set<unsigned long long> owners;
    for (const lines& records : mvt_test::read_rendered(dir)) {
        EXPECT_TRUE(per_file == 0 || records.size() == per_file) << records.size() << " records";
        const unsigned long long owner = expect_plan(records, dir);
        EXPECT_TRUE(owner == no_owner || owners.insert(owner).second) << "two files of one thread";
    }
    return owners;
}

// Creating every name at once yields one domain and one handle per name
// (read_rendered() checks that), all distinct.
TEST(HardeningStress, SixtyFourThreadsWriteEveryRecordOnceAndCreateEachNameOnce) {
    temp_dir dir;
    const size_t threads = 64;
    child_result r = run_client(dir.path(), {"stress", std::to_string(threads), std::to_string(stress_records)});
    ASSERT_EQ(r.exit_code, 0) << describe(r);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(list_dir(dir.path()).size(), std::max(threads, hardware));
    EXPECT_EQ(expect_planned_run(dir.path(), stress_records).size(), threads);
}

TEST(HardeningExit, ThreadsRecordingAndStartingWhileMainReturnsNeverTearAFile) {
    // A few children at a time: each spends most of its life in the exit wait.
    std::atomic<int> next{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < 3; ++w)
        workers.emplace_back([&] {
            for (int run = next++; run < exit_race_runs; run = next++) {
                temp_dir dir;
                child_result r = run_client(dir.path(), {"exit_race", "4"});
                EXPECT_TRUE(r.exit_code == 0 && r.err.empty()) << describe(r);
                std::set<unsigned long long> owners = expect_planned_run(dir.path());
                for (unsigned long long t = 0; t < 4; ++t) EXPECT_EQ(owners.count(t), 1u) << "run " << run;
            }
        });
    for (std::thread& w : workers) w.join();
}

TEST(HardeningCrash, SigkillWhileRecordingLeavesWholeLinesAndCompleteEarlierRecords) {
    const unsigned long long threads = 4, at_least = 200;
    for (int run = 0; run < 3; ++run) {
        temp_dir dir, scratch;
        child_result r = run_client(dir.path(), {"crash", std::to_string(threads), std::to_string(at_least)});
        ASSERT_EQ(r.signal, SIGKILL) << describe(r);
        for (const std::string& name : list_dir(dir.path())) {
            SCOPED_TRACE(name);
            std::string content = mvt_test::read_file(dir / name);
            ASSERT_EQ(content.compare(0, 22, "<?xml version=\"1.0\"?>\n"), 0);
            // write(2) copies into a file page by page and looks for a pending
            // SIGKILL before each: a line can be cut at a page boundary, nowhere else.
            EXPECT_TRUE(content.back() == '\n' || content.size() % sysconf(_SC_PAGESIZE) == 0) << "a line was cut";
            // After the last whole record, at most the start of one more.
            const size_t last = content.rfind("</record>\n");
            const size_t whole = last == std::string::npos ? content.find('\n', 22) + 1 : last + 10;
            const std::string tail = content.substr(whole);
            EXPECT_TRUE(tail.empty() || (tail.rfind("<record>\n", 0) == 0 && tail.find("<record>", 1) == std::string::npos)) << tail;
            mvt_test::write_file(scratch / name, content.substr(0, whole) +
                                     "<record>\n<field>end_of_records</field>\n<field>0</field>\n</record>\n</trace>\n");
        }
        // The main thread had finished its records before the kill: every
        // one of them must be in its file, none held back in a buffer.
        std::set<unsigned long long> owners;
        for (const lines& records : mvt_test::read_rendered(scratch.path())) {
            if (records.empty()) continue;  // a writer no thread took
            const unsigned long long owner = expect_plan(records, "run " + std::to_string(run));
            EXPECT_TRUE(owner == threads ? records.size() == at_least : records.size() >= at_least) << records.size();
            owners.insert(owner);
        }
        EXPECT_EQ(owners.size(), threads + 1);
    }
}

class HardeningFork : public testing::TestWithParam<const char*> {};

// The parent forks again and again while two other threads record; the child
// calls the library and ends. However the child ends, the parent's files hold
// exactly the parent's records.
TEST_P(HardeningFork, ChildLeavesTheParentsTraceExactlyAsTheParentWroteIt) {
    const char* ending = GetParam();
    temp_dir dir;
    // A child that deadlocks on a lock held at fork() hangs the parent too.
    child_result r = run_client(dir.path(), {"fork", ending, std::to_string(forks_per_run)}, "", 60);
    ASSERT_EQ(r.exit_code, 0) << describe(r);
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_EQ(list_dir(dir.path()).size(), std::max<size_t>(3, hardware));  // children add no file

    lines forking = {"domain_createA @parent 6 parent", "domain_createA @openmp 6 openmp"};
    for (int i = 0; i <= forks_per_run; ++i) forking.push_back("id_create @parent " + mvt_test::id_text(1000, i));
    std::set<unsigned long long> owners;
    int forking_files = 0;
    for (const lines& records : mvt_test::read_rendered(dir.path())) {
        if (!records.empty() && records[0] == forking[0]) {
            ++forking_files;
            EXPECT_EQ(records, forking);
        } else if (!records.empty()) {
            owners.insert(expect_plan(records, ending));
        }
    }
    EXPECT_EQ(forking_files, 1);
    EXPECT_EQ(owners, (std::set<unsigned long long>{0, 1}));
}

INSTANTIATE_TEST_SUITE_P(AllEndings, HardeningFork, testing::Values("exit", "_exit", "exec"),
                         [](const auto& info) { return std::string("ChildThen") + info.param; });

// After the run has ended names keep their records: both calls of records()
// hand out the same two, "openmp" the one made before exit, and 20,000 more
// creation calls allocate nothing.
TEST(HardeningHostile, EveryFunctionAfterExitTimeDestructionWritesNothingAndReturnsUsableRecords) {
    temp_dir dir;
    child_result r = run_client(dir.path(), {"after_exit"});
    ASSERT_EQ(r.exit_code, 0) << describe(r);
    // Both a thread that recorded before and one whose very first call comes now.
    std::smatch m;
    EXPECT_TRUE(std::regex_match(r.out, m, std::regex("(([0-9]+) [0-9]+ usable same Morvane Collector 0\\.02\n)\\1"
                                                      "late: registered, 0 bytes\n")))
        << r.out;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(list_dir(dir.path()).size(), hardware);
    std::vector<lines> files = mvt_test::read_rendered(dir.path());
    for (size_t k = 0; k < files.size(); ++k)
        EXPECT_EQ(files[k], (k ? lines{} : lines{"domain_createA @openmp 6 openmp", "id_create 0 {1,0,0}"})) << k;
    // The address the trace gave "openmp" before exit is the one handed out after it.
    const std::string trace = mvt_test::read_file(dir / "_mvt.0");
    EXPECT_NE(m.size() > 2 ? trace.find("<field>" + m[2].str() + "</field>") : std::string::npos, std::string::npos);
}

// A tmpfs mounted on a test directory for the life of the object.
struct tmpfs_mount {
    tmpfs_mount(const std::string& where, unsigned long flags, const char* options)
        : where(where), mounted(mount("tmpfs", where.c_str(), "tmpfs", flags, options) == 0) {}
    ~tmpfs_mount() {
        if (mounted) umount2(where.c_str(), MNT_DETACH);
    }
    std::string where;
    bool mounted;
};

// Makes `path` unwritable for the child: a read-only tmpfs on it, or, where
// mounting is not allowed, its permission bits (which root would ignore).
bool make_read_only(const std::string& path, std::unique_ptr<tmpfs_mount>& mounted) {
    mounted = std::make_unique<tmpfs_mount>(path, MS_RDONLY, "size=64k");
    return mounted->mounted || (geteuid() != 0 && chmod(path.c_str(), 0555) == 0);
}

// A working directory where the dated directory cannot be made (MVA_DIR
// unset: the mkdir warning shows), a missing trace directory, one below a
// file (ENOTDIR even for root) and a read-only one. Every writer's lines
// then go to stderr behind a warning, and the records of both threads.
TEST(HardeningDirectory, UnusableTraceDirectorySendsEveryLineToStderr) {
    temp_dir dir;
    mkdir((dir / "cwd").c_str(), 0777);
    mkdir((dir / "read_only").c_str(), 0777);
    mvt_test::write_file(dir / "file", "");
    std::unique_ptr<tmpfs_mount> cwd_mount, dir_mount;
    std::vector<std::pair<std::string, std::string>> cases = {{dir / "missing", ""}, {dir / "file/trace", ""}};
    if (make_read_only(dir / "read_only", dir_mount)) cases.push_back({dir / "read_only", ""});
    if (make_read_only(dir / "cwd", cwd_mount)) cases.push_back({"", "WARNING when issuing: mkdir _mva_[0-9]{8}_[0-9]{6}\n"});
    for (const auto& [trace_dir, out] : cases) {
        SCOPED_TRACE(trace_dir);
        child_result r = run_client(trace_dir, {"ordered", "2"}, dir / "cwd");
        ASSERT_EQ(r.exit_code, 0) << describe(r);
        EXPECT_TRUE(std::regex_match(r.out, std::regex(out))) << r.out;
        auto count = [&r](const std::string& line) {
            size_t n = 0;
            for (size_t at = 0; (at = r.err.find("WARNING NO OPEN FILE: " + line, at)) != std::string::npos; ++at) ++n;
            return n;
        };
        const size_t writers = std::max<size_t>(hardware, 2);
        EXPECT_EQ(count("<?xml version=\"1.0\"?>\n" + mvt_test::expected_trace_header_line() + "\n"), writers);
        EXPECT_EQ(count("<field>end_of_records</field>\n"), writers);
        EXPECT_EQ(count("</trace>\n"), writers);
        EXPECT_EQ(count("<record>\n"), writers + 2);
        EXPECT_EQ(count("<field>id_create</field>\n"), 2u);
    }
    EXPECT_EQ(list_dir(dir.path()), (lines{"cwd", "file", "read_only"}));
    EXPECT_TRUE(list_dir(dir / "read_only").empty() && list_dir(dir / "cwd").empty());
}

// Write failures (a full disk, the file-size limit) are not reported and do
// not stop the process; every file keeps what was written before the failure.
TEST(HardeningDirectory, FullDiskAndFileSizeLimitAreSurvivedSilently) {
    temp_dir dir;
    mkdir((dir / "small").c_str(), 0777);
    tmpfs_mount disk(dir / "small", 0, "size=64k");
    const std::string limit = "8192", header = "<?xml version=\"1.0\"?>\n" + mvt_test::expected_trace_header_line() + "\n";
    for (const std::string& trace_dir : {dir / "limited", dir / "small"}) {
        if (trace_dir == dir / "small" && !disk.mounted) GTEST_SKIP() << "cannot mount a small tmpfs here";
        mkdir(trace_dir.c_str(), 0777);
        child_result r = run_client(trace_dir, {"stress", "3", "2000", disk.where == trace_dir ? "" : limit}, dir.path());
        ASSERT_EQ(r.exit_code, 0) << describe(r);
        EXPECT_EQ(r.out + r.err, "");
        size_t written = 0;
        for (const std::string& name : list_dir(trace_dir)) {
            const std::string content = mvt_test::read_file(trace_dir + "/" + name);
            written += content.size();
            if (trace_dir == disk.where) continue;  // files opened once the disk is full stay empty
            EXPECT_LE(content.size(), 8192u) << name;
            EXPECT_EQ(content.compare(0, header.size(), header), 0) << name;
        }
        EXPECT_EQ(list_dir(trace_dir).size(), std::max<size_t>(3, hardware));
        EXPECT_GT(written, trace_dir == disk.where ? 32u * 1024 : 8192u) << "the limit was never reached";
    }
}

}  // namespace
