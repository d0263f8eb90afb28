#ifndef MVT_WRITER_RUN_END_H
#define MVT_WRITER_RUN_END_H

namespace writer {

class mvt_collector;

// When the run ends. A program that only calls the __itt_* functions ends
// at the exit handler that the library registers at load, as it always has.
// An OpenMP runtime that hosts the library as its tool delivers its last
// events, and then finalizes the tool, during its own exit-time shutdown:
// libomp does both from its ELF destructor, which runs in _dl_fini, after
// every exit handler. While such a runtime hosts the library the exit handler
// therefore leaves the end to the runtime's finalize. The library's own ELF
// destructor ends the run in case no finalize ever comes (a runtime that
// never finalizes, or one whose destructor runs later); with libomp it runs
// just after libomp's, because glibc orders the ELF destructors by
// dependencies and counts libomp's lookup of ompt_start_tool in the library
// as one.

// The exit handler: ends the run unless a hosting runtime is still to finish.
void end_run_at_exit(mvt_collector& collector) noexcept;

// An OpenMP runtime has initialised the library as its tool.
void host_runtime_started() noexcept;

// The hosting runtime has finalized the tool: ends the run when exit has
// begun; before that the program may still call in, and exit ends the run.
void host_runtime_finished(mvt_collector& collector) noexcept;

// The library's ELF destructor (process exit or dlclose): the bounded last
// resort, ends the run whatever else has happened.
void end_run_at_unload(mvt_collector& collector) noexcept;

}  // namespace writer

#endif
