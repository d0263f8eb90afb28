// Robustness as a process sees it. Each scenario runs the hardening client in
// a child process with its own trace directory and working directory; the test
// then reads what the child left: its exit status, its output and its trace
// files, which must be whole (or, after SIGKILL, whole up to the last line).

#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <mvt_xml/itt.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
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
using mvt_test::list_dir;
using mvt_test::parse_trace;
using mvt_test::temp_dir;
using mvt_test::trace_file;
using mvt_test::trace_record;

const int hardware = static_cast<int>(std::thread::hardware_concurrency());

#ifdef MVT_SANITIZED
// Sanitizers slow every write(2) and every lock tenfold and more; the stress
// keeps its 64 threads but makes a tenth of the records, and the exit race
// and the fork test run fewer times.
constexpr unsigned long long stress_records = 1000;
constexpr int exit_race_runs = 20;
constexpr int forks_per_run = 8;
#else
constexpr unsigned long long stress_records = 10000;
constexpr int exit_race_runs = 50;
constexpr int forks_per_run = 20;
#endif

// ThreadSanitizer sleeps a second in every process that exits, forked
// children included; the scenarios end dozens of processes. Other builds
// ignore the setting.
std::string no_exit_sleep() {
    const char* options = std::getenv("TSAN_OPTIONS");
    return std::string("TSAN_OPTIONS=") + (options && *options ? std::string(options) + ":" : "") +
           "atexit_sleep_ms=0";
}

