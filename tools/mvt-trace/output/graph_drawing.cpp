#include "output/graph_drawing.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "common/text_format.h"
#include "common/json_text.h"

namespace mvt_trace {

namespace {

constexpr int is_predecessor_to = 7;
// Characters of a name in a label: longer ones would stretch every box in
// their rank.
constexpr std::size_t name_chars = 40;
constexpr std::size_t port_chars = 20;
const char* const critical_colour = "#e8590c";

// The text with well-formed UTF-8 kept, control characters as blanks, any
// other byte as '?', cut to `limit` characters: what Graphviz draws
// without complaint.
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

class graph_drawing {
public:
    graph_drawing(const run_analysis& run, const graph_drawing_options& options)
        : run_(run), model_(run.model), objects_(run.model.objects()), options_(options) {}

    graph_drawing_summary write(std::ostream& out) {
        mark_edge_ends();
        classify();
        select();
        find_boxes();
        map_edges();
        arrange();
        emit(out);
        return summary_;
    }

private:
    enum class state : char { port, hidden, drawn };
    static constexpr long unknown = -2;

    bool openmp(const graph_object& o) const { return model_.is_openmp_domain(o.process, o.domain); }
    bool has_row(std::size_t i) const { return run_.node_row(i) >= 0; }

    void mark_edge_ends() {
        has_edge_.assign(objects_.size(), 0);
        for (const node_edge& e : model_.edges()) has_edge_[e.from] = has_edge_[e.to] = 1;
    }

    // What each object becomes: a port (a cell of its node, or nothing),
    // hidden (something drawn stands for it), or drawn, inside the box of
    // its container.
    void classify() {
        const std::size_t n = objects_.size();
        state_.assign(n, state::drawn);
        stand_in_.assign(n, -1);
        container_.assign(n, -1);
        region_.assign(n, 0);
        composite_.assign(n, -1);
        region_memo_.assign(n, unknown);
        // Regions and their composite nodes first: the rest hangs from them.
        for (std::size_t i = 0; i < n; ++i) {
            const graph_object& o = objects_[i];
            if (!o.is_node()) {
                state_[i] = state::port;
            } else if (openmp(o) && o.kind == "omp_parallel") {
                region_[i] = 1;
            } else if (openmp(o) && o.kind == "composite_node") {
                const long region = model_.find(o.process, trace_id{o.id.d1, 0, o.id.d3});
                if (region >= 0 && objects_[static_cast<std::size_t>(region)].kind == "omp_parallel") {
                    state_[i] = state::hidden;
                    stand_in_[i] = region;
                    composite_[static_cast<std::size_t>(region)] = static_cast<long>(i);
                }
            }
        }
        for (std::size_t i = 0; i < n; ++i) {
            const graph_object& o = objects_[i];
            if (state_[i] != state::drawn || region_[i]) continue;
            if (!openmp(o)) {
                container_[i] = o.parent_object;
                continue;
            }
            // The run's one graph object: the whole drawing is it.
            if (o.kind == "graph" && o.parent_object < 0 && !has_row(i) && !has_edge_[i]) {
                state_[i] = state::hidden;
                continue;
            }
            const long parent = o.parent_object;
            if (parent >= 0 && is_hidden_composite(static_cast<std::size_t>(parent))) {
                // A region's begin or end node: the region's box stands for
                // it, unless ports are to be seen.
                const long region = stand_in_[static_cast<std::size_t>(parent)];
                if (options_.ports) {
                    container_[i] = region;
                } else {
                    state_[i] = state::hidden;
                    stand_in_[i] = region;
                }
                continue;
            }
            container_[i] = region_of(i);
        }
        for (std::size_t i = 0; i < n; ++i)
            if (state_[i] == state::drawn) container_[i] = drawn_one(container_[i]);
        break_container_loops();
    }

