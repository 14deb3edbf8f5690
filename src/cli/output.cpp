#include "cli/output.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

#include "engine/report.h"

namespace tallox::cli {

void TerminalProgress::Changed() {
    if (enabled_) {
        Redraw();
    }
}

void TerminalProgress::Redraw() {
    if (!enabled_) {
        return;
    }
    constexpr int kWidth = 40;
    const int span = Maximum() - Minimum();
    const int done = span > 0 ? (Position() - Minimum()) * kWidth / span : 0;
    std::string line = "\r[";
    for (int i = 0; i < kWidth; ++i) {
        line += i < done ? '#' : '.';
    }
    line += "] " + std::to_string(Position()) + " / " + std::to_string(Maximum());
    if (line != lastLine_ || !shown_) {
        std::fputs(line.c_str(), stderr);
        std::fflush(stderr);
        lastLine_ = line;
        shown_ = true;
    }
}

void TerminalProgress::Clear() {
    if (shown_) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        shown_ = false;
    }
}

CliHost::CliHost(OutputOptions options)
    : options_(std::move(options)), progress_(options_.progress) {}

void CliHost::Write(std::string text) {
    if (!options_.crlf) {
        std::erase(text, '\r');  // the report's "\r" stands only before "\n"
    }
    progress_.Clear();
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
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
    std::string line = "tallox-cli: ";
    if (!message.file.empty()) {
        line += message.file + ": ";
    }
    line += message.text;
    if (message.systemError != 0) {
        line += std::string(" (") + std::strerror(message.systemError) + ")";
    }
    std::fprintf(stderr, "%s\n", line.c_str());
    failed_ = true;
}

void CliHost::RowFinished(const Row& row) {
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
    progress_.Clear();
    if (options_.format == Format::Json) {
        const std::string json = FormatJson(options_.file, rows_) + "\n";
        std::fwrite(json.data(), 1, json.size(), stdout);
    } else if (!headerWritten_ &&
               (options_.format == Format::Csv || options_.format == Format::Markdown)) {
        const std::string header =
            options_.format == Format::Csv ? FormatCsvHeader() : FormatMarkdownHeader();
        std::fwrite(header.data(), 1, header.size(), stdout);
    }
    std::fflush(stdout);
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
    return nlohmann::ordered_json{{"file", file}, {"results", records}}.dump(2);
}

}  // namespace tallox::cli
