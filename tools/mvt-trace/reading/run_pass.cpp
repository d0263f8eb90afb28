#include "reading/run_pass.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>

namespace mvt_trace {

namespace {

// Parsing is the pass's cost, and files are independent: a few threads read
// a few files at once. More than four rarely helps, as the disk or the
// merging of what was read takes over.
unsigned readers_for(const pass_options& options, std::size_t files) {
    unsigned readers = options.readers;
    if (readers == 0) readers = std::min(4u, std::max(1u, std::thread::hardware_concurrency()));
    return static_cast<unsigned>(std::min<std::size_t>(readers, std::max<std::size_t>(files, 1)));
}

class pass {
public:
    pass(const std::vector<trace_file>& files, const std::vector<run_subscriber*>& subscribers,
         const pass_options& options)
        : files_(files), subscribers_(subscribers), options_(options), reports_(files.size()) {
        // The sizes the listing found: the progress line needs no exact total.
        if (options_.progress) total_bytes_ = total_size(files);
    }

    std::vector<file_report> run() {
        const unsigned readers = readers_for(options_, files_.size());
        std::vector<std::thread> threads;
        for (unsigned i = 1; i < readers; ++i) threads.emplace_back([this] { work(); });
        work();
        for (std::thread& t : threads) t.join();
        if (failure_) std::rethrow_exception(failure_);
        return std::move(reports_);
    }

private:
    void work() {
        try {
            for (;;) {
                const std::size_t file = next_.fetch_add(1);
                if (file >= files_.size() || failed_.load()) return;
                read_file(file);
            }
        } catch (...) {
            std::lock_guard<std::mutex> hold(failure_lock_);
            if (!failure_) failure_ = std::current_exception();
            failed_ = true;
        }
    }

    void read_file(std::size_t file) {
        std::vector<file_sink*> sinks;
        sinks.reserve(subscribers_.size());
        for (run_subscriber* subscriber : subscribers_) sinks.push_back(&subscriber->sink_for(file));
        trace_file_reader reader(files_[file].path);
        const trace_record* record = nullptr;
        std::uint64_t reported = 0;
        while (reader.next(record)) {
            for (file_sink* sink : sinks) sink->record(*record);
            if (options_.progress && reader.report().bytes - reported >= (std::uint64_t{8} << 20)) {
                advance(reader.report().bytes - reported);
                reported = reader.report().bytes;
            }
        }
        if (options_.progress) advance(reader.report().bytes - reported);
        for (file_sink* sink : sinks) sink->finish(reader.report());
        reports_[file] = reader.report();
    }

    void advance(std::uint64_t bytes) {
        const std::uint64_t done = done_bytes_.fetch_add(bytes) + bytes;
        std::lock_guard<std::mutex> hold(progress_lock_);
        options_.progress(std::min(done, total_bytes_), total_bytes_);
    }

    const std::vector<trace_file>& files_;
    const std::vector<run_subscriber*>& subscribers_;
    const pass_options& options_;
    std::vector<file_report> reports_;
    std::atomic<std::size_t> next_{0};
    std::atomic<bool> failed_{false};
    std::mutex failure_lock_;
    std::exception_ptr failure_;
    std::uint64_t total_bytes_ = 0;
    std::atomic<std::uint64_t> done_bytes_{0};
    std::mutex progress_lock_;
};

}  // namespace

std::vector<file_report> read_run(const std::vector<trace_file>& files,
                                  const std::vector<run_subscriber*>& subscribers, const pass_options& options) {
    return pass(files, subscribers, options).run();
}

}  // namespace mvt_trace
