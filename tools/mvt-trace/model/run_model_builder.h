#ifndef MVT_TRACE_RUN_MODEL_BUILDER_H
#define MVT_TRACE_RUN_MODEL_BUILDER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "model/chunked_vector.h"
#include "model/id_map.h"
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
    static constexpr std::uint32_t none = UINT32_MAX;

    // What pass 1 keeps of a group; the graph_object is made at build().
    struct declaration {
        trace_id id;
        trace_id parent;
        std::uint64_t domain = 0;
        std::uint64_t kind_handle = 0;
        std::uint64_t other_kind = 0;  // a kind it was declared again with
        std::uint32_t process = 0;
        std::uint32_t other_parents = none;  // first of a list in other_parents_
        bool kind_differs = false;
    };
    struct other_parent {
        trace_id parent;
        std::uint32_t next;
    };
    struct relation {
        std::uint32_t process;
        int kind;
        std::uint64_t domain;
        trace_id head;
        trace_id tail;
    };
    // Metadata of one identifier is a list in metadata_, in record order;
    // texts live in one string.
    struct metadata_value {
        std::uint64_t key = 0;
        std::uint64_t number = 0;
        std::size_t text_begin = 0;
        std::size_t text_size = 0;
        std::uint32_t next = none;
        bool is_text = false;
    };
    struct metadata_list {
        std::uint32_t first = none;
        std::uint32_t last = none;
    };

    void declare(const trace_record& record);
    void add_metadata(const trace_record& record, bool is_text);

    void resolve_objects();
    void resolve_bodies(std::vector<trace_id>& first_body, std::vector<bool>& has_body);
    void resolve_edges();
    void resolve_labels(const std::vector<trace_id>& first_body, const std::vector<bool>& has_body);
    void collect_conflicts();
    bool apply_metadata(graph_object& object, const trace_id& id);
    long edge_end(const relation& r, const trace_id& id) const;

    std::size_t process_ = 0;
    run_model model_;
    chunked_vector<declaration> declarations_;  // one per object, in order
    std::vector<other_parent> other_parents_;
    chunked_vector<relation> relations_;
    chunked_vector<metadata_value> metadata_;
    std::string metadata_text_;
    id_map metadata_lists_;  // identifier -> position in metadata_heads_
    std::vector<metadata_list> metadata_heads_;
};

}  // namespace mvt_trace

#endif