// The timeout only ends a child that hangs; no run comes near it.
child_result run_client(const std::string& trace_dir, const std::string& cwd, const std::vector<std::string>& args,
                        int timeout_seconds = 240) {
    std::vector<std::string> argv = {HARDENING_CLIENT, MVT_LIB_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return mvt_test::run_child(argv, {cwd, {"MVA_DIR=" + trace_dir, no_exit_sleep()}, {}, timeout_seconds});
}

child_result run_client(const temp_dir& dir, const std::vector<std::string>& args, int timeout_seconds = 240) {
    return run_client(dir.path(), dir.path(), args, timeout_seconds);
}

// Enough of the child's output to see what went wrong (a sanitizer report
// starts with its summary).
std::string describe(const child_result& r) {
    return "exit " + std::to_string(r.exit_code) + ", signal " + std::to_string(r.signal) +
           "\nstdout: " + r.out.substr(0, 2000) + "\nstderr: " + r.err.substr(0, 2000);
}

std::string id_text(const unsigned long long (&id)[3]) {
    return "{" + std::to_string(id[0]) + ", " + std::to_string(id[1]) + ", " + std::to_string(id[2]) + "}";
}

// Checks the records of one file against the plan of the thread that owns
// it. The owner is read from the first identifier in the file; the addresses
// of the names are collected across files, so that a name that got two
// records shows up.
class plan_check {
public:
    static constexpr unsigned long long no_owner = ~0ULL;

    // The first problem found, or "" when the first `count` records are
    // records 0 to count-1 of one thread's plan.
    std::string check(const std::vector<trace_record>& records, size_t count, unsigned long long& owner) {
        owner = find_owner(records, count);
        domain_.clear();
        handle_.clear();
        for (size_t n = 0; n < count; ++n) {
            std::string problem = check_record(records[n], owner, n);
            if (!problem.empty()) return "record " + std::to_string(n) + " (" + records[n].name() + "): " + problem;
        }
        return "";
    }

    const std::map<std::string, std::string>& domains() const { return domains_; }
    const std::map<std::string, std::string>& handles() const { return handles_; }

private:
    static unsigned long long find_owner(const std::vector<trace_record>& records, size_t count) {
        for (size_t n = 0; n < count; ++n)
            for (const auto& field : records[n].fields)
                if (field.is_id) return field.id[0];
        return no_owner;  // only creation records, which do not depend on the owner
    }

    static std::string expect_id(const mvt_test::trace_field& field, unsigned long long t, unsigned long long n) {
        if (field.is_id && field.id[0] == t && field.id[1] == n && field.id[2] == 0) return "";
        return "identifier " + id_text(field.id) + " instead of {" + std::to_string(t) + ", " + std::to_string(n) +
               ", 0}";
    }

    static std::string expect_text(const mvt_test::trace_field& field, const std::string& text) {
        return field.text == text ? "" : "'" + field.text + "' instead of '" + text + "'";
    }

    // One name, one address: across the whole run, and always the one this
    // thread was handed last.
    static std::string registered(std::map<std::string, std::string>& by_name, const std::string& name,
                                  const std::string& address, std::string& last) {
        auto [entry, added] = by_name.emplace(name, address);
        last = address;
        if (!added && entry->second != address) return "'" + name + "' has two addresses";
        return "";
    }

    std::string check_record(const trace_record& r, unsigned long long t, unsigned long long n) {
        const plan::kind k = plan::kind_of(n);
        if (r.name() != plan::record_name(k)) return "expected " + std::string(plan::record_name(k));
        if (!mvt_test::has_expected_layout(r)) return "fields out of place";
        const auto& f = r.fields;
        std::string problem;
        auto first = [&problem](std::string p) {
            if (problem.empty()) problem = std::move(p);
        };
        switch (k) {
            case plan::handle_create:
            case plan::domain_create: {
                const std::string name = plan::shared_name(n).str();
                first(expect_text(f[3], std::to_string(name.size())));
                first(expect_text(f[4], name));
                first(k == plan::handle_create ? registered(handles_, name, f[2].text, handle_)
                                               : registered(domains_, name, f[2].text, domain_));
                break;
            }
            case plan::id_create:
                first(expect_text(f[2], domain_));
                first(expect_id(f[3], t, n));
                break;
            case plan::task_begin:
                first(expect_text(f[2], domain_));
                first(expect_id(f[3], t, n));
                first(expect_id(f[4], t, n - 1));
                first(expect_text(f[5], handle_));
                first(expect_text(f[6], "0"));
                break;
            case plan::metadata:
                first(expect_text(f[2], domain_));
                first(expect_id(f[3], t, n));
                first(expect_text(f[4], handle_));
                first(expect_text(f[5], plan::use_a_variant(n) ? "1" : "3"));
                first(expect_text(f[6], "1"));
                first(expect_text(f[7], std::to_string(plan::metadata_value(t, n))));
                break;
            case plan::metadata_string: {
                const std::string text = plan::metadata_text(t, n).str();
                first(expect_text(f[2], domain_));
                first(expect_id(f[3], t, n));
                first(expect_text(f[4], handle_));
                first(expect_text(f[5], std::to_string(text.size())));
                first(expect_text(f[6], text));
                break;
            }
            case plan::relation:
                first(expect_text(f[2], domain_));
                first(expect_id(f[3], t, n));
                first(expect_text(f[4], std::to_string(__itt_relation_is_predecessor_to)));
                first(expect_id(f[5], t, n + 1));
                break;
            case plan::task_end:
                first(expect_text(f[2], domain_));
                break;
        }
        return problem;
    }

    std::map<std::string, std::string> domains_, handles_;
    std::string domain_, handle_;  // addresses of the owner's last domain and handle
};

// Files of a run whose threads all followed the plan: each whole, each holding
// a prefix of its owner's plan (records 0 to `per_file`-1 when given). Returns
// the first problem, or "".
std::string check_planned_run(const std::string& dir, plan_check& plans, std::set<unsigned long long>& owners,
                              size_t per_file = 0) {
    for (const std::string& name : list_dir(dir)) {
        trace_file file = parse_trace(dir + "/" + name);
        if (!file.whole()) return name + ": " + (file.error.empty() ? "not closed" : file.error);
        const size_t count = file.records.size() - 1;
        if (count == 0) continue;  // a writer no thread took
        if (per_file != 0 && count != per_file)
            return name + ": " + std::to_string(count) + " records instead of " + std::to_string(per_file);
        unsigned long long owner = 0;
        std::string problem = plans.check(file.records, count, owner);
        if (!problem.empty()) return name + ": " + problem;
        if (owner != plan_check::no_owner && !owners.insert(owner).second)
            return name + ": a second file of thread " + std::to_string(owner);
    }
    return "";
}

TEST(HardeningStress, SixtyFourThreadsWriteEveryRecordOnceAndCreateEachNameOnce) {
    temp_dir dir;
    const int threads = 64;
    child_result r = run_client(dir, {"stress", std::to_string(threads), std::to_string(stress_records)});
    ASSERT_EQ(r.exit_code, 0) << describe(r);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(list_dir(dir.path()).size(), static_cast<size_t>(std::max(threads, hardware)));

    plan_check plans;
    std::set<unsigned long long> owners;
    EXPECT_EQ(check_planned_run(dir.path(), plans, owners, stress_records), "");
    EXPECT_EQ(owners.size(), static_cast<size_t>(threads));
    // Every shared name was raced for; each got one domain and one handle,
    // and a domain and a handle of the same name are different records.
    ASSERT_EQ(plans.domains().size(), static_cast<size_t>(plan::shared_names));
    ASSERT_EQ(plans.handles().size(), static_cast<size_t>(plan::shared_names));
    for (const auto& [name, address] : plans.domains()) EXPECT_NE(plans.handles().at(name), address) << name;
}

TEST(HardeningExit, ThreadsRecordingAndStartingWhileMainReturnsNeverTearAFile) {
    // A few children at a time: each spends most of its life in the exit wait.
    std::vector<std::string> problems(exit_race_runs);
    std::atomic<int> next{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < 3; ++w) {
        workers.emplace_back([&] {
            for (int run = next++; run < exit_race_runs; run = next++) {
                temp_dir dir;
                child_result r = run_client(dir, {"exit_race", "4"});
                std::string& problem = problems[static_cast<size_t>(run)];
                if (r.exit_code != 0 || !r.err.empty()) {
                    problem = describe(r);
                    continue;
                }
                plan_check plans;
                std::set<unsigned long long> owners;
                problem = check_planned_run(dir.path(), plans, owners);
                // The first four were recording before main returned.
                for (unsigned long long t = 0; t < 4 && problem.empty(); ++t)
                    if (!owners.count(t)) problem = "no file of thread " + std::to_string(t);
            }
        });
    }
    for (std::thread& w : workers) w.join();
    for (int run = 0; run < exit_race_runs; ++run)
        EXPECT_EQ(problems[static_cast<size_t>(run)], "") << "run " << run;
}

bool is_trace_line(const std::string& line) {
    static const std::regex field("<field>[^<>]*</field>");
    return line == "<record>" || line == "</record>" || line == "<compound_field>" ||
           line == "</compound_field>" || std::regex_match(line, field);
}

// True when `cut` is the beginning of a line that is_trace_line() accepts.
bool is_start_of_trace_line(const std::string& cut) {
    for (const char* line : {"<record>", "</record>", "<compound_field>", "</compound_field>", "<field>"})
        if (std::string(line).compare(0, cut.size(), cut) == 0) return true;
    if (cut.compare(0, 7, "<field>") != 0) return false;
    const size_t closing = cut.find('<', 7);
    return closing == std::string::npos ||
           std::string("</field>").compare(0, cut.size() - closing, cut, closing, std::string::npos) == 0;
}

TEST(HardeningCrash, SigkillWhileRecordingLeavesWholeLinesAndCompleteEarlierRecords) {
    const int threads = 4;
    const unsigned long long at_least = 200;
    for (int run = 0; run < 3; ++run) {
        temp_dir dir, scratch;
        child_result r = run_client(dir, {"crash", std::to_string(threads), std::to_string(at_least)});
        ASSERT_EQ(r.signal, SIGKILL) << describe(r);
        plan_check plans;
        std::set<unsigned long long> owners;
        for (const std::string& name : list_dir(dir.path())) {
            SCOPED_TRACE("run " + std::to_string(run) + ", " + name);
            const std::string content = mvt_test::read_file(dir / name);
            ASSERT_FALSE(content.empty());
            std::vector<std::string> lines = mvt_test::read_lines(dir / name);
            if (content.back() != '\n') {
                // write(2) copies into a file page by page, and Linux looks for
                // a pending SIGKILL before each page: a line that straddles a
                // page boundary can be cut there, and nowhere else.
                EXPECT_EQ(content.size() % static_cast<size_t>(sysconf(_SC_PAGESIZE)), 0u) << "a line was cut";
                EXPECT_TRUE(is_start_of_trace_line(lines.back())) << lines.back();
                lines.pop_back();
            }
            ASSERT_GE(lines.size(), 2u);
            EXPECT_EQ(lines[0], "<?xml version=\"1.0\"?>");
            EXPECT_EQ(lines[1], mvt_test::expected_trace_header_line());
            for (size_t i = 2; i < lines.size(); ++i) ASSERT_TRUE(is_trace_line(lines[i])) << i << ": " << lines[i];

            // Whatever follows the last complete record is the start of one record.
            size_t complete = lines.size();
            while (complete > 2 && lines[complete - 1] != "</record>") --complete;
            std::vector<std::string> tail(lines.begin() + static_cast<long>(complete), lines.end());
            if (!tail.empty()) {
                EXPECT_EQ(tail[0], "<record>");
                EXPECT_EQ(std::count(tail.begin(), tail.end(), "<record>"), 1);
            }
            std::string prefix;
            for (size_t i = 0; i < complete; ++i) prefix += lines[i] + "\n";
            mvt_test::write_file(scratch / name, prefix);
            trace_file file = parse_trace(scratch / name);
            ASSERT_EQ(file.error, "");
            if (file.records.empty()) continue;  // a writer no thread took
            EXPECT_GE(file.records.size(), at_least);
            unsigned long long owner = 0;
            EXPECT_EQ(plans.check(file.records, file.records.size(), owner), "");
            owners.insert(owner);
        }
        EXPECT_EQ(owners.size(), static_cast<size_t>(threads));
    }
}

struct fork_case {
    bool child_calls;
    const char* ending;
};

class HardeningFork : public testing::TestWithParam<fork_case> {};

// The parent forks again and again while two other threads record; the child
// calls the library (or not) and ends. Whatever the child does, the parent's
// files hold exactly the parent's records.
TEST_P(HardeningFork, ChildLeavesTheParentsTraceExactlyAsTheParentWroteIt) {
    const fork_case c = GetParam();
    const int forks = forks_per_run;
    temp_dir dir;
    // A child that deadlocks on a lock held at fork() hangs the parent too.
    child_result r = run_client(dir, {"fork", c.child_calls ? "1" : "0", c.ending, std::to_string(forks)}, 60);
    ASSERT_EQ(r.exit_code, 0) << describe(r);
    EXPECT_EQ(r.out, std::to_string(forks) + " forks done\n");
    EXPECT_EQ(r.err, "");
    // The main thread and the two recording threads; children add no file.
    std::vector<std::string> names = list_dir(dir.path());
    EXPECT_EQ(names.size(), static_cast<size_t>(std::max(3, hardware)));

    plan_check plans;
    std::set<unsigned long long> owners;
    int main_files = 0;
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        trace_file file = parse_trace(dir / name);
        ASSERT_TRUE(file.whole()) << file.error;
        std::vector<trace_record> records(file.records.begin(), file.records.end() - 1);
        if (records.empty()) continue;
        if (records[0].name() == "domain_createA") {
            // The forking thread: its domain, then one id_create before each fork and one at the end.
            ++main_files;
            EXPECT_EQ(records[0].fields[4].text, "parent");
            ASSERT_EQ(records.size(), static_cast<size_t>(forks + 2));
            for (int i = 0; i <= forks; ++i) {
                const trace_record& record = records[static_cast<size_t>(i + 1)];
                ASSERT_EQ(record.name(), "id_create");
                EXPECT_EQ(id_text(record.fields[3].id), "{1000, " + std::to_string(i) + ", 0}");
            }
        } else {
            unsigned long long owner = 0;
            EXPECT_EQ(plans.check(records, records.size(), owner), "");
            owners.insert(owner);
        }
    }
    EXPECT_EQ(main_files, 1);
    EXPECT_EQ(owners, (std::set<unsigned long long>{0, 1}));
}

