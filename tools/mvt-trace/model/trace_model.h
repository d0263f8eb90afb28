#ifndef MVT_TRACE_TRACE_MODEL_H
#define MVT_TRACE_TRACE_MODEL_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "common/compressed_rows.h"
#include "common/large_allocator.h"
#include "model/chunked_vector.h"
#include "model/findings.h"
#include "model/id_table.h"
#include "model/name_table.h"
#include "model/string_pool.h"
#include "reading/record_catalogue.h"
#include "reading/run_layout.h"
#include "reading/trace_directory.h"
#include "reading/trace_file_reader.h"

namespace mvt_trace {

// What a run of one or more processes recorded, as every command sees it:
// its processes and threads, the graph they declared, and every task
// execution and region with the time it took. Commands read this, never the
// records: one pass builds it (model_builder.h).
//
// Executions. On a thread, task_begin opens an execution and task_end ends
// the innermost one open, so executions nest. An execution may run in
// pieces: OpenMP reports each resumption of an untied task as a switch to
// the task, which the trace shows as a task_begin of an identifier that is
// already open in the process; such a begin is that task resuming, on this
// thread or another, and the task it interrupted is suspended. The pieces of
// one task are one execution: its time (`busy`) is the sum of its pieces,
// and the task counts once. Outside the OpenMP domain one identifier may run
// on several threads at once (a flow graph runs a node's body wherever it
// can), so there every begin opens an execution of its own.
//
// Regions are not executions: a runtime may use them to count what it waits
// for, so that regions of one identifier overlap, nest and end on other
// threads. A region_end closes the latest region of its identifier still
// open in the process, whichever thread began it.
//
// The graph. Graph objects are the task_group records: an identifier, the
// parent it was first declared under, and a kind (its name handle's string:
// "graph", "node", "composite_node", "input_port_0", a runtime's own kinds).
// A node declared again under a derived kind (a flow-graph runtime declares
// a queue node first as a buffer node) takes the last kind declared. Kinds
// that start with "input_port" or "output_port" are ports of the node they
// are declared under. An execution belongs to the node that the first of
// these rules names:
//   1. the node, or the port of the node, whose identifier is the
//      execution's (work that other threads do for an async node runs under
//      its output port);
//   2. in the OpenMP domain, the task node {T, 1, 0} of the execution
//      {T, 0, 0};
//   3. a node that a relation declares the execution's identifier to be the
//      body of: is_child_of the node, or the node is_parent_of it.
//
// Edges join nodes: the is_predecessor_to relations between nodes and
// ports, through identifiers that no group declares (pass-through
// vertices). OpenMP's dependences are the exception: a task's relations to
// the storage locations it names are read by OpenMP's own rule, which orders
// sibling tasks (created by one task) in creation order: a task that reads
// a location waits for the last sibling created before it that wrote it, and
// one that writes waits for that writer and for every reader since.
class trace_model {
public:
    // A metadata record: a key (string) and a number or a text (string).
    struct metadata_value {
        std::uint32_t key = 0;
        bool is_text = false;
        std::uint64_t number = 0;
        std::uint32_t text = 0;
    };

    struct process {
        std::string directory;
        std::string label;  // how to name it: "omp_example (pid 4242)", else its directory
        bool ended_by_exec = false;  // its image was replaced by another program
        std::uint32_t first_thread = 0;
        std::uint32_t thread_count = 0;
        name_table names;
        id_table ids;
        // Addresses of the domains named "openmp".
        std::vector<std::uint64_t> openmp_domains;
        // Records that declared the graph: task_group records by the name
        // of their kind, relations by code.
        std::map<std::string, std::uint64_t> task_groups_by_kind;
        std::map<int, std::uint64_t> relations_by_code;
        // The metadata of each identifier (by number), in the order of the
        // files: metadata[metadata_begin[id] .. metadata_begin[id + 1]).
        std::vector<std::uint32_t, large_allocator<std::uint32_t>> metadata_begin;
        std::vector<metadata_value> metadata;
        bool is_openmp_domain(std::uint64_t domain) const;
    };

