#ifndef MVT_WRITER_MVT_COLLECTOR_H
#define MVT_WRITER_MVT_COLLECTOR_H

#include <pthread.h>

#include <atomic>
#include <list>
#include <mutex>
#include <string>

#include <mvt_xml/writer.h>

namespace writer {

class trace_writer;

// The process-wide owner of all trace output: settles the trace directory,
// creates one writer per hardware thread at load, hands each recording thread
// its own writer and, at exit, ends and closes every file.
class mvt_collector {
public:
    // A thread's holder of its writer, kept in thread-specific data. Never
    // freed: thread-specific data keeps pointing at it after shutdown.
    class trace_writer_wrapper {
    public:
        explicit trace_writer_wrapper(mvt_collector* owner) noexcept : collector(owner) {}
        virtual ~trace_writer_wrapper() = default;

        std::atomic<mvt_collector*> collector;
        std::atomic<trace_writer*> writer{nullptr};
        // Set by the owning thread while it writes a record; shutdown waits for
        // it to clear before it ends the writer, so no record is torn.
        std::atomic<bool> recording{false};
    };

    mvt_collector();
    // Ends the run, if it has not ended yet.
    ~mvt_collector();
    mvt_collector(const mvt_collector&) = delete;
    mvt_collector& operator=(const mvt_collector&) = delete;

    trace_writer_wrapper* get_wrapper();
    trace_writer* create_writer();
    void add_new_wrapper(trace_writer_wrapper* w);
    void add_to_free_list(int first, int count);
    void set_mvt_directory();

    // Ends the run: every file gets its end_of_records record and closing
    // line, later calls write nothing. Runs once; a later call returns when
    // the first has finished. In a fork()ed child it lets go of the inherited
    // writers without writing. When it is called is decided in run_end.h.
    void end_run() noexcept;

    // Guards wrappers, free_list, next_writer_index and the name registries,
    // for the life of the process: the collector itself is never destroyed.
    std::mutex lock;
    pthread_key_t key{};
    std::mutex directory_lock;
    std::string directory;
    int initial_writers = 8;
    int next_writer_index = 0;
    std::list<trace_writer_wrapper*> wrappers;
    std::list<trace_writer*> free_list;

private:
    void end_writer(trace_writer* w) noexcept;
    void end_wrapper(trace_writer_wrapper* w, const struct shutdown_deadline& deadline) noexcept;
    void forget_inherited_writers() noexcept;
    static void after_fork_in_child() noexcept;

    bool key_created = false;
    bool run_ended = false;  // guarded by lock
};

// Admission to the collector's writer hand-out (a thread taking its wrapper
// and first writer). Shutdown refuses new admissions and then waits, briefly
// and boundedly, for admitted threads to leave before it ends the writers.
class collector_admission {
public:
    collector_admission() noexcept;
    ~collector_admission();
    collector_admission(const collector_admission&) = delete;
    collector_admission& operator=(const collector_admission&) = delete;
    explicit operator bool() const noexcept { return admitted_; }

private:
    bool admitted_;
};

// One record on the calling thread's writer: opens it with its name and
// timestamp, and closes it when the scope ends. Evaluates to false, and writes
// nothing, when the thread cannot have a writer (the collector is shutting
// down or gone, or this process is a fork()ed child).
class record_scope {
public:
    record_scope(mvt_collector& collector, __itt_record_t type) noexcept;
    ~record_scope();
    record_scope(const record_scope&) = delete;
    record_scope& operator=(const record_scope&) = delete;
    explicit operator bool() const noexcept { return writer_ != nullptr; }
    trace_writer* operator->() const noexcept { return writer_; }

private:
    void acquire_first_writer(mvt_collector& collector) noexcept;

    mvt_collector::trace_writer_wrapper* wrapper_ = nullptr;
    trace_writer* writer_ = nullptr;
};

}  // namespace writer

#endif
