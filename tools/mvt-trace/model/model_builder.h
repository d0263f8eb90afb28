#ifndef MVT_TRACE_MODEL_BUILDER_H
#define MVT_TRACE_MODEL_BUILDER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/large_allocator.h"
#include "model/file_log.h"
#include "model/trace_model.h"
#include "reading/run_layout.h"
#include "reading/run_pass.h"
#include "reading/trace_directory.h"

namespace mvt_trace {

// Builds the trace_model of a run from the one pass over its files: it hands
// the pass a log per file, and once every file is read, puts the logs
// together process by process (the rules are in trace_model.h).
//
//   model_builder builder(layout);
//   read_run(layout.files(), {&builder});
//   trace_model model = builder.build();
class model_builder : public run_subscriber {
public:
    explicit model_builder(const run_layout& layout);
    ~model_builder() override;

    file_sink& sink_for(std::size_t file) override { return *logs_[file]; }

    // Once the pass is done; the builder is spent afterwards.
    trace_model build();

private:
    using number_list = std::vector<std::uint32_t, large_allocator<std::uint32_t>>;

    // What the builder knows of one process beyond the model's own.
    struct process_state {
        std::vector<std::size_t> files;  // positions in files_
        // Per identifier number: the object declared under it, and the node
        // a relation declares it the body of (rule 3).
        number_list object_of_id;
        number_list body_of_id;
        std::unordered_map<std::uint64_t, std::uint32_t> handle_strings;  // handle address -> string
    };
    // Per file: its identifier and address numbers as the process knows
    // them.
    struct file_numbers {
        number_list ids;
        std::vector<std::uint64_t> addresses;
    };
    // What build keeps of an object beside the model's object.
    struct object_source {
        std::uint32_t id;      // identifier number
        std::uint32_t parent;  // identifier number of the first parent
        std::uint64_t timestamp;
        std::uint32_t file;
        std::uint32_t order;
    };
    // A record of a file, by the file's position and its place in the log.
    template <typename Entry>
    struct placed {
        const Entry* entry;
        std::uint32_t file;
    };
    template <typename Entry>
    using placed_list = std::vector<placed<Entry>>;
    // The relations of a process in the order they were made.
    std::vector<placed_list<file_log::relation_entry>> relations_;
    std::uint32_t node_for(std::uint32_t process, std::uint32_t id, bool openmp) const;

    void collect_threads();
    void number_identifiers();
    void collect_names();
    void collect_objects();
    void attach_executions();
    void label_objects();
    void collect_edges();
    void add_openmp_dependences(std::size_t process, index_pairs& edges);
    void replay_executions();
    void index_executions();
    void collect_findings();

    std::uint32_t handle_string(std::uint32_t process, std::uint64_t address);
    std::uint32_t id_number(std::size_t file, std::uint32_t local) const { return numbers_[file].ids[local]; }
    std::uint64_t address(std::size_t file, std::uint32_t local) const { return numbers_[file].addresses[local]; }

    std::vector<trace_file> files_;
    std::vector<std::string> directories_;
    std::vector<std::string> labels_;
    std::vector<char> ended_by_exec_;
    std::vector<std::unique_ptr<file_log>> logs_;
    std::vector<file_numbers> numbers_;
    std::vector<process_state> states_;
    std::vector<object_source> sources_;
    // What the replay of each thread's executions left unpaired.
    struct thread_counts {
        std::uint64_t open_tasks = 0;    // executions of nodes still open at the end
        std::uint64_t open_runtime = 0;  // the runtime's own still open at the end
        std::uint64_t open_unattached = 0;  // tasks of no node still open at the end
        std::uint64_t unmatched_task_ends = 0;
        std::uint64_t open_regions = 0;
        std::uint64_t unmatched_region_ends = 0;
    };
    std::vector<thread_counts> counts_;
    // Per process: name handles used but never named; OpenMP tasks begun
    // again after they ended.
    std::vector<std::uint64_t> unnamed_handles_;
    std::vector<std::uint64_t> restarted_tasks_;
    std::uint64_t role_conflicts_ = 0;
    std::string first_role_conflict_;
    trace_model model_;
};

}  // namespace mvt_trace

#endif
