#include "output/graph_drawing.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "common/text_format.h"

namespace mvt_trace {

namespace {

// Characters of a name in a label: longer ones would stretch every box in
// their rank.
constexpr std::size_t name_chars = 40;
constexpr std::size_t port_chars = 20;
// Boxes nested deeper than this are drawn inside the box at this depth: a
// trace may nest groups thousands deep, and every level costs Graphviz and
// the reader more than it shows.
constexpr std::size_t max_box_depth = 16;
const char* const critical_colour = "#e8590c";

// The text with well-formed UTF-8 kept, control characters as blanks, any
// other byte as '?', cut to `limit` characters: what Graphviz draws without
// complaint.
std::string clean_text(std::string_view text, std::size_t limit) {
    std::string out;
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++i, ++chars) {
        if (chars == limit) {
            out += "\xe2\x80\xa6";  // an ellipsis
            break;
        }
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7f) {
            out += ' ';
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (const std::size_t length = utf8_length(text, i); length > 0) {
            out.append(text.substr(i, length));
            i += length - 1;
        } else {
            out += '?';
        }
    }
    return out;
}

// For a double-quoted DOT string; "\n" separates lines.
std::string quoted(const std::vector<std::string>& lines) {
    std::string out = "\"";
    for (std::size_t k = 0; k < lines.size(); ++k) {
        if (k > 0) out += "\\n";
        for (char c : lines[k]) {
            if (c == '"' || c == '\\') out += '\\';
            out += c;
        }
    }
    return out + "\"";
}

// For an HTML-like label.
std::string html_text(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

// Pale for little time, deep blue for the most, as the report page colours
// them; the square root keeps small nodes apart when one node dominates.
std::string heat_colour(double share, bool& dark) {
    const double k = std::sqrt(std::clamp(share, 0.0, 1.0));
    const int from[3] = {232, 240, 251};
    const int to[3] = {26, 74, 150};
    int rgb[3];
    for (int i = 0; i < 3; ++i) rgb[i] = static_cast<int>(std::lround(from[i] + (to[i] - from[i]) * k));
    dark = (0.299 * rgb[0] + 0.587 * rgb[1] + 0.114 * rgb[2]) / 255 <= 0.62;
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", rgb[0], rgb[1], rgb[2]);
    return text;
}

std::string thousands(std::size_t n) {
    std::string digits = std::to_string(n);
    for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
    return digits;
}

std::string short_duration(std::uint64_t ns) {
    std::string time = format_duration(ns);
    if (time.size() > 3 && time.compare(time.size() - 3, 3, " us") == 0) time.replace(time.size() - 2, 1, "\xc2\xb5");
    return time;
}

class graph_drawing {
public:
    graph_drawing(const run_analysis& run, const graph_drawing_options& options)
        : run_(run), model_(run.model), objects_(run.model.objects()), options_(options) {}

    graph_drawing_summary write(std::ostream& out) {
        choose_nodes();
        find_containers();
        choose_vertices();
        cap();
        collect_edges();
        emit(out);
        return summary_;
    }

private:
    // What the drawing shows: an object (a node), or a construct.
    struct vertex {
        std::string name;  // "n12", "c3"
        std::uint32_t object = no_index;
        std::uint32_t construct = no_index;  // place in run.labels.constructs()
        std::uint32_t box = no_index;        // the object whose box holds it
        bool critical = false;
        std::uint64_t total = 0;
        std::uint64_t executions = 0;
        std::size_t nodes = 1;
    };
    struct drawn_edge {
        std::uint32_t from, to;  // vertices
        std::uint32_t from_port = no_index, to_port = no_index;
        std::uint64_t count = 1;
        bool critical = false;
    };

    bool is_openmp_task_node(std::uint32_t i) const {
        const trace_model::object& o = objects_[i];
        return o.is_openmp_task_node() && model_.kind_of(o) != "composite_node";
    }
    bool is_region(std::uint32_t i) const {
        const trace_model::object& o = objects_[i];
        return o.openmp && model_.kind_of(o) == "composite_node";
    }
    bool ran(std::uint32_t i) const { return run_.statistics.row(i) != nullptr; }

    // Nodes worth drawing: those that ran or are joined by an edge. An
    // OpenMP region's begin and end nodes, and the run's graph object, only
    // with ports; a region is its box.
    void choose_nodes() {
        const std::uint32_t n = static_cast<std::uint32_t>(objects_.size());
        has_edge_.assign(n, 0);
        for (const trace_model::edge& e : model_.edges()) has_edge_[e.from] = has_edge_[e.to] = 1;
        chosen_.assign(n, 0);
        for (std::uint32_t i = 0; i < n; ++i) {
            const trace_model::object& o = objects_[i];
            if (!o.is_node() || is_region(i)) continue;
            if (o.openmp && !is_openmp_task_node(i)) {
                if (options_.ports && o.parent != no_index && is_region(o.parent)) chosen_[i] = 1;
                continue;
            }
            chosen_[i] = ran(i) || has_edge_[i];
        }
    }

    // The box each chosen node is drawn in: its parallel region for an
    // OpenMP task (up through the tasks that created it), else the nearest
    // node it was declared under. Boxes nest no deeper than max_box_depth.
    void find_containers() {
        const std::uint32_t n = static_cast<std::uint32_t>(objects_.size());
        container_.assign(n, no_index);
        for (std::uint32_t i = 0; i < n; ++i) {
            if (!chosen_[i]) continue;
            container_[i] = objects_[i].openmp ? region_of(i) : node_parent(i);
        }
        // A box is any object that holds something; its own container is
        // found the same way, and depth is counted from the top.
        boxed_.assign(n, 0);
        depth_.assign(n, 0);
        std::vector<std::uint32_t> walk;
        for (std::uint32_t i = 0; i < n; ++i) {
            if (!chosen_[i]) continue;
            walk.clear();
            for (std::uint32_t at = container_[i]; at != no_index && !boxed_[at] && walk.size() <= n; at = box_parent(at)) {
                boxed_[at] = 1;
                walk.push_back(at);
            }
        }
        // Depths, top first: a box's depth is one more than its parent's.
        std::vector<std::uint32_t> order;
        for (std::uint32_t i = 0; i < n; ++i)
            if (boxed_[i]) order.push_back(i);
        for (std::uint32_t b : order) box_depth(b);
        for (std::uint32_t i = 0; i < n; ++i)
            if (chosen_[i] || boxed_[i]) container_[i] = shallow_enough(chosen_[i] ? container_[i] : box_parent(i));
        // A parallel region that created no task with dependences is still
        // part of the run's shape: it is drawn as a node of its own.
        for (std::uint32_t i = 0; i < n; ++i)
            if (is_region(i) && !boxed_[i] && ran(i)) chosen_[i] = 1;
    }

    std::uint32_t node_parent(std::uint32_t i) const {
        std::uint32_t at = objects_[i].parent;
        for (std::size_t steps = 0; at != no_index && steps < objects_.size(); ++steps) {
            if (objects_[at].is_node()) return at;
            at = objects_[at].parent;
        }
        return no_index;
    }
    std::uint32_t box_parent(std::uint32_t box) const { return is_region(box) ? no_index : node_parent(box); }

    // The parallel region of an OpenMP object: a task node is declared
    // under the task that created it, an implicit task (a group under its
    // region's group) or an explicit one (whose node, if it has one, is
    // declared in turn under its creator).
    std::uint32_t region_of(std::uint32_t i) const {
        const trace_model::object& start = objects_[i];
        if (start.parent != no_index && is_region(start.parent)) return start.parent;
        const trace_model::process& process = model_.processes()[start.process];
        const auto object_for = [&](const trace_id& id) -> std::uint32_t {
            const std::uint32_t number = process.ids.find(id);
            if (number == id_table::none) return no_index;
            return find_object(start.process, number);
        };
        std::uint32_t at = i;
        for (std::size_t steps = 0; steps < 64; ++steps) {
            const trace_model::object& o = objects_[at];
            const trace_id& parent = process.ids.id(o.parent_id);
            if (parent.is_null()) return no_index;
            std::uint32_t next = object_for(parent);
            if (next != no_index && objects_[next].role == trace_model::object_role::group) {
                // An implicit task {X, 0, 0} under its region's group {P, 0, 0},
                // whose composite node {P, 1, 0} is the region.
                const trace_model::object& group = objects_[next];
                if (model_.kind_of(group) == "omp_parallel") return object_for(trace_id{group.id.d1, 1, 0});
                const trace_id& region_group = process.ids.id(group.parent_id);
                return region_group.is_null() ? no_index : object_for(trace_id{region_group.d1, 1, 0});
            }
            next = object_for(trace_id{parent.d1, 1, 0});
            if (next == no_index || next == at) return no_index;
            if (is_region(next)) return next;
            at = next;
        }
        return no_index;
    }

    std::uint32_t find_object(std::uint32_t process, std::uint32_t id) const {
        if (object_index_.empty()) {
            object_index_.resize(model_.processes().size());
            for (std::uint32_t i = 0; i < objects_.size(); ++i) {
                const trace_model::object& o = objects_[i];
                object_index_[o.process].emplace(model_.processes()[o.process].ids.find(o.id), i);
            }
        }
        auto found = object_index_[process].find(id);
        return found == object_index_[process].end() ? no_index : found->second;
    }

    std::size_t box_depth(std::uint32_t box) {
        if (depth_[box] != 0) return depth_[box];
        // Iterative: the chain may be long.
        std::vector<std::uint32_t> chain;
        for (std::uint32_t at = box; at != no_index && depth_[at] == 0 && chain.size() <= objects_.size();
             at = box_parent(at))
            chain.push_back(at);
        std::size_t above = chain.empty() || box_parent(chain.back()) == no_index ? 0 : depth_[box_parent(chain.back())];
        for (auto k = chain.rbegin(); k != chain.rend(); ++k) depth_[*k] = ++above;
        return depth_[box];
    }

    // The box, or its ancestor at the deepest depth drawn.
    std::uint32_t shallow_enough(std::uint32_t box) const {
        while (box != no_index && depth_[box] > max_box_depth) box = box_parent(box);
        return box;
    }

    void choose_vertices() {
        std::size_t task_nodes = 0;
        for (std::uint32_t i = 0; i < objects_.size(); ++i)
            if (chosen_[i] && run_.labels.construct_of(i) != no_index) ++task_nodes;
        const bool constructs = !options_.instances && task_nodes > options_.construct_threshold;
        summary_.constructs = constructs;
        summary_.instances = task_nodes;
        vertex_of_.assign(objects_.size(), no_index);
        std::vector<std::uint32_t> construct_vertex(run_.labels.constructs().size(), no_index);
        for (std::uint32_t i = 0; i < objects_.size(); ++i) {
            if (!chosen_[i]) continue;
            const std::uint32_t c = run_.labels.construct_of(i);
            const node_statistics* row = run_.statistics.row(i);
            if (constructs && c != no_index) {
                if (construct_vertex[c] == no_index) {
                    construct_vertex[c] = static_cast<std::uint32_t>(vertices_.size());
                    vertex v;
                    v.name = "c" + std::to_string(c);
                    v.construct = c;
                    v.nodes = 0;
                    vertices_.push_back(v);
                }
                vertex& v = vertices_[construct_vertex[c]];
                ++v.nodes;
                if (row) {
                    v.total += row->stats.total();
                    v.executions += row->stats.count();
                }
                vertex_of_[i] = construct_vertex[c];
                continue;
            }
            vertex v;
            v.name = "n" + std::to_string(i);
            v.object = i;
            v.box = container_[i];
            if (row) {
                v.total = row->stats.total();
                v.executions = row->stats.count();
            }
            vertex_of_[i] = static_cast<std::uint32_t>(vertices_.size());
            vertices_.push_back(v);
        }
        // The critical path, as drawn.
        const std::vector<critical_step>& path = run_.dependencies.critical_path;
        for (std::size_t k = 0; k < path.size(); ++k) {
            const std::uint32_t node = model_.executions()[path[k].execution].node;
            const std::uint32_t v = vertex_of_[node];
            if (v == no_index) continue;
            vertices_[v].critical = true;
            if (k + 1 < path.size()) {
                const std::uint32_t next = vertex_of_[model_.executions()[path[k + 1].execution].node];
                if (next != no_index) critical_steps_.insert({v, next});
            }
        }
        summary_.nodes = vertices_.size();
        summary_.drawn = vertices_.size();
    }

    // Past max_nodes: the critical path, then the vertices with the most time.
    void cap() {
        kept_.assign(vertices_.size(), 1);
        if (vertices_.size() <= options_.max_nodes) return;
        std::vector<std::uint32_t> order(vertices_.size());
        for (std::uint32_t v = 0; v < order.size(); ++v) order[v] = v;
        std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
            if (vertices_[a].critical != vertices_[b].critical) return vertices_[a].critical;
            return vertices_[a].total > vertices_[b].total;
        });
        std::fill(kept_.begin(), kept_.end(), 0);
        for (std::size_t k = 0; k < options_.max_nodes && k < order.size(); ++k) kept_[order[k]] = 1;
        summary_.drawn = std::min(options_.max_nodes, vertices_.size());
    }

