#include "cli/output.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

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

namespace {

// 1234567 as "1,234,567".
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

}  // namespace

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
                       codecs_[current_] + "  " + Grouped(calls_) + " / " + Grouped(iterations_) +
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
    if (!options_.crlf) {
        std::erase(text, '\r');  // the report's "\r" stands only before "\n"
    }
    progress_.Clear();
    if (writeError_ == 0 && (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() ||
                             std::fflush(stdout) != 0)) {
        writeError_ = errno != 0 ? errno : EIO;
    }
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

void CliHost::RowFinished(const Row& row) {
    progress_.CodecFinished();
    rows_.push_back(row);
    if (options_.format == Format::Text) {
        Write(row.text);
    } else if (options_.format == Format::Csv || options_.format == Format::Markdown) {
        std::string text;
        if (!headerWritten_) {
            text = options_.format == Format::Csv ? FormatCsvHeader() : FormatMarkdownHeader();
            headerWritten_ = true;
        }
        text += options_.format == Format::Csv ? FormatCsvRecord(row) : FormatMarkdownRecord(row);
        Write(text);
    }
}

int CliHost::Finish() {
    if (options_.format == Format::Json) {
        Write(FormatJson(options_.file, rows_) + "\n");
    } else if (!headerWritten_ &&
               (options_.format == Format::Csv || options_.format == Format::Markdown)) {
        Write(options_.format == Format::Csv ? FormatCsvHeader() : FormatMarkdownHeader());
    }
    progress_.Clear();
    if (writeError_ != 0) {
        std::fprintf(stderr, "%s\n",
                     FormatMessage({"cannot write the output", {}, writeError_}).c_str());
        return 1;
    }
    return failed_ ? 1 : 0;
}

double MegabytesPerSecond(const Row& row) {
    return static_cast<double>(row.inputBytes) * row.iterations / 1e6 / row.elapsedSeconds;
}

namespace {

// Fixed notation with three decimals, as the report; non-finite values as the C library.
std::string Number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

// A number for CSV and Markdown: finite values with enough digits to be exact to the
// microsecond, the report's "%.3f" otherwise being too coarse for fast codecs.
std::string Precise(double value) {
    if (!std::isfinite(value)) {
        return Number(value);
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

}  // namespace

std::string FormatCsvHeader() {
    return "codec,iterations,input_bytes,output_bytes,elapsed_seconds,frames_per_second,"
           "mb_per_second,ratio\n";
}

std::string FormatCsvRecord(const Row& r) {
    return r.codec + "," + std::to_string(r.iterations) + "," + std::to_string(r.inputBytes) + "," +
           std::to_string(r.outputBytes) + "," + Precise(r.elapsedSeconds) + "," +
           Precise(r.framesPerSecond) + "," + Precise(MegabytesPerSecond(r)) + "," +
           Precise(r.ratio) + "\n";
}

std::string FormatMarkdownHeader() {
    return "| Codec | Iterations | Input bytes | Output bytes | Elapsed (s) | Frames/s | MB/s | "
           "Ratio |\n"
           "|---|---:|---:|---:|---:|---:|---:|---:|\n";
}

std::string FormatMarkdownRecord(const Row& r) {
    return "| " + r.codec + " | " + std::to_string(r.iterations) + " | " +
           std::to_string(r.inputBytes) + " | " + std::to_string(r.outputBytes) + " | " +
           Number(r.elapsedSeconds) + " | " + Number(r.framesPerSecond) + " | " +
           Number(MegabytesPerSecond(r)) + " | " + Number(r.ratio) + " |\n";
}

std::string FormatJson(const std::string& file, const std::vector<Row>& rows) {
    // Non-finite numbers (an empty file's 0 / 0 ratio) become null: JSON has no NaN.
    nlohmann::ordered_json records = nlohmann::ordered_json::array();
    for (const Row& r : rows) {
        records.push_back({{"codec", r.codec},
                           {"iterations", r.iterations},
                           {"input_bytes", r.inputBytes},
                           {"output_bytes", r.outputBytes},
                           {"elapsed_seconds", r.elapsedSeconds},
                           {"frames_per_second", r.framesPerSecond},
                           {"mb_per_second", MegabytesPerSecond(r)},
                           {"ratio", r.ratio}});
    }
    using Json = nlohmann::ordered_json;
    Json document{{"file", file}};
    // Dropping the bytes that are not UTF-8 changes only a name that has some.
    constexpr auto kReplace = Json::error_handler_t::replace;
    if (Json(file).dump(-1, ' ', false, kReplace) !=
        Json(file).dump(-1, ' ', false, Json::error_handler_t::ignore)) {
        std::string hex;
        for (const unsigned char byte : file) {
            hex += "0123456789abcdef"[byte >> 4];
            hex += "0123456789abcdef"[byte & 15];
        }
        document["file_bytes_hex"] = hex;
    }
    document["results"] = records;
    return document.dump(2, ' ', false, kReplace);
}

}  // namespace tallox::cli
