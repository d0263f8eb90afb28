#include "writer/mvt_collector.h"

#include <sched.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <thread>

#include "writer/keep_alive.h"
#include "writer/trace_directory.h"
#include "writer/trace_writer.h"

namespace writer {

namespace {

// Process-wide state that must outlive the collector object: threads may
// still call in while (and after) exit handlers run. All of it is trivially
// destructible, so it stays valid until the process is gone.
std::atomic<bool> accepting{false};       // records and admissions may start
std::atomic<int> admitted{0};             // threads inside collector_admission
std::atomic<bool> forked_child{false};    // this process was made by fork()
pthread_key_t wrapper_key;                // mirror of mvt_collector::key
std::atomic<mvt_collector*> registered{nullptr};  // the live collector, for the fork handlers
mvt_collector* fork_guarded = nullptr;    // the collector whose lock fork() holds

// How long shutdown waits for threads that are in the middle of a record or
// of taking their first writer. A record takes microseconds, so the wait is
// only ever long for a thread the scheduler has set aside mid-record, which
// on a loaded machine can last several hundred milliseconds; two seconds
// still keep a thread that is truly stuck from hanging the exit.
constexpr long shutdown_patience_ns = 2000L * 1000 * 1000;

long monotonic_ns() noexcept {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000L + now.tv_nsec;
}

void before_fork() noexcept {
    // Holding the lock across fork() gives the child consistent lists and
    // registries even when another thread was changing them. The registries
    // stay in use after the run has ended, so this holds for the whole life
    // of the collector.
    if (mvt_collector* collector = registered.load()) {
        collector->lock.lock();
        fork_guarded = collector;
    }
}

void after_fork_in_parent() noexcept {
    if (!fork_guarded) return;
    fork_guarded->lock.unlock();
    fork_guarded = nullptr;
}

}  // namespace

struct shutdown_deadline {
    long at_ns = monotonic_ns() + shutdown_patience_ns;