    void collect_edges() {
        std::map<std::pair<std::uint32_t, std::uint32_t>, std::uint64_t> counts;
        std::set<std::pair<std::uint32_t, std::uint32_t>> through_ports;
        if (options_.ports && !summary_.constructs) {
            for (const trace_model::edge& e : model_.port_edges()) {
                const auto [from, from_port] = port_end(e.from);
                const auto [to, to_port] = port_end(e.to);
                if (from == no_index || to == no_index || from == to) continue;
                if (from_port == no_index && to_port == no_index) continue;  // node to node: the model's edge
                drawn_edge edge{from, to, from_port, to_port};
                edge.critical = critical_steps_.count({from, to}) != 0;
                edges_.push_back(edge);
                through_ports.insert({from, to});
            }
        }
        for (const trace_model::edge& e : model_.edges()) {
            const std::uint32_t from = drawn_vertex(e.from), to = drawn_vertex(e.to);
            if (from == no_index || to == no_index) continue;
            // Within one construct an edge is a loop; between nodes it is not.
            if (from == to && !summary_.constructs) continue;
            if (through_ports.count({from, to})) continue;
            ++counts[{from, to}];
        }
        for (const auto& [ends, count] : counts) {
            drawn_edge edge{ends.first, ends.second};
            edge.count = count;
            edge.critical = critical_steps_.count(ends) != 0;
            edges_.push_back(edge);
        }
    }