    // Groups that are each other's parents would hold each other: the loop
    // is cut where it closes, and the group there drawn at the top.
    void break_container_loops() {
        std::vector<char> seen(objects_.size(), 0);  // 1 on the current walk, 2 done
        std::vector<std::size_t> walk;
        for (std::size_t i = 0; i < objects_.size(); ++i) {
            long at = static_cast<long>(i);
            while (at >= 0 && seen[static_cast<std::size_t>(at)] == 0) {
                seen[static_cast<std::size_t>(at)] = 1;
                walk.push_back(static_cast<std::size_t>(at));
                at = container_[static_cast<std::size_t>(at)];
            }
            if (at >= 0 && seen[static_cast<std::size_t>(at)] == 1) container_[walk.back()] = -1;
            for (std::size_t k : walk) seen[k] = 2;
            walk.clear();
        }
    }

    bool is_hidden_composite(std::size_t i) const { return state_[i] == state::hidden && composite_of(i); }
    bool composite_of(std::size_t i) const {
        const long region = stand_in_[i];
        return region >= 0 && composite_[static_cast<std::size_t>(region)] == static_cast<long>(i);
    }

    // The parallel region a task belongs to: up through the groups it was
    // declared under; a task node's parent is the task that created it,
    // which is an implicit task (declared) or an explicit one, whose own
    // node carries the tag word 1.
    long region_of(std::size_t start) {
        std::vector<std::size_t> path;
        long found = -1;
        std::size_t at = start;
        for (std::size_t steps = 0; steps <= objects_.size(); ++steps) {
            if (region_memo_[at] != unknown) {
                found = region_memo_[at];
                break;
            }
            if (region_[at]) {
                found = static_cast<long>(at);
                break;
            }
            path.push_back(at);
            const graph_object& o = objects_[at];
            long next = o.parent_object;
            if (next >= 0 && is_hidden_composite(static_cast<std::size_t>(next))) {
                found = stand_in_[static_cast<std::size_t>(next)];
                break;
            }
            if (next < 0 && !o.parent.is_null()) next = model_.find(o.process, trace_id{o.parent.d1, 1, o.parent.d3});
            if (next < 0 || next == static_cast<long>(at)) break;
            at = static_cast<std::size_t>(next);
        }
        for (std::size_t p : path) region_memo_[p] = found;
        return found;
    }

    // The object, or what is drawn for it; -1 for none.
    long drawn_one(long i) const {
        for (std::size_t steps = 0; i >= 0 && steps <= objects_.size(); ++steps) {
            const std::size_t k = static_cast<std::size_t>(i);
            if (state_[k] == state::drawn) return i;
            i = state_[k] == state::hidden ? stand_in_[k] : objects_[k].port_of;
        }
        return -1;
    }

    // Past the cap, the critical path and then the nodes with the most time.
    void select() {
        const std::size_t n = objects_.size();
        critical_.assign(n, 0);
        // A path of nodes that never ran is no critical path worth showing.
        static const std::vector<std::size_t> none;
        const std::vector<std::size_t>& path = run_.dependencies.span > 0 ? run_.dependencies.critical_path : none;
        for (std::size_t k = 0; k < path.size(); ++k) {
            const long shown = drawn_one(static_cast<long>(path[k]));
            if (shown >= 0) critical_[static_cast<std::size_t>(shown)] = 1;
            if (k + 1 < path.size()) {
                const long next = drawn_one(static_cast<long>(path[k + 1]));
                if (shown >= 0 && next >= 0) critical_steps_.insert({shown, next});
            }
        }
        std::vector<std::size_t> candidates;
        for (std::size_t i = 0; i < n; ++i)
            if (state_[i] == state::drawn) candidates.push_back(i);
        summary_.nodes = candidates.size();
        if (candidates.size() > options_.max_nodes) {
            std::stable_sort(candidates.begin(), candidates.end(), [&](std::size_t a, std::size_t b) {
                if (critical_[a] != critical_[b]) return critical_[a] > critical_[b];
                return run_.total_of(a) > run_.total_of(b);
            });
            candidates.resize(options_.max_nodes);
        }
        kept_.assign(n, 0);
        for (std::size_t i : candidates) kept_[i] = 1;
        summary_.drawn = candidates.size();
    }

