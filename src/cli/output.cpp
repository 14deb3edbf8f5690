#include "cli/output.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <string>

namespace tallox::cli {

std::string FormatMessage(const RunMessage& message) {
    std::string line = "tallox-cli: ";
    if (!message.file.empty()) {
        line += message.file + ": ";
    }
    line += message.text;
    if (message.systemError != 0) {
        line += std::string(" (") + std::strerror(message.systemError) + ")";
    }
    return line;
}

int OutputSink::Status() const {
    if (file_.Error() == 0) {
        return 0;
    }
    std::fprintf(stderr, "%s\n",
                 FormatMessage({"cannot write the output", {}, file_.Error()}).c_str());
    return 1;
}

std::string Grouped(int64_t value) {
    const std::string digits = std::to_string(value);
    std::string text;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            text += ',';
        }
        text += digits[i];
    }
    return text;
}

TerminalProgress::TerminalProgress(bool enabled, std::vector<std::string> codecs,
                                   int32_t iterations)
    : enabled_(enabled && !codecs.empty()), codecs_(std::move(codecs)), iterations_(iterations) {
    if (!enabled_) {
        return;
    }
    ticker_ = std::jthread([this](std::stop_token stop) {
        std::mutex sleeping;
        std::condition_variable_any wake;
        std::unique_lock lock(sleeping);
        while (!wake.wait_for(lock, stop, std::chrono::milliseconds(250), [] { return false; })) {
            if (Now() - lastDraw_.load(std::memory_order_relaxed) > 500'000'000) {
                const std::lock_guard guard(drawing_);
                if (shown_) {
                    DrawLocked(true);
                }
            }
        }
    });
}

TerminalProgress::~TerminalProgress() = default;  // the ticker is asked to stop and joined

int64_t TerminalProgress::Now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void TerminalProgress::Stepped() {
    // One writer: a plain store, no locked increment, inside the measured loop.
    calls_.store(calls_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    if (enabled_ && throttle_.Due()) {
        Draw();
    }
}

void TerminalProgress::CodecFinished() {
    Draw();
    const std::lock_guard guard(drawing_);
    if (current_ + 1 < codecs_.size()) {
        ++current_;
        calls_.store(0, std::memory_order_relaxed);
        rateCalls_ = -1;
    }
}

void TerminalProgress::Redraw() { Draw(); }

void TerminalProgress::Draw() {
    if (!enabled_) {
        return;
    }
    throttle_.Drew();
    const std::lock_guard guard(drawing_);
    DrawLocked(false);
}

void TerminalProgress::DrawLocked(bool ticking) {
    const int64_t calls = calls_.load(std::memory_order_relaxed);
    const int64_t now = Now();
    const int64_t running = (now - lastDraw_.load(std::memory_order_relaxed)) / 1'000'000'000;
    if (!ticking) {
        lastDraw_.store(now, std::memory_order_relaxed);
    }
    constexpr int64_t kWidth = 30;
    const int64_t done = std::min(calls, iterations_) * kWidth / iterations_;
    std::string line = "\r[" + std::string(static_cast<size_t>(done), '#') +
                       std::string(static_cast<size_t>(kWidth - done), '.') + "] " +
                       codecs_[current_] + "  " + Grouped(calls) +
                       // Past the iterations, a minimum time keeps the codec calling.
                       (calls <= iterations_ ? " / " + Grouped(iterations_) : std::string()) +
                       " calls";
    const auto clock = std::chrono::steady_clock::now();
    if (ticking) {
        line += "  this call " + std::to_string(running) + " s";
    } else if (rateCalls_ < 0) {
        rateCalls_ = calls;
        rateStart_ = clock;
    } else if (calls > rateCalls_ && calls < iterations_) {
        const double seconds = std::chrono::duration<double>(clock - rateStart_).count();
        const double perCall = seconds / static_cast<double>(calls - rateCalls_);
        const auto left =
            static_cast<int64_t>(std::ceil(perCall * static_cast<double>(iterations_ - calls)));
        char text[48];
        std::snprintf(text, sizeof text, "  %lld:%02lld left", static_cast<long long>(left / 60),
                      static_cast<long long>(left % 60));
        line += text;
    }
    line += "\033[K";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    shown_ = true;
}

void TerminalProgress::Clear() {
    const std::lock_guard guard(drawing_);
    if (shown_) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        shown_ = false;
    }
}

CliHost::CliHost(OutputOptions options)
    : options_(std::move(options)),
      progress_(options_.progress, options_.codecs, options_.iterations),
      sink_(
          options_, [this] { progress_.Clear(); }, [this] { progress_.Redraw(); }),
      reporter_(MakeReporter(options_.format, sink_)) {
    reporter_->Begin({options_.context, false, {}, options_.settings});
}

void CliHost::Push(const std::string& report) {
    // The run's first text: its input was found measurable, and the rows follow as they finish.
    if (!started_ && !report.empty()) {
        started_ = true;
        reporter_->FileStarted(options_.context.inputPath);
    }
}

void CliHost::ShowMessage(const RunMessage& message) {
    progress_.Clear();
    std::fprintf(stderr, "%s\n", FormatMessage(message).c_str());
    failed_ = true;
}

void CliHost::RowFinished(const Row& row) {
    if (!row.yardstick) {  // the memcpy yardstick is no codec of the bar's
        progress_.CodecFinished();
    }
    rows_.push_back(row);
    reporter_->Record(row);
}

int CliHost::Finish() {
    if (const RdSummary rd = SummarizeRateDistortion(rows_, options_.rd); !rd.empty) {
        reporter_->RateDistortion(rd);
    }
    reporter_->End(TicksSince(options_.context));
    progress_.Clear();
    return sink_.Status() != 0 || failed_ ? 1 : 0;
}

}  // namespace tallox::cli
