#include "cli/isolate.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <type_traits>

namespace tallox::cli {
namespace {

// A row as it crosses the pipe: numbers as they are, texts cut to their fields. At well under
// PIPE_BUF bytes, each record is written by one write() that no other write interleaves.
struct WireRow {
    char codec[16];
    char label[32];
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
};
static_assert(std::is_trivially_copyable_v<WireRow> && sizeof(WireRow) <= PIPE_BUF);

template <size_t N>
void Put(char (&field)[N], const std::string& text) {
    const size_t n = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

WireRow ToWire(const Row& row) {
    WireRow w{};
    Put(w.codec, row.codec);
    Put(w.label, row.label);
    Put(w.text, row.text);
    Put(w.error, row.error);
    w.iterations = row.iterations;
    w.inputBytes = row.inputBytes;
    w.outputBytes = row.outputBytes;
    w.verifiedBytes = row.verifiedBytes;
    w.elapsedSeconds = row.elapsedSeconds;
    w.framesPerSecond = row.framesPerSecond;
    w.ratio = row.ratio;
    w.calls = row.calls;
    w.mbpsMedian = row.mbpsMedian;
    w.mbpsBest = row.mbpsBest;
    w.decodeCalls = row.decodeCalls;
    w.decodeMbpsMedian = row.decodeMbpsMedian;
    w.memoryBytes = row.memoryBytes;
    w.verified = row.verified;
    w.jpeg = row.jpeg;
    w.psnrRgb = row.psnrRgb;
    w.psnrY = row.psnrY;
    w.ssim = row.ssim;
    w.bpp = row.bpp;
    return w;
}

Row FromWire(const WireRow& w) {
    Row row;
    row.codec = w.codec;
    row.label = w.label;
    row.text = w.text;
    row.error = w.error;
    row.iterations = w.iterations;
    row.inputBytes = w.inputBytes;
    row.outputBytes = w.outputBytes;
    row.verifiedBytes = w.verifiedBytes;
    row.elapsedSeconds = w.elapsedSeconds;
    row.framesPerSecond = w.framesPerSecond;
    row.ratio = w.ratio;
    row.calls = w.calls;
    row.mbpsMedian = w.mbpsMedian;
    row.mbpsBest = w.mbpsBest;
    row.decodeCalls = w.decodeCalls;
    row.decodeMbpsMedian = w.decodeMbpsMedian;
    row.memoryBytes = w.memoryBytes;
    row.verified = w.verified;
    row.jpeg = w.jpeg;
    row.psnrRgb = w.psnrRgb;
    row.psnrY = w.psnrY;
    row.ssim = w.ssim;
    row.bpp = w.bpp;
    return row;
}

// The child's side: measure, send each row whole, and leave without running the parent's
// exit handlers or flushing its stdio buffers.
[[noreturn]] void RunChild(int fd, const std::function<void(const RowSink&)>& measure) {
    bool sent = true;
    measure([&](const Row& row) {
        const WireRow w = ToWire(row);
        ssize_t n;
        do {
            n = write(fd, &w, sizeof w);
        } while (n < 0 && errno == EINTR);
        sent = sent && n == static_cast<ssize_t>(sizeof w);
    });
    _exit(sent ? 0 : 1);
}

std::string SignalName(int signal) {
    const char* abbreviation = sigabbrev_np(signal);
    return abbreviation != nullptr ? std::string("SIG") + abbreviation
                                   : "signal " + std::to_string(signal);
}

}  // namespace

std::optional<std::string> RunIsolated(const std::function<void(const RowSink&)>& measure,
                                       double timeoutSeconds, const RowSink& sink) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return std::string("cannot make a pipe (") + std::strerror(errno) + ")";
    }
    std::fflush(nullptr);  // nothing buffered is written twice
    const pid_t child = fork();
    if (child < 0) {
        const int error = errno;
        close(fds[0]);
        close(fds[1]);
        return std::string("cannot start a process (") + std::strerror(error) + ")";
    }
    if (child == 0) {
        close(fds[0]);
        RunChild(fds[1], measure);
    }
    close(fds[1]);

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(timeoutSeconds));
    bool timedOut = false;
    WireRow w{};
    size_t have = 0;
    for (;;) {
        int waitMs = -1;
        if (timeoutSeconds > 0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            waitMs = static_cast<int>(std::clamp<int64_t>(left.count(), 0, 1 << 30));
        }
        pollfd p{fds[0], POLLIN, 0};
        const int ready = poll(&p, 1, waitMs);
        if (ready == 0) {
            timedOut = true;
            kill(child, SIGKILL);
            break;
        }
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            kill(child, SIGKILL);  // it could not be watched
            break;
        }
        const ssize_t n = read(fds[0], reinterpret_cast<char*>(&w) + have, sizeof w - have);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;  // the child closed its end: it has ended
        }
        have += static_cast<size_t>(n);
        if (have == sizeof w) {
            sink(FromWire(w));
            have = 0;
        }
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (timedOut) {
        char text[64];
        std::snprintf(text, sizeof text, "timed out after %g s", timeoutSeconds);
        return text;
    }
    if (WIFSIGNALED(status)) {
        return "crashed (" + SignalName(WTERMSIG(status)) + ")";
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
        return "exited with status " + std::to_string(WEXITSTATUS(status));
    }
    return std::nullopt;
}

}  // namespace tallox::cli