    // Boxes: the containers of what is drawn, and every region drawn.
    void find_boxes() {
        const std::size_t n = objects_.size();
        boxed_.assign(n, 0);
        for (std::size_t i = 0; i < n; ++i) {
            if (!kept_[i]) continue;
            if (region_[i]) boxed_[i] = 1;
            long c = container_[i];
            for (std::size_t steps = 0; c >= 0 && !boxed_[static_cast<std::size_t>(c)] && steps <= n; ++steps) {
                boxed_[static_cast<std::size_t>(c)] = 1;
                c = container_[static_cast<std::size_t>(c)];
            }
        }
        node_.assign(n, 0);
        for (std::size_t i = 0; i < n; ++i) {
            // A box's own node is drawn inside it when there is something to
            // say of it: its time, its edges, or the region it is.
            node_[i] = kept_[i] && (!boxed_[i] || region_[i] || has_row(i) || has_edge_[i] || shows_ports(i));
            if (node_[i] || boxed_[i]) {
                const long c = container_[i];
                (c >= 0 ? contents_[c] : top_).push_back(i);
            }
        }
    }

    bool shows_ports(std::size_t i) const { return options_.ports && !objects_[i].ports.empty(); }

    // An edge's end as drawn: a hidden object's stand-in, a port's node.
    long drawn_end(std::size_t object) const {
        const long shown = drawn_one(static_cast<long>(object));
        return shown >= 0 && node_[static_cast<std::size_t>(shown)] ? shown : -1;
    }

    void map_edges() {
        std::set<std::pair<long, long>> seen;
        if (options_.ports && options_.recorded_edges) {
            for (const recorded_edge& r : *options_.recorded_edges) {
                const auto [from, from_port] = port_end(r.process, r.head);
                const auto [to, to_port] = port_end(r.process, r.tail);
                if (from < 0 || to < 0 || from == to) continue;
                if (from_port < 0 && to_port < 0) continue;  // node to node: the model's edge
                edges_.push_back({from, to, from_port, to_port});
                seen.insert({from, to});
            }
        }
        for (const node_edge& e : model_.edges()) {
            const long from = drawn_end(e.from);
            const long to = drawn_end(e.to);
            if (from < 0 || to < 0 || from == to || !seen.insert({from, to}).second) continue;
            edges_.push_back({from, to, -1, -1});
        }
    }

    // (node, port) of a recorded edge's end; the port is -1 for the node
    // itself, the node -1 for a vertex or anything not drawn.
    std::pair<long, long> port_end(std::size_t process, const trace_id& id) const {
        const long object = model_.find(process, id);
        if (object < 0) return {-1, -1};
        const graph_object& o = objects_[static_cast<std::size_t>(object)];
        if (o.is_node()) return {drawn_end(static_cast<std::size_t>(object)), -1};
        if (o.port_of < 0) return {-1, -1};
        const long node = drawn_end(static_cast<std::size_t>(o.port_of));
        return {node, node == o.port_of ? object : -1};
    }

