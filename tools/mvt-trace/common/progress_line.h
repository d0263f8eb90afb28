#ifndef MVT_TRACE_PROGRESS_LINE_H
#define MVT_TRACE_PROGRESS_LINE_H

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

namespace mvt_trace {

// One line on a terminal that tells how far a long reading has come:
// "reading 1.2 GB of 4.0 GB, 410 MB/s, 7 s left", redrawn in place and
// cleared when done. It appears only for work worth waiting on: a large
// input, or a reading that has already taken a while; and it is redrawn at
// most ten times a second, so that calling update() often costs a clock
// read.
class progress_line {
public:
    // Monotonic nanoseconds.
    using clock = std::function<std::uint64_t()>;

    static constexpr std::uint64_t large_input = 256'000'000;       // bytes
    static constexpr std::uint64_t slow_after = 1'000'000'000;      // ns
    static constexpr std::uint64_t redraw_every = 100'000'000;      // ns

    // Draws on `out` when `enabled`; `now` is the steady clock unless a test
    // gives its own.
    progress_line(std::ostream& out, bool enabled, clock now = {});
    ~progress_line();
    progress_line(const progress_line&) = delete;
    progress_line& operator=(const progress_line&) = delete;

    // On standard error, when that is a terminal and --quiet was not given.
    static bool wanted_on_standard_error(bool quiet);

    // `done` of `total` bytes read so far.
    void update(std::uint64_t done, std::uint64_t total);
    // Clears the line, if one is shown.
    void finish();

    bool shown() const { return shown_; }

    // The line's text; the rate and time left only when bytes_per_second is
    // not 0.
    static std::string text(std::uint64_t done, std::uint64_t total, std::uint64_t bytes_per_second);
    // "0 B", "950 B", "12.5 kB", "410 MB", "4.0 GB": decimal units, three
    // significant digits at most.
    static std::string bytes_text(std::uint64_t bytes);

private:
    std::ostream& out_;
    bool enabled_;
    clock now_;
    bool started_ = false;
    bool shown_ = false;
    std::uint64_t start_ = 0;
    std::uint64_t last_draw_ = 0;
};

}  // namespace mvt_trace

#endif
