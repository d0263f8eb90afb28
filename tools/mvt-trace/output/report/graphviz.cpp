#include "output/report/graphviz.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

extern char** environ;

namespace mvt_trace {

namespace {

class pipe_pair {
public:
    pipe_pair() {
        if (::pipe2(ends_, O_CLOEXEC) != 0) ends_[0] = ends_[1] = -1;
    }
    ~pipe_pair() {
        close_read();
        close_write();
    }
    pipe_pair(const pipe_pair&) = delete;
    pipe_pair& operator=(const pipe_pair&) = delete;
    bool ok() const { return ends_[0] >= 0; }
    int read_end() const { return ends_[0]; }
    int write_end() const { return ends_[1]; }
    void close_read() { close_end(0); }
    void close_write() { close_end(1); }
    // The write end, no longer closed by this object.
    int release_write() {
        const int end = ends_[1];
        ends_[1] = -1;
        return end;
    }

private:
    void close_end(int k) {
        if (ends_[k] >= 0) ::close(ends_[k]);
        ends_[k] = -1;
    }
    int ends_[2];
};

// Ignores SIGPIPE while it lives: a child that quits early must not end
// this process through the pipe it no longer reads.
class sigpipe_ignored {
public:
    sigpipe_ignored() {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        ::sigemptyset(&ignore.sa_mask);
        ::sigaction(SIGPIPE, &ignore, &saved_);
    }
    ~sigpipe_ignored() { ::sigaction(SIGPIPE, &saved_, nullptr); }
    sigpipe_ignored(const sigpipe_ignored&) = delete;
    sigpipe_ignored& operator=(const sigpipe_ignored&) = delete;

private:
    struct sigaction saved_ {};
};

std::string first_line(const std::string& text) {
    std::string line = text.substr(0, text.find('\n'));
    return line.size() > 200 ? line.substr(0, 200) + "..." : line;
}

// Graphviz's SVG without what the page does not need: the XML prolog and
// the comments it writes before every node and edge. It writes every '-'
// as "&#45;"; plain, ids read as they were given ("node-3").
std::string bare_svg(const std::string& text) {
    const std::size_t start = text.find("<svg");
    if (start == std::string::npos) return "";
    std::string svg;
    svg.reserve(text.size() - start);
    for (std::size_t at = start; at < text.size();) {
        const std::size_t comment = text.find("<!--", at);
        if (comment == std::string::npos) {
            svg.append(text, at, std::string::npos);
            break;
        }
        svg.append(text, at, comment - at);
        const std::size_t end = text.find("-->", comment + 4);
        if (end == std::string::npos) break;
        at = end + 3;
        if (at < text.size() && text[at] == '\n') ++at;
    }
    for (std::size_t at = 0; (at = svg.find("&#45;", at)) != std::string::npos; ++at) svg.replace(at, 5, "-");
    return svg;
}

// Feeds `input` to the child and gathers its output until both pipes
// close or the deadline passes; false on the deadline. Closes `to_child`.
bool exchange(int to_child, int from_child, int errors_from_child, const std::string& input, std::string& output,
              std::string& errors, int timeout_seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
    std::size_t written = 0;
    int fds[3] = {to_child, from_child, errors_from_child};
    ::fcntl(to_child, F_SETFL, ::fcntl(to_child, F_GETFL) | O_NONBLOCK);
    char buffer[1 << 16];
    while (fds[1] >= 0 || fds[2] >= 0) {
        if (fds[0] >= 0 && written == input.size()) {
            ::close(fds[0]);
            fds[0] = -1;
        }
        pollfd polled[3];
        nfds_t count = 0;
        if (fds[0] >= 0) polled[count++] = {fds[0], POLLOUT, 0};
        for (int k = 1; k < 3; ++k)
            if (fds[k] >= 0) polled[count++] = {fds[k], POLLIN, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            if (fds[0] >= 0) ::close(fds[0]);
            return false;
        }
        const int ready = ::poll(polled, count, static_cast<int>(std::min<long long>(left.count(), 1000)));
        if (ready < 0 && errno != EINTR) break;
        for (nfds_t i = 0; ready > 0 && i < count; ++i) {
            if (polled[i].revents == 0) continue;
            if (polled[i].fd == fds[0]) {
                const ssize_t n = ::write(fds[0], input.data() + written, input.size() - written);
                if (n > 0) written += static_cast<std::size_t>(n);
                else if (n < 0 && errno != EAGAIN && errno != EINTR) written = input.size();  // it stopped reading
                continue;
            }
            const ssize_t n = ::read(polled[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                (polled[i].fd == fds[1] ? output : errors).append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                for (int k = 1; k < 3; ++k)
                    if (fds[k] == polled[i].fd) fds[k] = -1;
            }
        }
    }
    if (fds[0] >= 0) ::close(fds[0]);
    return true;
}

}  // namespace

graphviz_drawing draw_with_graphviz(const std::string& dot_text, int timeout_seconds) {
    graphviz_drawing result;
    pipe_pair input, output, errors;
    if (!input.ok() || !output.ok() || !errors.ok()) {
        result.why = std::string("Graphviz could not be started: ") + std::strerror(errno) + ".";
        return result;
    }
    sigpipe_ignored quiet;
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, input.read_end(), 0);
    ::posix_spawn_file_actions_adddup2(&actions, output.write_end(), 1);
    ::posix_spawn_file_actions_adddup2(&actions, errors.write_end(), 2);
    // The child gets SIGPIPE back as it would from a shell.
    posix_spawnattr_t attributes;
    ::posix_spawnattr_init(&attributes);
    sigset_t defaults;
    ::sigemptyset(&defaults);
    ::sigaddset(&defaults, SIGPIPE);
    ::posix_spawnattr_setsigdefault(&attributes, &defaults);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    char program[] = "dot";
    char format[] = "-Tsvg";
    char* argv[] = {program, format, nullptr};
    pid_t child = -1;
    const int spawned = ::posix_spawnp(&child, program, &actions, &attributes, argv, environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    if (spawned != 0) {
        result.why = spawned == ENOENT
                         ? "Graphviz's dot program was not found, so the graph is not drawn here (install graphviz; "
                           "'mvt-trace dot' writes the graph for drawing elsewhere)."
                         : std::string("Graphviz's dot could not be started: ") + std::strerror(spawned) + ".";
        return result;
    }
    input.close_read();
    output.close_write();
    errors.close_write();
    std::string svg, messages;
    const bool finished = exchange(input.release_write(), output.read_end(), errors.read_end(), dot_text, svg, messages,
                                   timeout_seconds);
    if (!finished) ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!finished) {
        result.why = "Graphviz's dot took longer than " + std::to_string(timeout_seconds) +
                     " s and was stopped; the graph is not drawn ('mvt-trace report --max-nodes' draws fewer nodes).";
    } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || (result.svg = bare_svg(svg)).empty()) {
        result.why = "Graphviz's dot failed" + (messages.empty() ? std::string(".") : ": " + first_line(messages));
        result.svg.clear();
    } else {
        result.drawn = true;
    }
    return result;
}

}  // namespace mvt_trace