    // OpenMP regions left to right in the order they began: the region's
    // own node heads a column with its implicit tasks; invisible edges lead
    // from it to each first task node of the region, and from every last
    // one to the next region's node, so that ranks cannot interleave.
    // Nodes without edges would stand in one tall column: they are laid in
    // rows instead.
    void arrange() {
        for (std::size_t i : top_)
            if (region_[i] && boxed_[i]) regions_.push_back(i);
        // A region that never closed goes last.
        auto began = [&](std::size_t i) {
            const long row = run_.node_row(i);
            return row < 0 ? UINT64_MAX : run_.nodes[static_cast<std::size_t>(row)].first_begin;
        };
        std::stable_sort(regions_.begin(), regions_.end(), [&](std::size_t a, std::size_t b) { return began(a) < began(b); });
        region_number_.assign(objects_.size(), 0);
        for (std::size_t k = 0; k < regions_.size(); ++k) region_number_[regions_[k]] = k + 1;
        std::vector<char> linked(objects_.size(), 0);
        for (const drawn_edge& e : edges_) {
            linked[static_cast<std::size_t>(e.from)] = linked[static_cast<std::size_t>(e.to)] = 1;
            if (container_of_node(e.from) == container_of_node(e.to)) {
                out_within_[e.from].push_back(e.to);
                in_within_[e.to].push_back(e.from);
            }
        }
        std::vector<char> placed(objects_.size(), 0);  // in a region's column, or its begin or end node
        std::vector<region_layout> layouts;
        for (std::size_t r : regions_) layouts.push_back(lay_out_region(r, linked, placed));
        wrap_loose_nodes(top_, linked, placed);
        std::vector<long> boxes;
        for (const auto& entry : contents_) boxes.push_back(entry.first);
        std::sort(boxes.begin(), boxes.end());  // the text must not depend on hashing
        for (long box : boxes) wrap_loose_nodes(contents_[box], linked, placed);
        std::vector<long> previous_exits;
        for (std::size_t k = 0; k < regions_.size(); ++k) {
            const std::vector<long> exits = link_region(regions_[k], layouts[k], placed);
            const region_layout& layout = layouts[k];
            const long first = layout.entry >= 0 ? layout.entry : layout.feeder();
            if (first >= 0)
                for (long e : previous_exits) invisible_.push_back({e, first});
            if (!exits.empty()) previous_exits = exits;
        }
    }

    struct region_layout {
        long entry = -1;  // the region's own node
        long begin_node = -1, end_node = -1;
        long feeder() const { return begin_node >= 0 ? begin_node : entry; }
    };

    // The region's column: its own node and its implicit tasks (its
    // children) that have no edges; with ports, its begin and end nodes.
    region_layout lay_out_region(std::size_t r, const std::vector<char>& linked, std::vector<char>& placed) {
        region_layout layout;
        if (composite_[r] >= 0) {
            std::vector<long> structure;
            for (std::size_t c : objects_[static_cast<std::size_t>(composite_[r])].children)
                if (node_[c] && container_[c] == static_cast<long>(r)) structure.push_back(static_cast<long>(c));
            if (!structure.empty()) layout.begin_node = structure.front();
            if (structure.size() > 1) layout.end_node = structure.back();
        }
        for (long n : {layout.begin_node, layout.end_node})
            if (n >= 0) placed[static_cast<std::size_t>(n)] = 1;
        if (!node_[r]) return layout;
        layout.entry = static_cast<long>(r);
        std::vector<long>& column = same_rank_[layout.entry];
        column.push_back(layout.entry);
        placed[r] = 1;
        for (std::size_t m : contents_[layout.entry]) {
            if (node_[m] && !placed[m] && !linked[m] && objects_[m].parent_object == layout.entry) {
                column.push_back(static_cast<long>(m));
                placed[m] = 1;
            }
        }
        return layout;
    }

    // Rows of about twice as many rows as columns (nodes are wider than
    // tall) for the nodes of one box, or of the top, that no edge touches.
    void wrap_loose_nodes(const std::vector<std::size_t>& items, const std::vector<char>& linked,
                          const std::vector<char>& placed) {
        std::vector<long> loose;
        for (std::size_t i : items)
            if (node_[i] && !boxed_[i] && !linked[i] && !placed[i]) loose.push_back(static_cast<long>(i));
        if (loose.size() <= 6) return;
        const std::size_t columns =
            std::max<std::size_t>(3, static_cast<std::size_t>(std::ceil(std::sqrt(loose.size() / 2.0))));
        for (std::size_t k = 0; k + 1 < loose.size(); ++k) {
            if ((k + 1) % columns == 0) continue;
            invisible_.push_back({loose[k], loose[k + 1]});
            out_within_[loose[k]].push_back(loose[k + 1]);
            in_within_[loose[k + 1]].push_back(loose[k]);
        }
    }

