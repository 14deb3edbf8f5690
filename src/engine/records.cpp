#include "engine/records.h"

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>

namespace tallox {
namespace {

using Json = nlohmann::ordered_json;

// Fixed notation with three decimals, as the report; non-finite values as the C library.
std::string Number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
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

// A field's value as text: strings as they are, fractions through `fraction`, and the words
// given for null, true and false.
std::string Text(const nlohmann::ordered_json& value, std::string (*fraction)(double),
                 const char* null, const char* yes, const char* no) {
    if (value.is_string()) {
        return value.get<std::string>();
    }
    if (value.is_null()) {
        return null;
    }
    if (value.is_boolean()) {
        return value.get<bool>() ? yes : no;
    }
    return value.is_number_float() ? fraction(value.get<double>()) : value.dump();
}

std::optional<double> DecodeMbps(const Row& row) {
    if (!row.decodeCalls) {
        return std::nullopt;
    }
    return row.decodeMbpsMedian;
}

// The record's fields in their order, as (name, JSON value); the text formats print the same.
Json Fields(const Row& r) {
    const auto optional = [](const auto& value) { return value ? Json(*value) : Json(nullptr); };
    return Json{
        {"codec", r.codec},
        {"iterations", r.iterations},
        {"input_bytes", r.inputBytes},
        {"output_bytes", r.outputBytes},
        {"elapsed_seconds", r.elapsedSeconds},
        {"frames_per_second", r.framesPerSecond},
        {"mb_per_second", MegabytesPerSecond(r)},
        {"ratio", r.ratio},
        {"calls", r.iterations},
        {"min_ms", r.calls.minMs},
        {"median_ms", r.calls.medianMs},
        {"mad_ms", r.calls.madMs},
        {"max_ms", r.calls.maxMs},
        {"mbps_median", r.mbpsMedian},
        {"mbps_best", r.mbpsBest},
        {"verified", optional(r.verified)},
        {"verified_bytes", r.verified ? Json(r.verifiedBytes) : Json(nullptr)},
        {"decode_mbps_median", optional(DecodeMbps(r))},
        {"memory_bytes", optional(r.memoryBytes)},
        {"quality", r.jpeg ? Json(r.jpeg->quality) : Json(nullptr)},
        {"subsampling", r.jpeg ? Json(SubsamplingName(r.jpeg->subsampling)) : Json(nullptr)},
        {"progressive", r.jpeg ? Json(r.jpeg->progressive) : Json(nullptr)},
        {"optimize", r.jpeg ? Json(r.jpeg->optimize) : Json(nullptr)},
        {"psnr_rgb", optional(r.psnrRgb)},
        {"psnr_y", optional(r.psnrY)},
        {"ssim", optional(r.ssim)},
        {"bpp", optional(r.bpp)}};
}

// A path under `key`, and under `key`_bytes_hex too when some of its bytes are not UTF-8.
void AddPath(Json& object, const std::string& key, const std::string& path) {
    object[key] = path;
    constexpr auto kReplace = Json::error_handler_t::replace;
    // Dropping the bytes that are not UTF-8 changes only a name that has some.
    if (Json(path).dump(-1, ' ', false, kReplace) !=
        Json(path).dump(-1, ' ', false, Json::error_handler_t::ignore)) {
        std::string hex;
        for (const unsigned char byte : path) {
            hex += "0123456789abcdef"[byte >> 4];
            hex += "0123456789abcdef"[byte & 15];
        }
        object[key + "_bytes_hex"] = hex;
    }
}

std::string Megabytes(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

}  // namespace

double MegabytesPerSecond(const Row& row) {
    return static_cast<double>(row.inputBytes) * row.iterations / 1e6 / row.elapsedSeconds;
}

std::string CsvHeader() {
    std::string header;
    const Json fields = Fields(Row{});
    for (const auto& field : fields.items()) {
        if (!header.empty()) {
            header += ',';
        }
        header += field.key();
    }
    return header + "\n";
}

std::string CsvRecord(const Row& r) {
    std::string line;
    const Json fields = Fields(r);
    for (const auto& field : fields.items()) {
        if (!line.empty()) {
            line += ',';
        }
        line += Text(field.value(), Precise, "", "true", "false");
    }
    return line + "\n";
}

std::string MarkdownHeader(const RunContext& context) {
    std::string text = "# Tallox " + context.version + "\n\n";
    for (const auto& line :
         {"- Input: `" + context.inputPath + "`, " + std::to_string(context.inputBytes) +
              " bytes, SHA-256 `" + context.inputSha256 + "`",
          "- Machine: " + context.machine.cpuModel + ", " +
              std::to_string(context.machine.logicalCores) + " logical cores, " +
              Megabytes(context.machine.memoryBytes) + ", " + context.machine.kernel,
          "- Build: " + context.compiler + ", " + context.buildType + ", SIMD " +
              context.simdTarget + ", " + context.jpegLibrary + ", Qt " + context.qt,
          "- Timer: resolution " + Precise(context.timerResolutionSeconds * 1e9) +
              " ns, stopwatch overhead " + Precise(context.stopwatchOverheadSeconds * 1e9) + " ns",
          "- Date: " + context.date}) {
        text += line + "\n";
    }
    text += "\n|";
    std::string rule = "\n|";
    const Json fields = Fields(Row{});
    for (const auto& field : fields.items()) {
        text += " " + field.key() + " |";
        rule += field.key() == "codec" ? "---|" : "---:|";
    }
    return text + rule + "\n";
}

std::string MarkdownRecord(const Row& r) {
    std::string line = "|";
    const Json fields = Fields(r);
    for (const auto& field : fields.items()) {
        line += ' ';
        line += Text(field.value(), Number, "-", "yes", "no");
        line += " |";
    }
    return line + "\n";
}

std::string JsonDocument(const RunContext& context, const std::vector<Row>& rows) {
    Json input = Json::object();
    AddPath(input, "path", context.inputPath);
    input["bytes"] = context.inputBytes;
    input["sha256"] = context.inputSha256;
    Json results = Json::array();
    for (const Row& row : rows) {
        results.push_back(Fields(row));
    }
    Json document{{"tallox", context.version},
                  {"machine",
                   {{"cpu", context.machine.cpuModel},
                    {"logical_cores", context.machine.logicalCores},
                    {"kernel", context.machine.kernel},
                    {"memory_bytes", context.machine.memoryBytes}}},
                  {"build",
                   {{"compiler", context.compiler},
                    {"build_type", context.buildType},
                    {"simd",
                     {{"rle", context.simdTarget},
                      {"rice", context.simdTarget},
                      {"lz77", context.simdTarget},
                      {"lz77fast", context.simdTarget}}},
                    {"libjpeg_turbo", context.jpegLibrary},
                    {"qt", context.qt}}},
                  {"timer",
                   {{"resolution_seconds", context.timerResolutionSeconds},
                    {"stopwatch_overhead_seconds", context.stopwatchOverheadSeconds}}},
                  {"input", input},
                  {"date", context.date}};
    AddPath(document, "file", context.inputPath);  // the input's path, for quick reading
    document["results"] = results;
    // Non-finite numbers (an empty file's 0 / 0 ratio) become null: JSON has no NaN.
    return document.dump(2, ' ', false, Json::error_handler_t::replace);
}

std::string TableHeader() {
    return "codec          ratio  enc MB/s  best MB/s  dec MB/s  spread  ok     memory\n";
}

std::string TableRecord(const Row& r) {
    const auto speed = [](double mbps) {
        char text[16];
        std::snprintf(text, sizeof text,
                      mbps >= 1e5   ? "%.0f"
                      : mbps >= 100 ? "%.1f"
                                    : "%.2f",
                      mbps);
        return std::string(text);
    };
    char line[160];
    const double spread = r.calls.medianMs > 0 ? 100.0 * r.calls.madMs / r.calls.medianMs : 0.0;
    std::snprintf(line, sizeof line, "%-12s %8s %9s %10s %9s %6.1f%%  %-3s %9s\n", r.codec.c_str(),
                  Number(r.ratio).c_str(), speed(r.mbpsMedian).c_str(), speed(r.mbpsBest).c_str(),
                  r.decodeCalls ? speed(r.decodeMbpsMedian).c_str() : "-", spread,
                  !r.verified   ? "-"
                  : *r.verified ? "yes"
                                : "NO",
                  r.memoryBytes ? Megabytes(*r.memoryBytes).c_str() : "unknown");
    if (!r.jpeg) {
        return line;
    }
    // The JPEG settings and the quality of the saved image, on a line of their own.
    const auto decibels = [](const std::optional<double>& value) {
        return !value ? std::string("-") : std::isinf(*value) ? std::string("inf") : Number(*value);
    };
    char quality[160];
    std::snprintf(quality, sizeof quality,
                  "  q%d %s%s%s  PSNR-Y %s dB  PSNR-RGB %s dB  SSIM %s  %s bpp\n", r.jpeg->quality,
                  SubsamplingName(r.jpeg->subsampling), r.jpeg->progressive ? " progressive" : "",
                  r.jpeg->optimize ? " optimized" : "", decibels(r.psnrY).c_str(),
                  decibels(r.psnrRgb).c_str(), r.ssim ? Fixed(*r.ssim, 4).c_str() : "-",
                  r.bpp ? Number(*r.bpp).c_str() : "-");
    return std::string(line) + quality;
}

std::string ContextText(const RunContext& context) {
    std::string text;
    const auto add = [&](const std::string& name, const std::string& value) {
        text += name + std::string(name.size() < 20 ? 20 - name.size() : 1, ' ') + value + "\n";
    };
    add("tallox", context.version);
    add("cpu", context.machine.cpuModel);
    add("logical cores", std::to_string(context.machine.logicalCores));
    add("kernel", context.machine.kernel);
    add("memory", Megabytes(context.machine.memoryBytes));
    add("compiler", context.compiler);
    add("build type", context.buildType);
    add("simd target", context.simdTarget);
    add("jpeg library", context.jpegLibrary);
    add("qt", context.qt);
    add("timer resolution", Precise(context.timerResolutionSeconds * 1e9) + " ns");
    add("stopwatch overhead", Precise(context.stopwatchOverheadSeconds * 1e9) + " ns");
    if (!context.inputPath.empty()) {
        add("input", context.inputPath);
        add("input bytes", std::to_string(context.inputBytes));
        add("input sha256", context.inputSha256);
    }
    add("date", context.date);
    return text;
}

}  // namespace tallox