    std::uint32_t drawn_vertex(std::uint32_t object) const {
        const std::uint32_t v = vertex_of_[object];
        return v != no_index && kept_[v] ? v : no_index;
    }

    // (vertex, port) of an edge's end as recorded: a port's node and the
    // port, or a node and no port.
    std::pair<std::uint32_t, std::uint32_t> port_end(std::uint32_t object) const {
        const trace_model::object& o = objects_[object];
        if (o.is_node()) return {drawn_vertex(object), no_index};
        if (o.port_of == no_index) return {no_index, no_index};
        return {drawn_vertex(o.port_of), object};
    }

    void emit(std::ostream& out) {
        out << "digraph run {\n"
               "  graph [rankdir=LR, compound=true, newrank=true, fontname=\"Helvetica\", fontsize=10, nodesep=0.12, "
               "ranksep=0.3, labeljust=l, margin=0.1];\n"
               "  node [shape=box, style=\"rounded,filled\", fillcolor=\"#f4f6fa\", color=\"#56607a\", "
               "fontname=\"Helvetica\", fontsize=10, height=0.3, margin=\"0.08,0.03\"];\n"
               "  edge [color=\"#4a5160\", arrowsize=0.6];\n";
        const std::string note = graph_cap_note(summary_);
        if (options_.caption && !note.empty()) out << "  label=" << quoted({note}) << ";\n  labelloc=b;\n";
        for (std::uint32_t v = 0; v < vertices_.size(); ++v)
            if (kept_[v]) max_total_ = std::max(max_total_, vertices_[v].total);
        emit_boxes(out);
        out << gates_;
        for (const drawn_edge& e : edges_) {
            out << "  " << end_text(e.from, e.from_port, ":e") << " -> " << end_text(e.to, e.to_port, ":w");
            std::string attributes;
            if (e.count > 1)
                attributes += "label=\"" + thousands(e.count) + "\", penwidth=" +
                              std::to_string(std::min(6.0, 1.0 + std::log10(static_cast<double>(e.count)))).substr(0, 4);
            if (e.critical)
                attributes += std::string(attributes.empty() ? "" : ", ") + "color=\"" + critical_colour + "\"" +
                              (e.count > 1 ? "" : ", penwidth=2");
            if (!attributes.empty()) out << " [" << attributes << "]";
            out << ";\n";
        }
        for (const auto& [from, to] : invisible_) out << "  " << from << " -> " << to << " [style=invis];\n";
        out << "}\n";
    }

