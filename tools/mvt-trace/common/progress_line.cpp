#include "common/progress_line.h"

#include <unistd.h>

#include <chrono>

#include "common/saturating.h"

namespace mvt_trace {

namespace {

std::uint64_t steady_now() {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

// "7 s", "12 min": whole units, rounded up, so that the wait is never
// promised shorter than it is.
std::string time_text(std::uint64_t seconds) {
    if (seconds < 100) return std::to_string(seconds) + " s";
    if (seconds < 100 * 60) return std::to_string(ceil_div(seconds, 60)) + " min";
    return std::to_string(ceil_div(seconds, 3600)) + " h";
}

}  // namespace

progress_line::progress_line(std::ostream& out, bool enabled, clock now)
    : out_(out), enabled_(enabled), now_(now ? std::move(now) : clock(steady_now)) {}

progress_line::~progress_line() { finish(); }

bool progress_line::wanted_on_standard_error(bool quiet) { return !quiet && ::isatty(STDERR_FILENO) == 1; }

std::string progress_line::bytes_text(std::uint64_t bytes) {
    static const char* const units[] = {"B", "kB", "MB", "GB", "TB", "PB", "EB"};
    constexpr std::size_t unit_count = sizeof units / sizeof units[0];
    if (bytes < 1000) return std::to_string(bytes) + " B";
    // Rounded in integers, and a value that rounds up to 1000 of a unit is
    // shown in the next one: "1.0 MB", never "1000 kB".
    const auto rounded = [](std::uint64_t value, std::uint64_t divisor) {
        return value / divisor + (value % divisor >= divisor - divisor / 2 ? 1 : 0);
    };
    std::uint64_t scale = 1000;
    for (std::size_t unit = 1;; ++unit, scale *= 1000) {
        const bool last = unit + 1 == unit_count;
        if (!last && bytes / scale >= 1000) continue;
        const std::uint64_t tenths = rounded(bytes, scale / 10);
        if (tenths < 1000)
            return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " " + units[unit];
        const std::uint64_t whole = rounded(bytes, scale);
        if (whole < 1000 || last) return std::to_string(whole) + " " + units[unit];
    }
}

std::string progress_line::text(std::uint64_t done, std::uint64_t total, std::uint64_t bytes_per_second) {
    if (total < done) total = done;  // a file that grew while it was read
    std::string line = "reading " + bytes_text(done) + " of " + bytes_text(total);
    if (bytes_per_second == 0) return line;
    line += ", " + bytes_text(bytes_per_second) + "/s, " + time_text(ceil_div(total - done, bytes_per_second)) + " left";
    return line;
}

void progress_line::update(std::uint64_t done, std::uint64_t total) {
    if (!enabled_) return;
    const std::uint64_t now = now_();
    if (!started_) {
        started_ = true;
        start_ = now;
    }
    const std::uint64_t elapsed = saturating_sub(now, start_);
    if (total <= large_input && elapsed < slow_after) return;
    if (shown_ && saturating_sub(now, last_draw_) < redraw_every) return;
    // The rate needs a tenth of a second of history to mean anything.
    const std::uint64_t rate =
        elapsed < redraw_every ? 0 : static_cast<std::uint64_t>(static_cast<long double>(done) * 1e9L / elapsed);
    out_ << '\r' << text(done, total, rate) << "\x1b[K" << std::flush;
    shown_ = true;
    last_draw_ = now;
}

void progress_line::finish() {
    if (!shown_) return;
    out_ << "\r\x1b[K" << std::flush;
    shown_ = false;
}

}  // namespace mvt_trace
