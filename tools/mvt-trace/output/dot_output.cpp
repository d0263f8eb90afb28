#include "output/dot_output.h"

#include "analysis/run_analysis.h"

namespace mvt_trace {

std::vector<file_report> write_dot(const std::vector<trace_file>& files, const std::vector<std::string>& directories,
                                   graph_drawing_options options, std::ostream& out) {
    const run_analysis run = analyze_run(files, directories);
    recorded_edge_reader recorded;
    if (options.ports) {
        visit_files(files, recorded, kind_bit(record_kind::relation));
        options.recorded_edges = &recorded.edges();
    }
    write_graph_dot(run, options, out);
    return run.reports;
}

}  // namespace mvt_trace
