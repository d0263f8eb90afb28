#include "output/dot_output.h"

#include "analysis/run_analysis.h"

namespace mvt_trace {

std::vector<file_report> write_dot(const std::vector<trace_file>& files, const std::vector<std::string>& directories,
                                   graph_drawing_options options, std::ostream& out) {
    const run_analysis run = analyze_run(files, directories);
    execution_starts starts(run.model);
    recorded_edge_reader recorded;
    std::vector<record_visitor*> readers{&starts};
    if (options.ports) readers.push_back(&recorded);
    visitor_fan_out both(readers);
    visit_files(files, both,
                kind_bit(record_kind::task_begin) | kind_bit(record_kind::region_begin) | kind_bit(record_kind::relation));
    options.recorded_edges = &recorded.edges();
    write_graph_dot(run, starts.first_begins(), options, out);
    return run.reports;
}

}  // namespace mvt_trace
