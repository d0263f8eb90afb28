#ifndef MVT_TRACE_LINK_INDEX_H
#define MVT_TRACE_LINK_INDEX_H

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "model/name_table.h"
#include "reading/record_visitor.h"

namespace mvt_trace {

// One metadata value attached to an identifier.
struct metadata_entry {
    std::uint64_t key = 0;  // string-handle address
    bool is_text = false;
    std::uint64_t number = 0;
    std::string text;
};

// A relation that connects two task executions, directed from the one that
// comes first (parent, predecessor) to the other.
struct execution_link {
    trace_id from;
    trace_id to;
    int kind = 0;
};

// What a first pass over the run learns so that a second pass can write
// events as it meets them: names, the time origin, metadata by identifier,
// and the relations that connect executions. Grows with the number of
// identifiers that carry metadata or relations, not with the records.
class link_index : public record_visitor {
public:
    void record(const trace_record& record) override;

    // Turns the relations into links between executed identifiers; call once
    // after the pass. A storage location that thousands of tasks write and
    // read links each writer to each reader: past most_links the rest are
    // left out, more arrows than any view can show.
    void resolve_links();
    static constexpr std::size_t most_links = std::size_t{1} << 20;
    bool links_left_out() const { return links_left_out_; }

    const name_table& names() const { return names_; }
    bool any_timestamp() const { return seen_; }
    std::uint64_t first_timestamp() const { return first_; }
    std::uint64_t last_timestamp() const { return last_; }
    const std::vector<execution_link>& links() const { return links_; }
    // Metadata of an execution: that of its identifier, or of the identifier
    // that differs only by a tag word of 1 (a task's graph node).
    const std::vector<metadata_entry>* metadata_of(const trace_id& execution) const;

private:
    struct relation_entry {
        trace_id head;
        int kind;
        trace_id tail;
    };
    bool executed(const trace_id& id) const { return executed_.count(id) != 0; }
    bool resolve(const trace_id& id, trace_id& execution) const;

    name_table names_;
    bool seen_ = false;
    std::uint64_t first_ = 0;
    std::uint64_t last_ = 0;
    std::unordered_map<trace_id, std::vector<metadata_entry>, trace_id_hash> metadata_;
    std::unordered_set<trace_id, trace_id_hash> executed_;
    std::vector<relation_entry> relations_;
    std::vector<execution_link> links_;
    bool links_left_out_ = false;
};

}  // namespace mvt_trace

#endif
