#ifndef MVT_XML_SRC_XML_SUBTREE_WALK_H
#define MVT_XML_SRC_XML_SUBTREE_WALK_H

#include <cstddef>
#include <vector>

#include "mvt_xml/xml_element.h"

namespace xml {

enum class walk_step { descend, skip, stop };

// Visits `top` and its subtree in document order with an explicit stack
// instead of recursion, so a tree built by hand to any depth cannot exhaust
// the call stack. `enter` decides whether to go into an element's children;
// `leave` runs after the children of every element that was descended into.
// Node is element or const element.
template <class Node, class Enter, class Leave>
void walk_subtree(Node& top, Enter&& enter, Leave&& leave) {
    struct frame {
        Node* node;
        std::size_t next_child;
    };
    std::vector<frame> path;
    const walk_step first = enter(top);
    if (first != walk_step::descend) return;
    path.push_back({&top, 0});
    while (!path.empty()) {
        frame& current = path.back();
        if (current.next_child == current.node->child_elements.size()) {
            Node* finished = current.node;
            path.pop_back();
            leave(*finished);
            continue;
        }
        Node* child = current.node->child_elements[current.next_child++];
        if (child == nullptr) continue;
        const walk_step step = enter(*child);
        if (step == walk_step::stop) return;
        if (step == walk_step::descend) path.push_back({child, 0});
    }
}

// Visits the descendants of `top` in pre-order; `visit` returns false to stop.
template <class Node, class Visit>
void for_each_descendant(Node& top, Visit&& visit) {
    walk_subtree(
        top,
        [&](Node& e) {
            if (&e == &top) return walk_step::descend;
            return visit(e) ? walk_step::descend : walk_step::stop;
        },
        [](Node&) {});
}

}  // namespace xml

#endif
