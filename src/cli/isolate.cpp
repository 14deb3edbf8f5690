#include "cli/isolate.h"

#include <poll.h>
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
#include <type_traits>
#include <utility>

namespace tallox::cli {
namespace {

// A row as it crosses from the child: numbers as they are, texts cut to their fields, each
// record one packet. The record that ends a request carries `end` alone.
struct WireRow {
    bool end;
    bool yardstick;
    int32_t threads;
    bool threadsShared;
    bool noisy;
    // The first kMaxSamples per-call times, when the run keeps them.
    uint32_t sampleCount;
    double samplesMs[4096];
    char basis[8];
    std::optional<double> ssimulacra2;
    std::optional<double> butteraugliMax;
    std::optional<double> butteraugli3Norm;
    std::optional<double> cpuUserSeconds;
    std::optional<double> cpuSystemSeconds;
    char codec[16];
    char label[32];
    char params[64];
    char library[64];
    char memorySource[16];
    char text[128];
    char error[512];
    int32_t iterations;
    uint32_t inputBytes;
    uint32_t outputBytes;
    uint32_t verifiedBytes;
    double elapsedSeconds;
    double framesPerSecond;
    double ratio;
    CallStatistics calls;
    double mbpsMedian;
    double mbpsBest;
    std::optional<CallStatistics> decodeCalls;
    double decodeMbpsMedian;
    std::optional<uint64_t> memoryBytes;
    std::optional<bool> verified;
    std::optional<JpegOptions> jpeg;
    std::optional<double> psnrRgb;
    std::optional<double> psnrY;
    std::optional<double> ssim;
    std::optional<double> bpp;
    std::optional<double> mpps;
};
static_assert(std::is_trivially_copyable_v<WireRow>);

template <size_t N>
void Put(char (&field)[N], const std::string& text) {
    const size_t n = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

// The figures, which Row and WireRow hold under the same names and types, copied either way.
template <typename From, typename To>
void CopyFigures(const From& from, To& to) {
    to.yardstick = from.yardstick;
    to.threads = from.threads;
    to.threadsShared = from.threadsShared;
    to.cpuUserSeconds = from.cpuUserSeconds;
    to.cpuSystemSeconds = from.cpuSystemSeconds;
    to.noisy = from.noisy;
    to.ssimulacra2 = from.ssimulacra2;
    to.butteraugliMax = from.butteraugliMax;
    to.butteraugli3Norm = from.butteraugli3Norm;
    to.iterations = from.iterations;
    to.inputBytes = from.inputBytes;
    to.outputBytes = from.outputBytes;
    to.verifiedBytes = from.verifiedBytes;
    to.elapsedSeconds = from.elapsedSeconds;
    to.framesPerSecond = from.framesPerSecond;
    to.ratio = from.ratio;
    to.calls = from.calls;
    to.mbpsMedian = from.mbpsMedian;
    to.mbpsBest = from.mbpsBest;
    to.decodeCalls = from.decodeCalls;
    to.decodeMbpsMedian = from.decodeMbpsMedian;
    to.memoryBytes = from.memoryBytes;
    to.verified = from.verified;
    to.jpeg = from.jpeg;
    to.psnrRgb = from.psnrRgb;
    to.psnrY = from.psnrY;
    to.ssim = from.ssim;
    to.bpp = from.bpp;
    to.mpps = from.mpps;
}

WireRow ToWire(const Row& row) {
    WireRow w{};
    Put(w.codec, row.codec);
    Put(w.label, row.label);
    Put(w.params, row.params);
    Put(w.library, row.library);
    Put(w.memorySource, row.memorySource);
    w.sampleCount = static_cast<uint32_t>(std::min<size_t>(row.samplesMs.size(), 4096));
    std::copy_n(row.samplesMs.begin(), w.sampleCount, w.samplesMs);
    Put(w.basis, row.basis);
    Put(w.text, row.text);
    Put(w.error, row.error);
    CopyFigures(row, w);
    return w;
}

Row FromWire(const WireRow& w) {
    Row row;
    row.codec = w.codec;
    row.label = w.label;
    row.params = w.params;
    row.library = w.library;
    row.memorySource = w.memorySource;
    row.samplesMs.assign(w.samplesMs, w.samplesMs + std::min<uint32_t>(w.sampleCount, 4096));
    row.basis = w.basis;
    row.text = w.text;
    row.error = w.error;
    CopyFigures(w, row);
    return row;
}

// One packet; false when the other end is gone.
template <typename Packet>
bool Send(int fd, const Packet& packet) {
    ssize_t n;
    do {
        n = send(fd, &packet, sizeof packet, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(sizeof packet);
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
        measure(request, [&](const Row& row) { sent = sent && Send(fd, ToWire(row)); });
        WireRow end{};
        end.end = true;
        if (!sent || !Send(fd, end)) {
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
        close(fds[0]);
        Serve(fds[1], measure_);
    }
    close(fds[1]);
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

std::optional<std::string> IsolatedWorker::Run(uint64_t request, const RowSink& sink) {
    if (child_ < 0) {
        if (std::optional<std::string> failure = Start()) {
            return failure;
        }
    }
    if (!Send(socket_, request)) {
        return Reap();
    }

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(timeoutSeconds_));
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
        WireRow w{};
        const ssize_t n = ready < 0 ? -1 : recv(socket_, &w, sizeof w, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        // The end of the stream, an error, or a packet that is not a record: the child is gone
        // or cannot be followed.
        if (n != static_cast<ssize_t>(sizeof w)) {
            return Reap();
        }
        if (w.end) {
            return std::nullopt;
        }
        sink(FromWire(w));
    }
}

}  // namespace tallox::cli
