#include "cli/output.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
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
    : enabled_(enabled && !codecs.empty()), codecs_(std::move(codecs)), iterations_(iterations) {}

void TerminalProgress::Stepped() {
    ++calls_;
    if (enabled_ && throttle_.Due()) {
        Draw();
    }
}

void TerminalProgress::CodecFinished() {
    Draw();
    if (current_ + 1 < codecs_.size()) {
        ++current_;
        calls_ = 0;
        rateCalls_ = -1;
    }
}

void TerminalProgress::Redraw() { Draw(); }

void TerminalProgress::Draw() {
    if (!enabled_) {
        return;
    }
    throttle_.Drew();
    constexpr int64_t kWidth = 30;
    const int64_t done = std::min(calls_, iterations_) * kWidth / iterations_;
    std::string line = "\r[" + std::string(static_cast<size_t>(done), '#') +
                       std::string(static_cast<size_t>(kWidth - done), '.') + "] " +
                       codecs_[current_] + "  " + Grouped(calls_) +
                       // Past the iterations, a minimum time keeps the codec calling.
                       (calls_ <= iterations_ ? " / " + Grouped(iterations_) : std::string()) +
                       " calls";
    const auto now = std::chrono::steady_clock::now();
    if (rateCalls_ < 0) {
        rateCalls_ = calls_;
        rateStart_ = now;
    } else if (calls_ > rateCalls_ && calls_ < iterations_) {
        const double seconds = std::chrono::duration<double>(now - rateStart_).count();
        const double perCall = seconds / static_cast<double>(calls_ - rateCalls_);
        const auto left =
            static_cast<int64_t>(std::ceil(perCall * static_cast<double>(iterations_ - calls_)));
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
    reporter_->End();
    progress_.Clear();
    return sink_.Status() != 0 || failed_ ? 1 : 0;
}

}  // namespace tallox::cli
