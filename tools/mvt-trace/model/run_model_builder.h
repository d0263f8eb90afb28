#ifndef MVT_TRACE_RUN_MODEL_BUILDER_H
#define MVT_TRACE_RUN_MODEL_BUILDER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/large_allocator.h"
#include "model/chunked_vector.h"
#include "model/id_table.h"
#include "model/run_model.h"
#include "reading/trace_directory.h"
#include "reading/trace_record.h"

namespace mvt_trace {

// Gathers the declarations of a run (names, task groups, relations,
// metadata) while its files are read, then builds the run_model.
//
// The files may be read side by side, their records interleaved in any way:
// what depends on the order of the records (the first declaration of a
// group, the first of several relations, metadata in order) follows the
// order of the files and, within a file, of its records, as if they had been
// read one after another. Each record is kept as a few numbers (identifiers
// become numbers in the process's id_table), so memory grows with the graph,
// not with the executions.
class run_model_builder {
public:
    // `files`: the run's files, in order; each says which process it is of.
    run_model_builder(const std::vector<trace_file>& files, std::size_t processes);

    // A record of the file at position `file` of `files`.
    void record(const trace_record& record, std::size_t file);
    // The records so far that declared part of the graph.
    std::uint64_t graph_records() const { return graph_records_; }
    // The number of an identifier of a process (see id_table), for a reader
    // that keeps numbers rather than identifiers: the built model knows the
    // identifier by it (run_model::node_of_execution_number).
    std::uint32_t number_of(std::size_t process, const trace_id& id) { return model_.ids_.at(process).intern(id); }

    // Once every file has been read.
    run_model build();

private:
    static constexpr std::uint32_t none = id_table::none;
    using number_list = std::vector<std::uint32_t, large_allocator<std::uint32_t>>;

    // A task_group record.
    struct declared {
        std::uint32_t id;
        std::uint32_t parent;
        std::uint64_t domain;
        std::uint64_t kind;  // string handle
    };
    // An is_child_of or is_parent_of relation.
    struct body_relation {
        std::uint32_t head;
        std::uint32_t tail;
        std::uint64_t domain;
        int kind;
    };
    // An is_predecessor_to relation.
    struct predecessor {
        std::uint32_t head;
        std::uint32_t tail;
    };
    struct metadata_value {
        std::uint32_t id;
        std::uint32_t text_size;
        std::uint64_t key;
        std::uint64_t value;  // the number, or where the text begins in texts_
        bool is_text;
    };
    struct name_record {
        bool is_domain;
        std::uint64_t address;
        std::size_t text_begin;
        std::size_t text_size;
    };
    struct file_records {
        std::size_t process = 0;
        std::vector<name_record> names;
        chunked_vector<declared> declarations;
        chunked_vector<body_relation> bodies;
        chunked_vector<predecessor> predecessors;
        chunked_vector<metadata_value> metadata;
    };

    // What build() keeps of an object's declarations beside the object:
    // the numbers of its identifier and first parent, and what later
    // declarations said otherwise.
    struct object_source {
        std::uint32_t id;
        std::uint32_t parent;
        std::uint32_t other_parents = none;  // newest first, in other_parents_
        bool kind_differs = false;
        std::uint64_t kind;
    };
    struct other_kind {
        std::uint32_t object;
        std::uint64_t kind;
    };
    struct other_parent {
        std::uint32_t parent;
        std::uint32_t next;
    };
    // What a metadata key's name says, per process and handle.
    struct key_meaning {
        bool is_a_name;
        bool is_code_address;
    };

    void declare(file_records& file, const trace_record& record);
    void add_metadata(file_records& file, const trace_record& record, bool is_text);
    std::size_t add_text(std::string_view text);

    void resolve_names();
    void collect_objects();
    void resolve_objects();
    void resolve_bodies();
    void resolve_edges();
    void index_metadata();
    void resolve_labels();
    void collect_conflicts();
    bool apply_metadata(graph_object& object, std::uint32_t id);
    key_meaning meaning_of(std::size_t process, std::uint64_t key);
    const std::string& kind_name(std::size_t process, std::uint64_t handle);
    long edge_end(std::size_t process, std::uint32_t id) const;
    std::uint32_t object_of(std::size_t process, std::uint32_t id) const { return model_.object_of_id_[process][id]; }

    std::vector<file_records> files_;
    std::string texts_;  // of names and metadata
    std::uint64_t graph_records_ = 0;
    run_model model_;

    // Made by build().
    std::vector<object_source, large_allocator<object_source>> sources_;
    std::vector<other_parent> other_parents_;
    std::vector<other_kind> other_kinds_;  // the first other kind of an object, if any
    number_list first_body_;  // per object: the first body that rules 1 and 2 leave to it
    std::vector<number_list> metadata_begin_;  // per process, by identifier: into metadata_order_
    std::vector<std::vector<const metadata_value*, large_allocator<const metadata_value*>>> metadata_order_;
    std::vector<std::unordered_map<std::uint64_t, key_meaning>> key_meanings_;
    std::vector<std::unordered_map<std::uint64_t, std::string>> kind_names_;
};

}  // namespace mvt_trace

#endif