    // One trace file: the records one thread made.
    struct thread {
        trace_file file;
        file_report report;
        std::uint32_t process = 0;
        // Records by kind, end_of_records too.
        std::array<std::uint64_t, record_kind_count> by_kind{};
        // The program's records: every record but end_of_records.
        std::uint64_t records = 0;
        std::uint64_t first_record = 0;  // of the program's records, when there are any
        std::uint64_t last_record = 0;
        // Of every record, end_of_records too.
        bool any_timestamp = false;
        std::uint64_t first_timestamp = 0;
        std::uint64_t last_timestamp = 0;
        bool ended = false;  // holds its end_of_records record
        std::uint64_t end_timestamp = 0;
        // Ends with nothing open to end.
        std::uint64_t unmatched_task_ends = 0;
        std::uint64_t unmatched_region_ends = 0;
    };

    // A group is a task group that names executions rather than a part of
    // the graph: OpenMP declares one for every parallel region and implicit
    // task ("omp_parallel", "omp_implicit").
    enum class object_role : std::uint8_t { node, port, group };

    struct object {
        trace_id id;
        std::uint64_t domain = 0;  // of its first declaration
        std::uint64_t code_address = 0;
        std::uint32_t process = 0;
        std::uint32_t kind = 0;          // string; the kind it was last declared as
        std::uint32_t label = no_index;  // string; a name the program gave it in metadata
        std::uint32_t parent = no_index; // the object it was first declared under
        std::uint32_t parent_id = 0;     // that parent's identifier, by number, declared or not
        std::uint32_t port_of = no_index;  // for a port, its node
        std::uint32_t first_body = no_index;  // identifier number of the first body that rule 3 gave it
        // Its first declaration: for an OpenMP task node, when and where the
        // task was created.
        std::uint64_t declared = 0;
        std::uint32_t declared_thread = 0;
        object_role role = object_role::node;
        bool has_code_address = false;
        bool openmp = false;  // declared in the OpenMP domain
        bool is_node() const { return role == object_role::node; }
        // The translation declares {T, 1, 0} for every OpenMP task with
        // dependences (the composite node of a parallel region shares the
        // tag but names no storage location).
        bool is_openmp_task_node() const { return openmp && is_node() && id.d2 == 1 && id.d3 == 0; }
    };

    enum class execution_role : std::uint8_t {
        // The body of a node: the program's work, part of the graph of
        // executions.
        task,
        // A task of the program's with no node: an OpenMP explicit task
        // without dependences (the translation makes nodes only for tasks
        // that have them), or any task of a process that declares no graph.
        task_without_node,
        // The runtime's own: OpenMP's parallel regions, implicit tasks and
        // barriers, and in a process that declares a graph, what no node
        // claims (a flow graph's root tasks).
        runtime,
    };

    struct execution {
        std::uint64_t begin = 0;  // its first piece's begin
        std::uint64_t end = 0;    // its last piece's end
        std::uint64_t busy = 0;   // the sum of its pieces
        std::uint32_t thread = 0;       // of its first piece
        std::uint32_t node = no_index;  // the object it belongs to
        std::uint32_t name = 0;         // string: its name handle's, at its first begin
        std::uint32_t id = 0;           // identifier, by number in its process's table
        std::uint32_t parent = 0;       // the parent identifier of its first begin, by number
        std::uint32_t first_piece = 0;  // into pieces()
        std::uint32_t piece_count = 0;
        std::uint32_t depth = 0;  // executions open around its first piece on that thread
        execution_role role = execution_role::runtime;
        bool open_at_end = false;  // its file ended before it did
        bool is_work() const { return role != execution_role::runtime; }
    };

    // A stretch of an execution on one thread.
    struct piece {
        std::uint64_t begin = 0;
        std::uint64_t end = 0;
        std::uint32_t execution = 0;
        std::uint32_t thread = 0;
        std::uint32_t depth = 0;  // pieces open around it on its thread
        std::uint32_t next = no_index;  // the execution's next piece
    };

    struct region {
        std::uint64_t begin = 0;
        std::uint64_t end = 0;
        std::uint32_t begin_thread = 0;
        std::uint32_t end_thread = 0;
        std::uint32_t id = 0;    // by number in its process's table
        std::uint32_t name = 0;  // string
        bool open_at_end = false;
    };

