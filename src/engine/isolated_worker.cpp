#include "engine/isolated_worker.h"

#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <utility>
#include <variant>

#include "engine/wire_row.h"

namespace tallox {
namespace {

// One packet of `size` bytes; false when the other end is gone.
bool Send(int fd, const void* packet, size_t size) {
    ssize_t n;
    do {
        n = send(fd, packet, size, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(size);
}

// A row: its record, then its per-call times, kWireSamples to a packet.
bool SendRow(int fd, const Row& row) {
    const WireRow wire = ToWire(row);
    if (!Send(fd, &wire, sizeof wire)) {
        return false;
    }
    for (size_t at = 0; at < row.samplesMs.size(); at += kWireSamples) {
        const size_t n = std::min(kWireSamples, row.samplesMs.size() - at);
        if (!Send(fd, row.samplesMs.data() + at, n * sizeof(double))) {
            return false;
        }
    }
    return true;
}

// The child's side: one request at a time, each row sent whole as it comes and the request
// closed by a record that says so; it ends when the parent closes its end, without running the
// parent's exit handlers or flushing its stdio buffers.
[[noreturn]] void Serve(int fd, const IsolatedWorker::Measure& measure) {
    for (;;) {
        uint64_t request = 0;
        ssize_t n;
        do {
            n = recv(fd, &request, sizeof request, 0);
        } while (n < 0 && errno == EINTR);
        if (n != static_cast<ssize_t>(sizeof request)) {
            _exit(0);
        }
        bool sent = true;
        measure(request, [&](const Row& row) { sent = sent && SendRow(fd, row); });
        WireRow end{};
        end.end = true;
        if (!sent || !Send(fd, &end, sizeof end)) {
            _exit(1);
        }
    }
}

std::string SignalName(int signal) {
    const char* abbreviation = sigabbrev_np(signal);
    return abbreviation != nullptr ? std::string("SIG") + abbreviation
                                   : "signal " + std::to_string(signal);
}

}  // namespace

IsolatedWorker::IsolatedWorker(Measure measure, double timeoutSeconds)
    : measure_(std::move(measure)), timeoutSeconds_(timeoutSeconds) {}

IsolatedWorker::~IsolatedWorker() {
    if (child_ >= 0) {
        close(socket_);  // the child, waiting for a request, reads the end and leaves
        int status = 0;
        while (waitpid(child_, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (batched_) {
        const sched_param none{};
        sched_setscheduler(0, SCHED_OTHER, &none);
    }
}

std::optional<std::string> IsolatedWorker::Start() {
    int fds[2];
    // Packets keep each record whole, and a child that is gone is read as the end.
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0) {
        return std::string("cannot make a socket (") + std::strerror(errno) + ")";
    }
    std::fflush(nullptr);  // nothing buffered is written twice
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child < 0) {
        const int error = errno;
        close(fds[0]);
        close(fds[1]);
        return std::string("cannot start a process (") + std::strerror(error) + ")";
    }
    if (child == 0) {
        // A run killed outright takes its measurement with it, rather than leave it running.
        if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) {
            _exit(1);
        }
        const sched_param none{};
        if (batched_ && sched_setscheduler(0, SCHED_OTHER, &none) != 0) {
            _exit(1);
        }
        close(fds[0]);
        Serve(fds[1], measure_);
    }
    close(fds[1]);
    // The parent, woken by every packet of a row, would otherwise preempt the measuring child
    // at each: as a batch thread it runs once the child waits for its next request, two
    // switches of the CPU a request rather than two a packet. Only a normal thread is changed.
    if (!batched_ && sched_getscheduler(0) == SCHED_OTHER) {
        const sched_param none{};
        batched_ = sched_setscheduler(0, SCHED_BATCH, &none) == 0;
    }
    child_ = child;
    socket_ = fds[0];
    return std::nullopt;
}

std::string IsolatedWorker::Reap() {
    kill(child_, SIGKILL);
    close(socket_);
    int status = 0;
    while (waitpid(child_, &status, 0) < 0 && errno == EINTR) {
    }
    child_ = -1;
    socket_ = -1;
    if (WIFSIGNALED(status)) {
        return "crashed (" + SignalName(WTERMSIG(status)) + ")";
    }
    return "exited with status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
}

std::variant<size_t, std::string> IsolatedWorker::Receive(void* into, size_t capacity,
                                                          Clock::time_point deadline) {
    for (;;) {
        int waitMs = -1;
        if (timeoutSeconds_ > 0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            waitMs = static_cast<int>(std::clamp<int64_t>(left.count(), 0, 1 << 30));
        }
        pollfd p{socket_, POLLIN, 0};
        const int ready = poll(&p, 1, waitMs);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready == 0) {
            Reap();
            char text[64];
            std::snprintf(text, sizeof text, "timed out after %g s", timeoutSeconds_);
            return text;
        }
        // MSG_TRUNC: a packet longer than `capacity` gives its whole length.
        const ssize_t n = ready < 0 ? -1 : recv(socket_, into, capacity, MSG_TRUNC);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        // The end of the stream or an error: the child is gone or cannot be followed.
        if (n <= 0) {
            return Reap();
        }
        return static_cast<size_t>(n);
    }
}

std::optional<std::string> IsolatedWorker::Run(uint64_t request, const RowSink& sink) {
    if (child_ < 0) {
        if (std::optional<std::string> failure = Start()) {
            return failure;
        }
    }
    if (!Send(socket_, &request, sizeof request)) {
        return Reap();
    }
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(timeoutSeconds_));
    // A packet of another length than the one expected next: the child cannot be followed.
    const auto expect = [&](void* into, size_t size) -> std::optional<std::string> {
        std::variant<size_t, std::string> got = Receive(into, size, deadline);
        if (auto* failure = std::get_if<std::string>(&got)) {
            return std::move(*failure);
        }
        return std::get<size_t>(got) == size ? std::nullopt : std::optional(Reap());
    };
    for (;;) {
        WireRow w;
        if (std::optional<std::string> failure = expect(&w, sizeof w)) {
            return failure;
        }
        if (w.end) {
            return std::nullopt;
        }
        Row row = FromWire(w);
        while (row.samplesMs.size() < w.sampleCount) {
            const size_t at = row.samplesMs.size();
            const size_t n = std::min<uint64_t>(kWireSamples, w.sampleCount - at);
            row.samplesMs.resize(at + n);
            if (std::optional<std::string> failure =
                    expect(row.samplesMs.data() + at, n * sizeof(double))) {
                return failure;
            }
        }
        sink(row);
    }
}

}  // namespace tallox
