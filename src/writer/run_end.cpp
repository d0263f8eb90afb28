#include "writer/run_end.h"

#include <atomic>

#include "writer/mvt_collector.h"

namespace writer {

namespace {

constexpr unsigned runtime_hosting = 1;  // initialised as a tool, not yet finalized
constexpr unsigned exit_begun = 2;       // the exit handler has run

// Both transitions are single atomic steps, so when exit and finalize race
// exactly one of them sees the other and ends the run.
std::atomic<unsigned> phase{0};

}  // namespace

void end_run_at_exit(mvt_collector& collector) noexcept {
    if (phase.fetch_or(exit_begun) & runtime_hosting) return;
    collector.end_run();
}

void host_runtime_started() noexcept { phase.fetch_or(runtime_hosting); }

void host_runtime_finished(mvt_collector& collector) noexcept {
    if (phase.fetch_and(~runtime_hosting) & exit_begun) collector.end_run();
}

void end_run_at_unload(mvt_collector& collector) noexcept { collector.end_run(); }

}  // namespace writer