    // Boxes hold their vertices and the boxes inside them. Regions go first,
    // in the order they began, each kept to the right of the one before by
    // an invisible point between them; then the other boxes and loose
    // vertices. Each line is indented by a constant: the text grows with the
    // number of boxes, not with their depth.
    void emit_boxes(std::ostream& out) {
        std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> vertices_in;  // box -> vertices
        std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> boxes_in;     // box -> boxes
        std::vector<std::uint32_t> top_vertices, top_boxes;
        for (std::uint32_t v = 0; v < vertices_.size(); ++v) {
            if (!kept_[v]) continue;
            const std::uint32_t box = vertices_[v].box;
            (box == no_index ? top_vertices : vertices_in[box]).push_back(v);
        }
        // Only boxes that hold something drawn, and the boxes around them.
        std::vector<char> used(objects_.size(), 0);
        for (const auto& [box, inside] : vertices_in)
            for (std::uint32_t at = box; at != no_index && !used[at]; at = container_[at]) used[at] = 1;
        for (std::uint32_t b = 0; b < objects_.size(); ++b) {
            if (!used[b]) continue;
            (container_[b] == no_index ? top_boxes : boxes_in[container_[b]]).push_back(b);
        }
        auto began = [&](std::uint32_t b) {
            const node_statistics* row = run_.statistics.row(b);
            return row ? row->first_begin : UINT64_MAX;
        };
        // Regions, boxed or drawn as a node of their own, left to right in
        // the order they began; then every other box.
        std::vector<std::uint32_t> regions, others;
        for (std::uint32_t b : top_boxes) (is_region(b) ? regions : others).push_back(b);
        std::vector<std::uint32_t> loose;
        for (std::uint32_t v : top_vertices) {
            const std::uint32_t object = vertices_[v].object;
            if (object != no_index && is_region(object))
                regions.push_back(object);
            else
                loose.push_back(v);
        }
        std::stable_sort(regions.begin(), regions.end(),
                         [&](std::uint32_t a, std::uint32_t b) { return began(a) < began(b); });
        std::size_t region_number = 0;
        std::vector<std::string> previous_gate;
        struct frame {
            std::vector<std::uint32_t> boxes;
            std::size_t next = 0;
        };
        std::vector<frame> stack;
        auto write_box = [&](std::uint32_t top, std::size_t number) {
            open_box(top, number, out);
            write_vertices(vertices_in[top], out);
            stack.push_back({boxes_in[top], 0});
            while (!stack.empty()) {
                frame& f = stack.back();
                if (f.next == f.boxes.size()) {
                    out << "  }\n";
                    stack.pop_back();
                    continue;
                }
                const std::uint32_t b = f.boxes[f.next++];
                open_box(b, 0, out);
                write_vertices(vertices_in[b], out);
                stack.push_back({boxes_in[b], 0});
            }
        };
        for (std::uint32_t r : regions) {
            ++region_number;
            if (used[r]) {
                write_box(r, region_number);
                gate_region(vertices_in[r], region_number, previous_gate);
            } else {
                const std::uint32_t v = vertex_of_[r];
                region_numbers_[v] = region_number;
                write_vertices({v}, out);
                gate_region({v}, region_number, previous_gate);
            }
        }
        for (std::uint32_t b : others) write_box(b, 0);
        write_vertices(loose, out);
    }