    // Invisible edges that keep the region's ranks in order; returns its
    // last nodes, for the next region to follow.
    std::vector<long> link_region(std::size_t r, const region_layout& layout, const std::vector<char>& placed) {
        const long feeder = layout.feeder();
        if (layout.entry >= 0 && layout.begin_node >= 0) invisible_.push_back({layout.entry, layout.begin_node});
        if (feeder >= 0 && layout.end_node >= 0) invisible_.push_back({feeder, layout.end_node});
        std::vector<long> exits;
        for (std::size_t i : contents_[static_cast<long>(r)]) {
            const long m = static_cast<long>(i);
            if (!node_[i] || placed[i]) continue;
            if (feeder >= 0 && in_within_[m].empty()) invisible_.push_back({feeder, m});
            if (out_within_[m].empty()) {
                if (layout.end_node >= 0)
                    invisible_.push_back({m, layout.end_node});
                else
                    exits.push_back(m);
            }
        }
        if (layout.end_node >= 0) exits = {layout.end_node};
        if (exits.empty() && layout.entry >= 0) exits.push_back(layout.entry);
        return exits;
    }

    long container_of_node(long i) const { return container_[static_cast<std::size_t>(i)]; }

    void emit(std::ostream& out) {
        out << "digraph run {\n"
               "  graph [rankdir=LR, compound=true, newrank=true, fontname=\"Helvetica\", fontsize=10, nodesep=0.12, "
               "ranksep=0.3, labeljust=l, margin=0.1];\n"
               "  node [shape=box, style=\"rounded,filled\", fillcolor=\"#f4f6fa\", color=\"#56607a\", "
               "fontname=\"Helvetica\", fontsize=10, height=0.3, margin=\"0.08,0.03\"];\n"
               "  edge [color=\"#4a5160\", arrowsize=0.6];\n";
        if (options_.caption && summary_.drawn < summary_.nodes)
            out << "  label=" << quoted({graph_cap_note(summary_)}) << ";\n  labelloc=b;\n";
        max_total_ = 0;
        for (const node_statistics& n : run_.nodes) max_total_ = std::max(max_total_, n.stats.total());
        // Top level: the regions in the order they began, then the rest.
        std::vector<std::size_t> top = regions_;
        for (std::size_t i : top_)
            if (!(region_[i] && boxed_[i])) top.push_back(i);
        emit_items(top, 1, out);
        for (const drawn_edge& e : edges_) {
            out << "  " << end_text(e.from, e.from_port, ":e") << " -> " << end_text(e.to, e.to_port, ":w");
            if (critical_steps_.count({e.from, e.to})) out << " [color=\"" << critical_colour << "\", penwidth=2]";
            out << ";\n";
        }
        for (const auto& [from, to] : invisible_) out << "  n" << from << " -> n" << to << " [style=invis];\n";
        out << "}\n";
    }

    std::string end_text(long node, long port, const char* side) const {
        return "n" + std::to_string(node) + (port >= 0 ? ":p" + std::to_string(port) + side : "");
    }

