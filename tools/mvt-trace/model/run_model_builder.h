#ifndef MVT_TRACE_RUN_MODEL_BUILDER_H
#define MVT_TRACE_RUN_MODEL_BUILDER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "model/run_model.h"
#include "reading/record_visitor.h"

namespace mvt_trace {

// Reads the declarations of a run (names, task groups, relations, metadata)
// from every file of every process, then builds the run_model. Memory grows
// with the graph (groups, relations, metadata), not with the executions.
class run_model_builder : public record_visitor {
public:
    explicit run_model_builder(std::size_t processes);

    void begin_file(const trace_file& file, std::size_t position) override;
    void record(const trace_record& record) override;

    // Once every file has been read.
    run_model build();

private:
    using scoped_id = run_model::scoped_id;
    using scoped_id_hash = run_model::scoped_id_hash;

    struct declaration {
        std::uint64_t kind_handle = 0;
        std::vector<trace_id> other_parents;
        std::uint64_t first_other_kind = 0;  // a kind it was declared again with, or 0
        bool kind_differs = false;
    };
    struct relation {
        std::size_t process;
        std::uint64_t domain;
        trace_id head;
        int kind;
        trace_id tail;
    };
    struct metadata_value {
        std::uint64_t key;
        bool is_text;
        std::uint64_t number;
        std::string text;
    };

    void declare(const trace_record& record);
    void add_metadata(const trace_record& record, bool is_text);

    void resolve_objects();
    void resolve_bodies(std::unordered_map<std::size_t, trace_id>& first_body);
    void resolve_edges();
    void resolve_labels(const std::unordered_map<std::size_t, trace_id>& first_body);
    void collect_conflicts();
    bool apply_metadata(graph_object& object, const trace_id& id);
    long edge_end(const relation& r, const trace_id& id) const;

    std::size_t process_ = 0;
    run_model model_;
    std::vector<declaration> declarations_;  // parallel to model_.objects_
    std::vector<relation> relations_;
    std::unordered_map<scoped_id, std::vector<metadata_value>, scoped_id_hash> metadata_;
};

}  // namespace mvt_trace

#endif