    struct edge {
        std::uint32_t from = 0;
        std::uint32_t to = 0;
        friend bool operator==(const edge& a, const edge& b) { return a.from == b.from && a.to == b.to; }
        friend bool operator<(const edge& a, const edge& b) {
            return a.from != b.from ? a.from < b.from : a.to < b.to;
        }
    };

    using execution_list = std::vector<execution, large_allocator<execution>>;
    using piece_list = std::vector<piece, large_allocator<piece>>;
    using object_list = std::vector<object, large_allocator<object>>;

    const std::vector<process>& processes() const { return processes_; }
    const std::vector<thread>& threads() const { return threads_; }
    const object_list& objects() const { return objects_; }
    // In order of their first begin (then thread): executions[i].begin never
    // decreases.
    const execution_list& executions() const { return executions_; }
    // In the order they began, every thread's together.
    const piece_list& pieces() const { return pieces_; }
    // The pieces of one thread, in order of begin: positions in pieces().
    std::pair<const std::uint32_t*, const std::uint32_t*> pieces_of_thread(std::size_t thread) const {
        return {thread_pieces_.row_begin(thread), thread_pieces_.row_end(thread)};
    }
    const std::vector<region>& regions() const { return regions_; }
    // Distinct node-to-node edges, sorted, none from a node to itself.
    const std::vector<edge>& edges() const { return edges_; }
    // The is_predecessor_to relations between two declared objects as
    // recorded, ports left as they are: which port an edge leaves and enters.
    const std::vector<edge>& port_edges() const { return port_edges_; }
    // Whether every pass-through vertex was expanded into its edges.
    bool edges_complete() const { return edges_complete_; }
    // The objects declared under each object, in order of first declaration.
    const compressed_rows& children() const { return children_; }
    // The executions of each object, in order of begin.
    const compressed_rows& executions_of() const { return executions_of_; }
    const std::vector<finding>& findings() const { return findings_; }
    std::string_view text(std::uint32_t string) const { return strings_.at(string); }

    // The run from its first to its last timestamp, every record of every file.
    bool any_timestamp() const { return any_timestamp_; }
    std::uint64_t first_timestamp() const { return first_timestamp_; }
    std::uint64_t last_timestamp() const { return last_timestamp_; }
    std::uint64_t wall() const { return last_timestamp_ - first_timestamp_; }
    // How long after the run's first timestamp; 0 for any earlier.
    std::uint64_t since_start(std::uint64_t ns) const { return ns > first_timestamp_ ? ns - first_timestamp_ : 0; }
    // Threads that made at least one record of the program's, and those
    // records: of one process, or of the whole run with no_index.
    struct activity {
        std::size_t threads = 0;
        std::uint64_t records = 0;
    };
    activity activity_of(std::uint32_t process = no_index) const;
    std::size_t active_threads() const { return activity_of().threads; }

    // How people call an object: its label, else its kind.
    std::string_view name_of(const object& o) const { return text(o.label != no_index ? o.label : o.kind); }
    std::string_view kind_of(const object& o) const { return text(o.kind); }
    const trace_id& id_of(const execution& e) const { return processes_[threads_[e.thread].process].ids.id(e.id); }
    std::uint32_t process_of(const execution& e) const { return threads_[e.thread].process; }
    // The metadata recorded on an identifier of a process, by number.
    std::pair<const metadata_value*, const metadata_value*> metadata_of(std::uint32_t process, std::uint32_t id) const;

private:
    friend class model_builder;

    std::vector<process> processes_;
    std::vector<thread> threads_;
    object_list objects_;
    execution_list executions_;
    piece_list pieces_;
    compressed_rows thread_pieces_;
    std::vector<region> regions_;
    std::vector<edge> edges_;
    std::vector<edge> port_edges_;
    bool edges_complete_ = true;
    compressed_rows children_;
    compressed_rows executions_of_;
    std::vector<finding> findings_;
    string_pool strings_;
    bool any_timestamp_ = false;
    std::uint64_t first_timestamp_ = 0;
    std::uint64_t last_timestamp_ = 0;
};

// "d1.d2.d3", all three words: the form identifiers take in JSON.
std::string full_id_text(const trace_id& id);

}  // namespace mvt_trace

#endif