INSTANTIATE_TEST_SUITE_P(AllEndings, HardeningFork,
                         testing::Values(fork_case{false, "exit"}, fork_case{false, "_exit"},
                                         fork_case{false, "exec"}, fork_case{true, "exit"},
                                         fork_case{true, "_exit"}, fork_case{true, "exec"}),
                         [](const testing::TestParamInfo<fork_case>& info) {
                             std::string ending = info.param.ending[0] == '_' ? "underscore_exit" : info.param.ending;
                             return std::string(info.param.child_calls ? "Recording" : "Silent") + "ChildThen_" +
                                    ending;
                         });

TEST(HardeningHostile, EveryFunctionAfterExitTimeDestructionWritesNothingAndReturnsUsableRecords) {
    temp_dir dir;
    child_result r = run_client(dir, {"after_exit"});
    ASSERT_EQ(r.exit_code, 0) << describe(r);
    const std::string usable = "usable usable usable usable Morvane Collector 0.02\n";
    // Both a thread that recorded before and one whose very first call comes now.
    EXPECT_EQ(r.out, "done\nrecorded before: " + usable + "first call: " + usable);
    EXPECT_EQ(r.err, "");
    std::vector<std::string> names = list_dir(dir.path());
    EXPECT_EQ(names.size(), static_cast<size_t>(hardware));
    for (const std::string& name : names) {
        trace_file file = parse_trace(dir / name);
        ASSERT_TRUE(file.whole()) << name << ": " << file.error;
        EXPECT_EQ(file.records.size(), name == "_mvt.0" ? 2u : 1u) << name;
    }
}