    void open_box(std::uint32_t box, std::size_t region_number, std::ostream& out) const {
        std::string label;
        if (is_region(box)) {
            label = run_.labels.of_object(box);
            if (region_number > 0) label = "region " + std::to_string(region_number) + ": " + label;
            if (const node_statistics* row = run_.statistics.row(box)) label += " \xc2\xb7 " + short_duration(row->stats.total());
        } else {
            label = run_.labels.of_object(box);
        }
        out << "  subgraph cluster_" << box << " {\n  label=" << quoted({clean_text(label, 2 * name_chars)})
            << "; style=\"rounded,filled\"; fillcolor=\"#f8f9fc\"; color=\"#9aa3b2\";\n";
    }

    // Keeps a region's nodes right of the region before: the last nodes
    // of the one before lead to an invisible point, which leads to the
    // first nodes of this one.
    void gate_region(const std::vector<std::uint32_t>& inside, std::size_t number, std::vector<std::string>& before) {
        if (inside.empty()) return;
        std::set<std::uint32_t> members(inside.begin(), inside.end()), has_in, has_out;
        for (const drawn_edge& e : edges_)
            if (members.count(e.from) && members.count(e.to) && e.from != e.to) {
                has_out.insert(e.from);
                has_in.insert(e.to);
            }
        if (!before.empty()) {
            const std::string gate = "gate" + std::to_string(number);
            gates_ += "  " + gate + " [shape=point, style=invis, width=0, height=0];\n";
            for (const std::string& last : before) invisible_.push_back({last, gate});
            for (std::uint32_t v : inside)
                if (!has_in.count(v)) invisible_.push_back({gate, vertices_[v].name});
        }
        before.clear();
        for (std::uint32_t v : inside)
            if (!has_out.count(v)) before.push_back(vertices_[v].name);
    }

