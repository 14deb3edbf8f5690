#include "cli/output.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/records.h"
#include "engine/report.h"

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

void WriteOutput(std::string text, bool crlf, int& writeError) {
    if (!crlf) {
        std::erase(text, '\r');  // the report's "\r" stands only before "\n"
    }
    if (writeError == 0 && (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() ||
                            std::fflush(stdout) != 0)) {
        writeError = errno != 0 ? errno : EIO;
    }
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
      progress_(options_.progress, options_.codecs, options_.iterations) {}

void CliHost::Write(std::string text) {
    progress_.Clear();
    WriteOutput(std::move(text), options_.crlf, writeError_);
    progress_.Redraw();
}

void CliHost::Push(const std::string& report) {
    // The header is the report's first text; the rows follow as they finish.
    if (options_.format == Format::Text && !headerWritten_ && !report.empty()) {
        headerWritten_ = true;
        Write(kReportHeader);
    }
}

void CliHost::ShowMessage(const RunMessage& message) {
    progress_.Clear();
    std::fprintf(stderr, "%s\n", FormatMessage(message).c_str());
    failed_ = true;
}

// The header of the record formats printed row by row; empty for text and JSON.
std::string CliHost::RecordHeader() const {
    switch (options_.format) {
        case Format::Csv:
            return CsvHeader();
        case Format::Markdown:
            return MarkdownHeader(options_.context);
        case Format::Table:
            return TableHeader();
        case Format::Text:
        case Format::Json:
            break;
    }
    return {};
}

void CliHost::RowFinished(const Row& row) {
    if (!row.yardstick) {  // the memcpy yardstick is no codec of the bar's
        progress_.CodecFinished();
    }
    rows_.push_back(row);
    std::string text;
    if (!headerWritten_) {
        text = RecordHeader();
        headerWritten_ = !text.empty();
    }
    switch (options_.format) {
        case Format::Text:
            text += row.text;
            break;
        case Format::Csv:
            text += CsvRecord(row);
            break;
        case Format::Markdown:
            text += MarkdownRecord(row);
            break;
        case Format::Table:
            text += TableRecord(row);
            break;
        case Format::Json:
            return;  // written whole at the end
    }
    Write(text);
}

int CliHost::Finish() {
    if (options_.format == Format::Json) {
        Write(JsonDocument(options_.context, rows_) + "\n");
    } else if (!headerWritten_ && options_.format != Format::Text) {
        Write(RecordHeader());
    }
    progress_.Clear();
    if (writeError_ != 0) {
        std::fprintf(stderr, "%s\n",
                     FormatMessage({"cannot write the output", {}, writeError_}).c_str());
        return 1;
    }
    return failed_ ? 1 : 0;
}

}  // namespace tallox::cli