class HardeningOmptLookup : public testing::TestWithParam<const char*> {};

// A runtime that offers none of the entry points the callbacks need: the tool
// registers nothing, says so for every callback, and the start-up records are
// still written.
TEST_P(HardeningOmptLookup, ToolStartsWithoutEntryPointsAndRegistersNothing) {
    temp_dir dir;
    child_result r = run_client(dir, {"ompt", GetParam()});
    ASSERT_EQ(r.exit_code, 0) << describe(r);
    std::string expected;
    for (const char* callback :
         {"implicit_task", "control_tool", "parallel_begin", "parallel_end", "task_create", "task_schedule",
          "dependences", "thread_begin", "sync_region"})
        expected += std::string("0: Could not register callback 'ompt_callback_") + callback + "'\n";
    EXPECT_EQ(r.out, expected + "initialize 1, 0 callbacks\n");
    EXPECT_EQ(r.err, "");
    trace_file file = parse_trace(dir / "_mvt.0");
    ASSERT_TRUE(file.whole()) << file.error;
    ASSERT_EQ(file.records.size(), 14u);
    EXPECT_EQ(file.records[11].name(), "id_create");
    EXPECT_EQ(file.records[12].name(), "task_group");
}

INSTANTIATE_TEST_SUITE_P(Lookups, HardeningOmptLookup, testing::Values("none", "null", "set_callback"));

