#ifndef MVT_TRACE_RUN_PASS_H
#define MVT_TRACE_RUN_PASS_H

#include <cstddef>
#include <functional>
#include <vector>

#include "reading/trace_directory.h"
#include "reading/trace_file_reader.h"
#include "reading/trace_record.h"

namespace mvt_trace {

// Where the records of one file go, in the order the file holds them.
class file_sink {
public:
    virtual ~file_sink() = default;
    virtual void record(const trace_record& record) = 0;
    // Once the file is read, whole or not.
    virtual void finish(const file_report& /*report*/) {}
};

// Something that wants every record of a run: the model's builder, a count.
// It hands out one sink per file. The pass reads several files at once on
// threads of its own, so sinks of different files may be called at the same
// time; each sink is called from one thread only, and sink_for is called
// once per file, on the thread that then reads it.
class run_subscriber {
public:
    virtual ~run_subscriber() = default;
    virtual file_sink& sink_for(std::size_t file) = 0;
};

struct pass_options {
    // Files read at once; 0 chooses from the machine's cores.
    unsigned readers = 0;
    // Called now and then with the bytes read so far and the bytes in all;
    // from the reading threads, one call at a time.
    std::function<void(std::uint64_t done, std::uint64_t total)> progress;
};

// The one pass over a run: every file is read once, each record parsed and
// checked, and handed to every subscriber. Memory is one read buffer per
// reading thread, whatever the number or size of the files, and one open
// file per reading thread. Returns how reading each file went, in the order
// of `files`.
std::vector<file_report> read_run(const std::vector<trace_file>& files,
                                  const std::vector<run_subscriber*>& subscribers, const pass_options& options = {});

}  // namespace mvt_trace

#endif
