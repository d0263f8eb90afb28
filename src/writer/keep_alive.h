#ifndef MVT_WRITER_KEEP_ALIVE_H
#define MVT_WRITER_KEEP_ALIVE_H

namespace writer {

// Records an allocation that lives until the process ends by design
// (wrappers, domains, string handles): it stays reachable from a global, so
// leak checkers see it as owned, and nothing ever frees it. Thread-safe and
// lock-free, so it can be used at any time, exit included.
void keep_for_process_lifetime(void* allocation) noexcept;

}  // namespace writer

#endif