// A tmpfs mounted on a test directory for the life of the object.
class tmpfs_mount {
public:
    tmpfs_mount(const std::string& where, unsigned long flags, const char* options) : where_(where) {
        mounted_ = mount("tmpfs", where.c_str(), "tmpfs", flags, options) == 0;
    }
    ~tmpfs_mount() {
        if (mounted_) umount2(where_.c_str(), MNT_DETACH);
    }
    tmpfs_mount(const tmpfs_mount&) = delete;
    tmpfs_mount& operator=(const tmpfs_mount&) = delete;
    explicit operator bool() const { return mounted_; }

private:
    std::string where_;
    bool mounted_;
};

// Makes `path` unwritable for the child: a read-only tmpfs on it, or, where
// mounting is not allowed, its permission bits (which root would ignore).
std::unique_ptr<tmpfs_mount> make_read_only(const std::string& path) {
    auto read_only = std::make_unique<tmpfs_mount>(path, MS_RDONLY, "size=64k");
    if (!*read_only && geteuid() != 0) chmod(path.c_str(), 0555);
    if (!*read_only && geteuid() == 0) return nullptr;
    return read_only;
}

size_t count_of(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// What the "few" scenario shows on stderr when no trace file could be opened:
// every writer's lines, behind the warning, and the records of both threads.
void expect_every_line_on_stderr(const std::string& err) {
    const std::string warning = "WARNING NO OPEN FILE: ";
    const size_t writers = static_cast<size_t>(std::max(hardware, 2));
    EXPECT_EQ(count_of(err, warning + "<?xml version=\"1.0\"?>\n" + mvt_test::expected_trace_header_line() + "\n"),
              writers);
    EXPECT_EQ(count_of(err, warning + "<field>end_of_records</field>\n"), writers);
    EXPECT_EQ(count_of(err, warning + "</trace>\n"), writers);
    EXPECT_EQ(count_of(err, warning + "<field>id_create</field>\n"), 3u);
    EXPECT_EQ(count_of(err, warning + "<field>task_end</field>\n"), 1u);
    EXPECT_EQ(count_of(err, warning + "<field>few</field>\n"), 1u);
}

TEST(HardeningDirectory, UnwritableWorkingDirectoryWarnsOfMkdirAndKeepsRecordingToStderr) {
    temp_dir dir;
    auto read_only = make_read_only(dir.path());
    if (!read_only) GTEST_SKIP() << "cannot make a directory read-only for root here";
    child_result r =
        mvt_test::run_child({HARDENING_CLIENT, MVT_LIB_PATH, "few"}, {dir.path(), {no_exit_sleep()}, {"MVA_DIR"}, 240});
    ASSERT_EQ(r.exit_code, 0) << describe(r);
    EXPECT_TRUE(std::regex_match(r.out, std::regex("WARNING when issuing: mkdir _mva_[0-9]{8}_[0-9]{6}\ndone\n")))
        << r.out;
    expect_every_line_on_stderr(r.err);
    EXPECT_TRUE(list_dir(dir.path()).empty());
}

TEST(HardeningDirectory, ReadOnlyTraceDirectoryOrOneBelowAFileSendsEveryLineToStderr) {
    temp_dir dir;
    const std::string read_only_dir = dir / "read_only";
    mkdir(read_only_dir.c_str(), 0777);
    mvt_test::write_file(dir / "file", "");
    auto read_only = make_read_only(read_only_dir);
    std::vector<std::string> unusable = {dir / "file" + "/trace"};  // ENOTDIR, even for root
    if (read_only) unusable.push_back(read_only_dir);
    for (const std::string& trace_dir : unusable) {
        SCOPED_TRACE(trace_dir);
        child_result r = run_client(trace_dir, dir.path(), {"few"});
        ASSERT_EQ(r.exit_code, 0) << describe(r);
        EXPECT_EQ(r.out, "done\n");
        expect_every_line_on_stderr(r.err);
    }
    EXPECT_TRUE(list_dir(read_only_dir).empty());
}

// Write failures are not reported and do not stop the process: the run goes
// on to its end and every file keeps the whole lines written before the failure.
void expect_run_survives_write_failures(const child_result& r, const std::string& trace_dir) {
    ASSERT_EQ(r.exit_code, 0) << describe(r);
    EXPECT_EQ(r.out, "done\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(list_dir(trace_dir).size(), static_cast<size_t>(std::max(3, hardware)));
}

TEST(HardeningDirectory, FullDiskIsSurvivedSilently) {
    temp_dir dir;
    const std::string small = dir / "small";
    mkdir(small.c_str(), 0777);
    tmpfs_mount disk(small, 0, "size=64k");
    if (!disk) GTEST_SKIP() << "cannot mount a small tmpfs here";
    child_result r = run_client(small, dir.path(), {"fill", "2000"});
    expect_run_survives_write_failures(r, small);
    size_t written = 0;
    for (const std::string& name : list_dir(small)) written += mvt_test::read_file(small + "/" + name).size();
    EXPECT_GT(written, 32u * 1024) << "the disk never filled up";
}

TEST(HardeningDirectory, FileSizeLimitIsSurvivedSilently) {
    temp_dir dir;
    const size_t limit = 8192;
    child_result r = run_client(dir, {"fill", "2000", std::to_string(limit)});
    expect_run_survives_write_failures(r, dir.path());
    for (const std::string& name : list_dir(dir.path())) {
        std::vector<std::string> lines = mvt_test::read_lines(dir / name);
        EXPECT_LE(mvt_test::read_file(dir / name).size(), limit) << name;
        ASSERT_GE(lines.size(), 2u) << name;
        EXPECT_EQ(lines[1], mvt_test::expected_trace_header_line());
    }
}

}  // namespace