    void write_vertices(const std::vector<std::uint32_t>& list, std::ostream& out) {
        for (std::uint32_t v : list) out << "  " << vertex_text(v) << "\n";
    }

    std::vector<std::string> vertex_lines(const vertex& v) const {
        std::vector<std::string> lines;
        if (v.construct != no_index) {
            lines.push_back(clean_text(run_.labels.constructs()[v.construct].label, name_chars));
            lines.push_back(thousands(v.nodes) + " task nodes");
        } else {
            const trace_model::object& o = objects_[v.object];
            const std::string& label = run_.labels.of_object(v.object);
            const auto number = region_numbers_.find(static_cast<std::uint32_t>(&v - vertices_.data()));
            lines.push_back(clean_text(
                number == region_numbers_.end() ? label : "region " + std::to_string(number->second) + ": " + label,
                name_chars));
            if (is_region(v.object)) {
                lines.push_back(short_duration(v.total));
                return lines;
            }
            const std::string_view kind = model_.kind_of(o);
            if (label.find(std::string(kind)) == std::string::npos && !o.openmp) lines.push_back(clean_text(kind, name_chars));
        }
        if (v.executions > 0) {
            std::string time = short_duration(v.total);
            if (v.executions > 1) time += " (" + thousands(v.executions) + " runs)";
            lines.push_back(time);
        }
        return lines;
    }

    std::string vertex_text(std::uint32_t index) const {
        const vertex& v = vertices_[index];
        std::string text = v.name + " [";
        if (v.construct != no_index) {
            const auto& rows = run_.constructs;
            for (std::size_t r = 0; r < rows.size(); ++r)
                if (rows[r].construct == v.construct) text += "id=\"construct-" + std::to_string(r) + "\", ";
        } else if (run_.statistics.row(v.object) && run_.statistics.row_of_object[v.object] < execution_statistics::runtime_row) {
            text += "id=\"node-" + std::to_string(run_.statistics.row_of_object[v.object]) + "\", ";
        }
        bool dark = false;
        const std::string fill =
            v.executions > 0 ? heat_colour(max_total_ ? static_cast<double>(v.total) / static_cast<double>(max_total_) : 0, dark)
                             : "#ffffff";
        if (v.object != no_index && shows_ports(v.object)) {
            text += "shape=plain, label=<" + ports_table(v, fill, dark) + ">";
        } else {
            text += "label=" + quoted(vertex_lines(v));
            if (v.executions > 0)
                text += ", fillcolor=\"" + fill + "\"";
            else
                text += ", style=\"rounded,filled,dashed\", fillcolor=\"#ffffff\"";  // never ran
            if (dark) text += ", fontcolor=\"#ffffff\"";
            if (v.construct != no_index) text += ", peripheries=2";
        }
        if (v.critical) text += std::string(", color=\"") + critical_colour + "\", penwidth=2.5";
        return text + "];";
    }