    // Items are nodes and boxes; a box holds its own node, then its items.
    // Nesting comes from the trace, so the walk keeps its own stack.
    void emit_items(const std::vector<std::size_t>& top, std::size_t depth, std::ostream& out) {
        struct frame {
            const std::vector<std::size_t>* items;
            std::size_t next;
            std::size_t depth;
            long box;
        };
        std::vector<frame> stack{{&top, 0, depth, -1}};
        while (!stack.empty()) {
            frame& f = stack.back();
            if (f.next == f.items->size()) {
                const frame closed = f;
                stack.pop_back();
                if (stack.empty()) continue;
                const std::string indent(closed.depth * 2, ' ');
                if (auto column = same_rank_.find(closed.box); column != same_rank_.end() && column->second.size() > 1) {
                    out << indent << "{rank=same;";
                    for (long n : column->second) out << " n" << n << ";";
                    out << "}\n";
                }
                out << std::string(closed.depth * 2 - 2, ' ') << "}\n";
                continue;
            }
            const std::size_t i = (*f.items)[f.next++];
            const std::string indent(f.depth * 2, ' ');
            if (!boxed_[i]) {
                out << indent << node_text(i) << "\n";
                continue;
            }
            out << indent << "subgraph cluster_" << i << " {\n"
                << indent << "  label=" << quoted(box_label(i)) << ";\n"
                << indent << "  style=\"rounded,filled\"; fillcolor=\"#f8f9fc\"; color=\"#9aa3b2\";\n";
            if (node_[i]) out << indent << "  " << node_text(i) << "\n";
            stack.push_back({&contents_[static_cast<long>(i)], 0, f.depth + 1, static_cast<long>(i)});
        }
    }

    std::vector<std::string> box_label(std::size_t i) const {
        if (!region_[i]) return {one_line_name(i)};
        std::string label = "parallel region";
        if (i < region_number_.size() && region_number_[i] > 0) label += " " + std::to_string(region_number_[i]);
        const long composite = composite_[i];
        const graph_object& c = objects_[static_cast<std::size_t>(composite >= 0 ? composite : static_cast<long>(i))];
        if (c.has_code_address) label += " \xc2\xb7 " + hex_address(c.code_address);
        return {label};
    }

    std::string one_line_name(std::size_t i) const {
        const graph_object& o = objects_[i];
        std::string name = clean_text(o.name(), name_chars);
        if (o.has_code_address) name += " " + hex_address(o.code_address);
        return name;
    }

    std::vector<std::string> node_lines(std::size_t i) const {
        const graph_object& o = objects_[i];
        std::vector<std::string> lines{clean_text(o.name(), name_chars)};
        if (o.has_code_address) lines.push_back(hex_address(o.code_address));
        const long row = run_.node_row(i);
        // Nodes that never ran and have only their kind to go by differ by
        // identifier alone.
        if (row < 0 && o.label.empty() && !o.has_code_address) lines.push_back(id_text(o.id));
        if (row >= 0) {
            const duration_stats& stats = run_.nodes[static_cast<std::size_t>(row)].stats;
            std::string time = format_duration(stats.total());
            if (time.size() > 3 && time.compare(time.size() - 3, 3, " us") == 0) time.replace(time.size() - 2, 1, "\xc2\xb5");
            if (stats.count() > 1) time += " (" + thousands(stats.count()) + " runs)";
            lines.push_back(time);
        }
        return lines;
    }

    std::string node_text(std::size_t i) const {
        const long row = run_.node_row(i);
        std::string text = "n" + std::to_string(i) + " [";
        if (row >= 0) text += "id=\"node-" + std::to_string(row) + "\", ";
        bool dark = false;
        const std::string fill =
            row >= 0 ? heat_colour(max_total_ ? static_cast<double>(run_.total_of(i)) / max_total_ : 0, dark) : "#ffffff";
        if (shows_ports(i)) {
            text += "shape=plain, label=<" + ports_table(i, fill, dark) + ">";
        } else {
            text += "label=" + quoted(node_lines(i));
            if (row >= 0)
                text += ", fillcolor=\"" + fill + "\"";
            else
                text += ", style=\"rounded,filled,dashed\", fillcolor=\"#ffffff\"";  // never ran
            if (dark) text += ", fontcolor=\"#ffffff\"";
        }
        if (critical_[i]) text += std::string(", color=\"") + critical_colour + "\", penwidth=2.5";
        return text + "];";
    }

