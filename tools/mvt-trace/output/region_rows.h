#ifndef MVT_TRACE_REGION_ROWS_H
#define MVT_TRACE_REGION_ROWS_H

#include <cstdint>
#include <vector>

#include "model/trace_model.h"

namespace mvt_trace {

// Where each region goes among the region rows of the thread it began on:
// regions taken in order of begin, each in the first row free when it
// begins. Regions need not nest (a flow graph's overlap and end on other
// threads), so rows are found, not derived from depth. Uncapped: a drawing
// that shows fewer rows folds the rest into its last. `by_begin` is
// regions_by_begin(model).
std::vector<std::uint32_t> region_rows(const trace_model& model, const std::vector<std::uint32_t>& by_begin);

// The regions' indexes in order of begin, ties in the model's order.
std::vector<std::uint32_t> regions_by_begin(const trace_model& model);

}  // namespace mvt_trace

#endif
