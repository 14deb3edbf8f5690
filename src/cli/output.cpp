#include "cli/output.h"

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

namespace tallox::cli {

void TerminalProgress::Changed() {
    if (m_enabled) {
        Redraw();
    }
}

void TerminalProgress::Redraw() {
    if (!m_enabled) {
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
    if (line != m_lastLine || !m_shown) {
        std::fputs(line.c_str(), stderr);
        std::fflush(stderr);
        m_lastLine = line;
        m_shown = true;
    }
}

void TerminalProgress::Clear() {
    if (m_shown) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        m_shown = false;
    }
}

CliHost::CliHost(OutputOptions options)
    : m_options(std::move(options)), m_progress(m_options.progress) {}

void CliHost::Write(const std::string& text) {
    m_progress.Clear();
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    m_progress.Redraw();
}

void CliHost::Push(const std::string& report) {
    if (report.size() < m_printed) {
        m_printed = 0;  // the run cleared the report
    }
    if (m_options.format != Format::Text || report.size() == m_printed) {
        return;
    }
    std::string text = report.substr(m_printed);
    m_printed = report.size();
    if (!m_options.crlf) {
        std::string lf;
        lf.reserve(text.size());
        for (size_t i = 0; i < text.size(); ++i) {
            if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
                lf += text[i];
            }
        }
        text = std::move(lf);
    }
    Write(text);
}

void CliHost::ShowMessage(const std::string& text) {
    m_progress.Clear();
    std::fprintf(stderr, "tallox-cli: %s\n", text.c_str());
    m_failed = true;
}

void CliHost::Measured(const CodecResult& result) {
    m_results.push_back(result);
    if (m_options.format == Format::Csv || m_options.format == Format::Markdown) {
        std::string text;
        if (!m_headerWritten) {
            text = m_options.format == Format::Csv ? FormatCsvHeader() : FormatMarkdownHeader();
            m_headerWritten = true;
        }
        text += m_options.format == Format::Csv ? FormatCsvRecord(result)
                                                : FormatMarkdownRecord(result);
        Write(text);
    }
}

int CliHost::Finish() {
    m_progress.Clear();
    if (m_options.format == Format::Json) {
        const std::string json = FormatJson(m_options.file, m_results) + "\n";
        std::fwrite(json.data(), 1, json.size(), stdout);
    } else if (!m_headerWritten &&
               (m_options.format == Format::Csv || m_options.format == Format::Markdown)) {
        const std::string header =
            m_options.format == Format::Csv ? FormatCsvHeader() : FormatMarkdownHeader();
        std::fwrite(header.data(), 1, header.size(), stdout);
    }
    std::fflush(stdout);
    return m_failed ? 1 : 0;
}

double MegabytesPerSecond(const CodecResult& result) {
    return static_cast<double>(result.referenceBytes) * result.iterations / 1e6 /
           result.elapsedSeconds;
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

std::string FormatCsvRecord(const CodecResult& r) {
    return r.codec + "," + std::to_string(r.iterations) + "," + std::to_string(r.referenceBytes) +
           "," + std::to_string(r.outputBytes) + "," + Precise(r.elapsedSeconds) + "," +
           Precise(r.framesPerSecond) + "," + Precise(MegabytesPerSecond(r)) + "," +
           Precise(r.ratio) + "\n";
}

std::string FormatMarkdownHeader() {
    return "| Codec | Iterations | Input bytes | Output bytes | Elapsed (s) | Frames/s | MB/s | "
           "Ratio |\n"
           "|---|---:|---:|---:|---:|---:|---:|---:|\n";
}

std::string FormatMarkdownRecord(const CodecResult& r) {
    return "| " + r.codec + " | " + std::to_string(r.iterations) + " | " +
           std::to_string(r.referenceBytes) + " | " + std::to_string(r.outputBytes) + " | " +
           Number(r.elapsedSeconds) + " | " + Number(r.framesPerSecond) + " | " +
           Number(MegabytesPerSecond(r)) + " | " + Number(r.ratio) + " |\n";
}

std::string FormatJson(const std::string& file, const std::vector<CodecResult>& results) {
    // Non-finite numbers (an empty file's 0 / 0 ratio) become null: JSON has no NaN.
    nlohmann::ordered_json records = nlohmann::ordered_json::array();
    for (const CodecResult& r : results) {
        records.push_back({{"codec", r.codec},
                           {"iterations", r.iterations},
                           {"input_bytes", r.referenceBytes},
                           {"output_bytes", r.outputBytes},
                           {"elapsed_seconds", r.elapsedSeconds},
                           {"frames_per_second", r.framesPerSecond},
                           {"mb_per_second", MegabytesPerSecond(r)},
                           {"ratio", r.ratio}});
    }
    return nlohmann::ordered_json{{"file", file}, {"results", records}}.dump(2);
}

}  // namespace tallox::cli
