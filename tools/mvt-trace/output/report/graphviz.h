#ifndef MVT_TRACE_OUTPUT_REPORT_GRAPHVIZ_H
#define MVT_TRACE_OUTPUT_REPORT_GRAPHVIZ_H

#include <string>

namespace mvt_trace {

struct graphviz_drawing {
    bool drawn = false;
    std::string svg;  // the <svg> element alone: no prolog, no comments
    std::string why;  // when not drawn, a sentence that says why
};

// Lays the DOT text out with Graphviz's `dot` program (looked up in PATH),
// run as a child with the text on its standard input and no shell between.
// A program that is missing, fails, or takes longer than `timeout_seconds`
// (it is then killed) gives no drawing and the reason.
graphviz_drawing draw_with_graphviz(const std::string& dot_text, int timeout_seconds = 60);

}  // namespace mvt_trace

#endif