    bool shows_ports(std::uint32_t object) const {
        return options_.ports && !summary_.constructs && !ports_of(object).empty();
    }
    std::vector<std::uint32_t> ports_of(std::uint32_t object) const {
        std::vector<std::uint32_t> ports;
        const compressed_rows& children = model_.children();
        for (const std::uint32_t* c = children.row_begin(object); c != children.row_end(object); ++c)
            if (objects_[*c].port_of == object) ports.push_back(*c);
        return ports;
    }

    // The node between its input ports (left) and output ports (right).
    std::string ports_table(const vertex& v, const std::string& fill, bool dark) const {
        std::vector<std::uint32_t> inputs, outputs;
        for (std::uint32_t p : ports_of(v.object))
            (starts_with(model_.kind_of(objects_[p]), "output_port") ? outputs : inputs).push_back(p);
        auto column = [&](const std::vector<std::uint32_t>& ports) {
            if (ports.empty()) return std::string("<td></td>");
            std::string cells = "<td><table border=\"0\" cellborder=\"1\" cellspacing=\"0\" cellpadding=\"1\">";
            for (std::uint32_t p : ports)
                cells += "<tr><td port=\"p" + std::to_string(p) + "\" bgcolor=\"#ffffff\"><font point-size=\"8\">" +
                         html_text(clean_text(model_.name_of(objects_[p]), port_chars)) + "</font></td></tr>";
            return cells + "</table></td>";
        };
        std::string middle;
        for (const std::string& line : vertex_lines(v)) middle += (middle.empty() ? "" : "<br/>") + html_text(line);
        if (dark) middle = "<font color=\"#ffffff\">" + middle + "</font>";
        const std::string border = v.critical ? critical_colour : "#56607a";
        return "<table border=\"1\" cellborder=\"0\" cellspacing=\"2\" style=\"rounded\" color=\"" + border +
               "\" bgcolor=\"" + fill + "\"><tr>" + column(inputs) + "<td>" + middle + "</td>" + column(outputs) +
               "</tr></table>";
    }

    std::string end_text(std::uint32_t v, std::uint32_t port, const char* side) const {
        return vertices_[v].name + (port != no_index ? ":p" + std::to_string(port) + side : "");
    }

    const run_analysis& run_;
    const trace_model& model_;
    const trace_model::object_list& objects_;
    const graph_drawing_options& options_;
    graph_drawing_summary summary_;

    std::vector<char> has_edge_, chosen_, boxed_;
    std::vector<std::uint32_t> container_;
    std::vector<std::size_t> depth_;
    mutable std::vector<std::unordered_map<std::uint32_t, std::uint32_t>> object_index_;
    std::vector<vertex> vertices_;
    std::vector<std::uint32_t> vertex_of_;
    std::vector<char> kept_;
    std::set<std::pair<std::uint32_t, std::uint32_t>> critical_steps_;
    std::vector<drawn_edge> edges_;
    std::vector<std::pair<std::string, std::string>> invisible_;
    std::unordered_map<std::uint32_t, std::size_t> region_numbers_;  // vertex of a region drawn as a node
    std::string gates_;
    std::uint64_t max_total_ = 0;
};

}  // namespace

graph_drawing_summary write_graph_dot(const run_analysis& run, const graph_drawing_options& options,
                                      std::ostream& out) {
    return graph_drawing(run, options).write(out);
}

std::string graph_cap_note(const graph_drawing_summary& summary) {
    std::string note;
    if (summary.constructs)
        note = thousands(summary.instances) + " task nodes drawn as their constructs; 'mvt-trace dot --instances' "
               "draws each.";
    if (summary.drawn < summary.nodes)
        note += std::string(note.empty() ? "" : " ") + thousands(summary.drawn) + " of " + thousands(summary.nodes) +
                (summary.constructs ? " boxes" : " nodes") +
                " drawn: the critical path and those that took the most time (" +
                thousands(summary.nodes - summary.drawn) + " left out).";
    return note;
}

}  // namespace mvt_trace
