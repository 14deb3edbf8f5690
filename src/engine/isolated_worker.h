// Measurements in a child process, so that a codec that crashes, exhausts memory or never
// returns costs its own record and not the whole run.
#pragma once
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>

#include "engine/run_host.h"

namespace tallox {

using RowSink = std::function<void(const Row& row)>;

// A child process that measures on request. It is forked at the first request, with the
// parent's state as it is then, and serves every request after it, so that a run of many short
// measurements pays for one fork and not one each; a child that crashed or was killed is
// replaced by a fresh fork at the next request.
class IsolatedWorker {
public:
    using Measure = std::function<void(uint64_t request, const RowSink& sink)>;

    // `measure` runs in the child; `timeoutSeconds` limits each request (0: no limit).
    IsolatedWorker(Measure measure, double timeoutSeconds);
    ~IsolatedWorker();
    IsolatedWorker(const IsolatedWorker&) = delete;
    IsolatedWorker& operator=(const IsolatedWorker&) = delete;

    // Has the child run measure(request): every row it hands to its sink comes back in packets
    // and goes to `sink` here as it arrives. The reason, when the child did not finish
    // the request: "crashed (SIGSEGV)" for a signal, "timed out after S s" when the request ran
    // longer than the limit and the child was killed, "exited with status N" otherwise.
    std::optional<std::string> Run(uint64_t request, const RowSink& sink);

private:
    using Clock = std::chrono::steady_clock;

    std::optional<std::string> Start();
    // The next packet, up to `capacity` bytes of it into `into`: its whole length, or why none
    // came by `deadline` (when requests have a limit), the child then reaped.
    std::variant<size_t, std::string> Receive(void* into, size_t capacity,
                                              Clock::time_point deadline);
    // Kills the child and waits for it; how it ended. Killing a child that has already ended
    // changes nothing of the way it ended.
    std::string Reap();

    Measure measure_;
    double timeoutSeconds_;
    pid_t child_ = -1;
    int socket_ = -1;       // the parent's end: requests out, records in
    bool batched_ = false;  // the calling thread made a batch thread, its children not
};

}  // namespace tallox