    // Waits until `done()` holds or the deadline passes; true when it holds.
    template <typename Condition>
    bool wait_for(Condition done) const noexcept {
        for (int spins = 0; !done(); ++spins) {
            if (monotonic_ns() >= at_ns) return false;
            if (spins < 64) {
                sched_yield();
            } else {
                timespec pause{0, 50 * 1000};
                nanosleep(&pause, nullptr);
            }
        }
        return true;
    }
};

mvt_collector::mvt_collector() {
    if (const char* from_environment = std::getenv("MVA_DIR")) directory = from_environment;
    std::lock_guard<std::mutex> hold(lock);
    try {
        // Without a key no thread can be given a writer; the library then
        // runs without recording, which is the quietest safe outcome.
        key_created = pthread_key_create(&key, nullptr) == 0;
        wrapper_key = key;
        if (unsigned hardware = std::thread::hardware_concurrency()) initial_writers = static_cast<int>(hardware);
        set_mvt_directory();
        int first = next_writer_index;
        next_writer_index += initial_writers;
        add_to_free_list(first, initial_writers);
        static bool fork_handlers = pthread_atfork(before_fork, after_fork_in_parent, after_fork_in_child) == 0;
        (void)fork_handlers;
        registered.store(this);
        accepting.store(key_created);
    } catch (...) {
        // Out of memory while loading: the process runs on, untraced.
    }
}

mvt_collector::~mvt_collector() { end_run(); }

void mvt_collector::end_run() noexcept {
    accepting.store(false);
    if (forked_child.load()) {
        std::lock_guard<std::mutex> hold(lock);
        forget_inherited_writers();
        return;
    }
    shutdown_deadline deadline;
    // Threads still taking their first writer need the lock; let them finish
    // before holding it for the rest of the shutdown.
    deadline.wait_for([] { return admitted.load() == 0; });
    // A second caller waits here for the first to finish, so whichever path
    // returns, the files are whole by then.
    std::lock_guard<std::mutex> hold(lock);
    if (run_ended) return;
    run_ended = true;
    for (trace_writer_wrapper* w : wrappers) end_wrapper(w, deadline);
    wrappers.clear();
    for (trace_writer* w : free_list) end_writer(w);
    free_list.clear();
}

void mvt_collector::end_writer(trace_writer* w) noexcept {
    write_begin_record(w, __itt_record_end_of_records);
    w->end_record();
    delete w;
}

void mvt_collector::end_wrapper(trace_writer_wrapper* w, const shutdown_deadline& deadline) noexcept {
    w->collector.store(nullptr);
    trace_writer* writer = w->writer.load();
    if (!writer) return;
    if (deadline.wait_for([w] { return !w->recording.load(); })) {
        end_writer(writer);
    } else {
        // The thread is stuck in the middle of a record. Its writer must
        // outlive it, so it is kept and its file is left without closing
        // lines, like the file of a process that crashed.
        keep_for_process_lifetime(writer);
    }
    w->writer.store(nullptr);
}

void mvt_collector::forget_inherited_writers() noexcept {
    // The writers are left alone, not destroyed: destroying one would write
    // its closing line into the parent's file, and its lock may have been
    // held by a parent thread at the moment of fork(). The descriptors close
    // with the process.
    for (trace_writer_wrapper* w : wrappers) {
        if (trace_writer* writer = w->writer.exchange(nullptr)) keep_for_process_lifetime(writer);
        w->collector.store(nullptr);
    }
    wrappers.clear();
    for (trace_writer* w : free_list) keep_for_process_lifetime(w);
    free_list.clear();
}

void mvt_collector::after_fork_in_child() noexcept {
    // A forked child shares the parent's open trace files. It records
    // nothing, and at its exit lets go of the inherited writers without
    // writing, so the parent's trace stays exactly as the parent writes it.
    forked_child.store(true);
    accepting.store(false);
    admitted.store(0);
    if (fork_guarded) {
        fork_guarded->lock.unlock();
        fork_guarded = nullptr;
    }
}

mvt_collector::trace_writer_wrapper* mvt_collector::get_wrapper() {
    if (!key_created) return nullptr;
    if (void* existing = pthread_getspecific(key)) return static_cast<trace_writer_wrapper*>(existing);
    auto* w = new (std::nothrow) trace_writer_wrapper(this);
    if (!w) return nullptr;
    try {
        add_new_wrapper(w);
    } catch (...) {
        delete w;
        return nullptr;
    }
    return w;
}

void mvt_collector::add_new_wrapper(trace_writer_wrapper* w) {
    {
        std::lock_guard<std::mutex> hold(lock);
        wrappers.push_back(w);
    }
    keep_for_process_lifetime(w);
    pthread_setspecific(key, w);
}

trace_writer* mvt_collector::create_writer() {
    // The list is only ever looked at under the lock: this runs once per
    // thread, and an unlocked peek would be a data race for no gain.
    int index;
    {
        std::lock_guard<std::mutex> hold(lock);
        if (!free_list.empty()) {
            trace_writer* w = free_list.front();
            free_list.pop_front();
            return w;
        }
        index = next_writer_index++;
    }
    try {
        return new trace_writer(index, directory);
    } catch (...) {
        return nullptr;
    }
}

void mvt_collector::add_to_free_list(int first, int count) {
    for (int i = 0; i < count; ++i) free_list.push_back(new trace_writer(first + i, directory));
}

void mvt_collector::set_mvt_directory() {
    std::lock_guard<std::mutex> hold(directory_lock);
    if (!directory.empty()) return;
    directory = dated_directory_name();
    if (directory_exists(directory)) directory = first_free_variant(directory);
    std::string command = "mkdir " + directory;
    if (std::system(command.c_str()) != 0) {
        std::fputs("WARNING when issuing: ", stdout);
        std::fputs(command.c_str(), stdout);
        std::fflush(stdout);
        std::fputs("\n", stdout);
        std::fflush(stdout);
    }
}

collector_admission::collector_admission() noexcept {
    admitted.fetch_add(1);
    admitted_ = accepting.load();
    if (!admitted_) admitted.fetch_sub(1);
}

collector_admission::~collector_admission() {
    if (admitted_) admitted.fetch_sub(1);
}

record_scope::record_scope(mvt_collector& collector, __itt_record_t type) noexcept {
    if (!accepting.load(std::memory_order_relaxed)) return;
    auto* w = static_cast<mvt_collector::trace_writer_wrapper*>(pthread_getspecific(wrapper_key));
    if (w) {
        // Announce the record before looking again: shutdown either sees the
        // flag and waits for this record, or this thread sees shutdown.
        w->recording.store(true);
        if (!accepting.load()) {
            w->recording.store(false, std::memory_order_release);
            return;
        }
        writer_ = w->writer.load(std::memory_order_relaxed);
        if (writer_) {
            wrapper_ = w;
        } else {
            w->recording.store(false, std::memory_order_release);
        }
    }
    if (!writer_) acquire_first_writer(collector);
    if (!writer_) return;
    write_begin_record(writer_, type);
}

void record_scope::acquire_first_writer(mvt_collector& collector) noexcept {
    collector_admission admission;
    if (!admission) return;
    mvt_collector::trace_writer_wrapper* w = collector.get_wrapper();
    if (!w) return;
    trace_writer* writer = w->writer.load();
    if (!writer) {
        mvt_collector* owner = w->collector.load();
        if (!owner) return;
        writer = owner->create_writer();
        if (!writer) return;
        w->writer.store(writer);
    }
    // Still admitted here, so shutdown cannot have looked at this wrapper yet.
    w->recording.store(true);
    wrapper_ = w;
    writer_ = writer;
}

record_scope::~record_scope() {
    if (!writer_) return;
    writer_->end_record();
    wrapper_->recording.store(false, std::memory_order_release);
}

}  // namespace writer