    // The node between its input ports (left) and output ports (right).
    std::string ports_table(std::size_t i, const std::string& fill, bool dark) const {
        std::vector<std::size_t> inputs, outputs;
        for (std::size_t p : objects_[i].ports)
            (starts_with(objects_[p].kind, "output_port") ? outputs : inputs).push_back(p);
        auto column = [&](const std::vector<std::size_t>& ports) {
            if (ports.empty()) return std::string("<td></td>");
            std::string cells = "<td><table border=\"0\" cellborder=\"1\" cellspacing=\"0\" cellpadding=\"1\">";
            for (std::size_t p : ports)
                cells += "<tr><td port=\"p" + std::to_string(p) + "\" bgcolor=\"#ffffff\"><font point-size=\"8\">" +
                         html_text(clean_text(objects_[p].name(), port_chars)) + "</font></td></tr>";
            return cells + "</table></td>";
        };
        std::string middle;
        for (const std::string& line : node_lines(i)) middle += (middle.empty() ? "" : "<br/>") + html_text(line);
        if (dark) middle = "<font color=\"#ffffff\">" + middle + "</font>";
        const std::string border = critical_[i] ? critical_colour : "#56607a";
        return "<table border=\"1\" cellborder=\"0\" cellspacing=\"2\" style=\"rounded\" color=\"" + border +
               "\" bgcolor=\"" + fill + "\"><tr>" + column(inputs) + "<td>" + middle + "</td>" + column(outputs) +
               "</tr></table>";
    }

    struct drawn_edge {
        long from, to;
        long from_port, to_port;
    };

    const run_analysis& run_;
    const run_model& model_;
    const run_model::object_list& objects_;
    const graph_drawing_options& options_;
    graph_drawing_summary summary_;

    std::vector<char> has_edge_;
    std::vector<state> state_;
    std::vector<long> stand_in_;   // of a hidden object: what is drawn for it, or -1
    std::vector<long> container_;  // of a drawn object: the box it is drawn in, or -1
    std::vector<char> region_;     // an OpenMP parallel region (its task group)
    std::vector<long> composite_;  // of a region: its composite node, hidden, or -1
    std::vector<long> region_memo_;
    std::vector<char> critical_;
    std::set<std::pair<long, long>> critical_steps_;
    std::vector<char> kept_;   // drawn within the cap
    std::vector<char> boxed_;  // drawn as a box around others
    std::vector<char> node_;   // drawn as a node (a box's own node included)
    std::unordered_map<long, std::vector<std::size_t>> contents_;  // box -> its items
    std::vector<std::size_t> top_;
    std::vector<std::size_t> regions_;  // top-level regions, in the order they began
    std::vector<std::size_t> region_number_;  // of each object: its place in regions_ from 1, or 0
    std::vector<drawn_edge> edges_;
    std::vector<std::pair<long, long>> invisible_;
    std::unordered_map<long, std::vector<long>> same_rank_;  // box -> a region's node and its implicit tasks
    std::unordered_map<long, std::vector<long>> out_within_, in_within_;  // edges inside one box, invisible ones too
    std::uint64_t max_total_ = 0;
};

}  // namespace

void recorded_edge_reader::begin_file(const trace_file& file, std::size_t) { process_ = file.process; }

void recorded_edge_reader::record(const trace_record& record) {
    if (record.kind == record_kind::relation && record.number(2) == is_predecessor_to)
        edges_.push_back({process_, record.id(1), record.id(3)});
}

graph_drawing_summary write_graph_dot(const run_analysis& run, const graph_drawing_options& options,
                                      std::ostream& out) {
    return graph_drawing(run, options).write(out);
}

std::string graph_cap_note(const graph_drawing_summary& summary) {
    if (summary.drawn >= summary.nodes) return "";
    return thousands(summary.drawn) + " of " + thousands(summary.nodes) +
           " nodes drawn: the critical path and those that took the most time (" +
           thousands(summary.nodes - summary.drawn) + " left out).";
}

}  // namespace mvt_trace
