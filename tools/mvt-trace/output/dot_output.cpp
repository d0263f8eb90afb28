#include "output/dot_output.h"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "model/graph_model.h"
#include "common/text_format.h"

namespace mvt_trace {

namespace {

std::string node_name(const trace_id& id) {
    return "\"g" + std::to_string(id.d1) + "_" + std::to_string(id.d2) + "_" + std::to_string(id.d3) + "\"";
}

class dot_writer {
public:
    dot_writer(const graph_model& graph, std::ostream& out)
        : graph_(graph), out_(out), emitted_(graph.groups().size(), false), is_cluster_(graph.groups().size(), false) {
        for (const graph_edge& edge : graph.edges()) {
            edge_ends_.insert(edge.from);
            edge_ends_.insert(edge.to);
        }
    }

    void write() {
        out_ << "digraph trace {\n  compound=true;\n  rankdir=LR;\n  fontname=\"Helvetica\";\n"
             << "  node [shape=box, style=\"rounded,filled\", fillcolor=\"#f4f4f4\", fontname=\"Helvetica\"];\n"
             << "  edge [color=\"#333333\"];\n";
        for (std::size_t root : graph_.roots()) write_tree(root);
        // Groups whose parents form a loop are reachable from no root.
        for (std::size_t i = 0; i < graph_.groups().size(); ++i)
            if (!emitted_[i]) write_tree(i);
        write_vertices_and_edges();
        out_ << "}\n";
    }

private:
    std::string label(const graph_group& group) const {
        std::string name = group.declared ? graph_.names().handle_name(group.name) : std::string("(undeclared)");
        return dot_escape(name + "\n" + id_text(group.id));
    }

    // Depth-first with an explicit stack: nesting comes from the trace and
    // may be deeper than the call stack should go.
    void write_tree(std::size_t root) {
        struct frame {
            std::size_t group;
            std::size_t next_member;
            std::size_t depth;
        };
        std::vector<frame> stack;
        if (!open_group(root, 1)) return;
        stack.push_back({root, 0, 1});
        while (!stack.empty()) {
            frame& top = stack.back();
            const graph_group& group = graph_.groups()[top.group];
            if (top.next_member < group.members.size()) {
                std::size_t member = group.members[top.next_member++];
                std::size_t depth = top.depth + 1;
                if (open_group(member, depth)) stack.push_back({member, 0, depth});
                continue;
            }
            out_ << std::string(top.depth * 2, ' ') << "}\n";
            stack.pop_back();
        }
    }

    // Writes a leaf as a node, or opens the cluster of a group with members
    // (the caller closes it); false when there is nothing to descend into.
    bool open_group(std::size_t position, std::size_t depth) {
        if (emitted_[position]) return false;
        emitted_[position] = true;
        const graph_group& group = graph_.groups()[position];
        std::string indent(depth * 2, ' ');
        // Members already drawn elsewhere (parents that loop) do not make a
        // cluster: an empty one would not be drawn at all.
        bool cluster = std::any_of(group.members.begin(), group.members.end(),
                                   [this](std::size_t member) { return !emitted_[member]; });
        if (!cluster) {
            out_ << indent << node_name(group.id) << " [label=\"" << label(group) << "\"];\n";
            return false;
        }
        out_ << indent << "subgraph \"cluster_" << node_name(group.id).substr(1) << " {\n"
             << indent << "  label=\"" << label(group) << "\";\n"
             << indent << "  style=\"rounded\";\n";
        // Edges cannot end on a cluster, so one that is an edge's end gets a
        // point that stands for it.
        if (is_edge_end(group.id))
            out_ << indent << "  " << node_name(group.id) << " [shape=point, width=0.08, label=\"\"];\n";
        is_cluster_[position] = true;
        return true;
    }

    bool is_edge_end(const trace_id& id) const { return edge_ends_.count(id) != 0; }

    void write_vertices_and_edges() {
        std::unordered_map<trace_id, bool, trace_id_hash> vertices;
        for (const graph_edge& edge : graph_.edges()) {
            for (const trace_id& end : {edge.from, edge.to}) {
                if (graph_.find(end) >= 0 || !vertices.emplace(end, true).second) continue;
                out_ << "  " << node_name(end) << " [shape=ellipse, style=dashed, label=\"" << id_text(end)
                     << "\"];\n";
            }
        }
        for (const graph_edge& edge : graph_.edges()) {
            out_ << "  " << node_name(edge.from) << " -> " << node_name(edge.to);
            std::string attributes = cluster_end("ltail", edge.from) + cluster_end("lhead", edge.to);
            if (!attributes.empty()) out_ << " [" << attributes.substr(2) << "]";
            out_ << ";\n";
        }
    }

    std::string cluster_end(const char* attribute, const trace_id& id) const {
        long position = graph_.find(id);
        if (position < 0 || !is_cluster_[static_cast<std::size_t>(position)]) return "";
        return std::string(", ") + attribute + "=\"cluster_" + node_name(id).substr(1);
    }

    const graph_model& graph_;
    std::ostream& out_;
    std::vector<bool> emitted_;
    std::vector<bool> is_cluster_;
    std::unordered_set<trace_id, trace_id_hash> edge_ends_;
};

}  // namespace

std::vector<file_report> write_dot(const std::vector<trace_file>& files, std::ostream& out) {
    graph_model graph;
    std::vector<file_report> reports = visit_files(files, graph);
    graph.build();
    dot_writer(graph, out).write();
    return reports;
}

}  // namespace mvt_trace
