#include "engine/records.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <type_traits>

namespace tallox {
namespace {

using Json = nlohmann::ordered_json;

// Fixed notation with three decimals, as the report; non-finite values as the C library.
std::string Number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

// A figure as Number gives it, or "-" for one that could not be measured.
std::string Measured(double value) { return std::isfinite(value) ? Number(value) : "-"; }

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
    // As "%.9g" prints it, without the C library's format parsing and locale.
    char text[64];
    const std::to_chars_result end =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, 9);
    return std::string(text, end.ptr);
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
Json Fields(const Row& r, bool corpus) {
    const auto optional = [](const auto& value) { return value ? Json(*value) : Json(nullptr); };
    std::pair<const char*, Json> named[] = {
        {"file", r.file},
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
        {"bpp", optional(r.bpp)},
        {"params", r.params},
        {"library", r.library},
        {"memory_source", r.memorySource.empty() ? Json(nullptr) : Json(r.memorySource)},
        {"threads", r.threads},
        {"mpps", optional(r.mpps)},
        {"threads_shared", r.threadsShared},
        {"cpu_user_seconds", optional(r.cpuUserSeconds)},
        {"cpu_system_seconds", optional(r.cpuSystemSeconds)},
        {"noisy", r.noisy},
        {"ssimulacra2", optional(r.ssimulacra2)},
        {"butteraugli_max", optional(r.butteraugliMax)},
        {"butteraugli_3norm", optional(r.butteraugli3Norm)},
        {"basis", r.basis.empty() ? Json(nullptr) : Json(r.basis)}};
    // Appended in order, without the lookups an insertion makes: the names differ.
    Json fields = Json::object();
    auto& object = fields.get_ref<Json::object_t&>();
    object.reserve(std::size(named) + 1);
    for (auto& [name, value] : std::span(named).subspan(corpus ? 0 : 1)) {
        object.emplace_back(name, std::move(value));
    }
    if (corpus) {
        if (!r.error.empty()) {
            // A failed record has no figures.
            for (auto& field : fields.items()) {
                if (field.key() != "file" && field.key() != "codec" && field.key() != "params" &&
                    field.key() != "library") {
                    field.value() = nullptr;
                }
            }
        }
        fields["error"] = r.error.empty() ? Json(nullptr) : Json(r.error);
    }
    return fields;
}

// A record of the JSON formats: its fields, and every timed call's time when the run kept them
// (--samples), which the text formats leave out.
Json JsonFields(const Row& r, bool corpus) {
    Json fields = Fields(r, corpus);
    if (!r.samplesMs.empty()) {
        fields["samples_ms"] = r.samplesMs;
    }
    return fields;
}

// A CSV field: quoted, its quotes doubled, when it holds a separator, a quote or a line end.
std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted.append(c == '"' ? 2 : 1, c);
    }
    quoted += '"';
    return quoted;
}

// A Markdown cell: its bars escaped, its line ends as spaces.
std::string MarkdownCell(const std::string& text) {
    std::string cell;
    for (const char c : text) {
        if (c == '|') {
            cell += '\\';
        }
        cell += c == '\r' || c == '\n' ? ' ' : c;
    }
    return cell;
}

std::string CsvLine(const Json& fields) {
    std::string line;
    for (const auto& field : fields.items()) {
        if (!line.empty()) {
            line += ',';
        }
        line += CsvField(Text(field.value(), Precise, "", "true", "false"));
    }
    return line + "\n";
}

std::string CsvHeaderLine(const Json& fields) {
    std::string header;
    for (const auto& field : fields.items()) {
        header += (header.empty() ? "" : ",") + field.key();
    }
    return header + "\n";
}

std::string MarkdownLine(const Json& fields) {
    std::string line = "|";
    for (const auto& field : fields.items()) {
        line += ' ';
        line += MarkdownCell(Text(field.value(), Number, "-", "yes", "no"));
        line += " |";
    }
    return line + "\n";
}

// The table header of `fields`, the first column (a name) aligned left and the figures right.
std::string MarkdownTableHeader(const Json& fields) {
    std::string text = "|";
    std::string rule = "\n|";
    for (const auto& field : fields.items()) {
        text += " " + field.key() + " |";
        const bool words = field.key() == "codec" || field.key() == "file" ||
                           field.key() == "error" || field.key() == "reference" ||
                           field.key() == "metric" || field.key() == "setting" ||
                           field.key() == "reason";
        rule += words ? "---|" : "---:|";
    }
    return text + rule + "\n";
}

// A figure of the summary: the ratio of the totals, and MB/s of the totals.
double TotalRatio(const CodecSummary& s) {
    return static_cast<double>(s.inputBytes) / static_cast<double>(s.outputBytes);
}
// Bits per pixel of the totals: NaN where no file was an image.
double TotalBpp(const CodecSummary& s) {
    return 8.0 * static_cast<double>(s.imageOutputBytes) / s.pixels;
}
double TotalMbps(const CodecSummary& s) {
    return static_cast<double>(s.inputBytes) / 1e6 / s.medianSeconds;
}

// A summary's figure, or nothing for a codec with no file measured: no ratio, no speed.
Json Figure(double value) { return std::isfinite(value) ? Json(value) : Json(nullptr); }

Json SummaryFields(const CodecSummary& s) {
    return Json{
        {"codec", s.codec},
        {"files", s.files},
        {"failed", s.failed},
        {"input_bytes", s.inputBytes},
        {"output_bytes", s.outputBytes},
        {"ratio", Figure(TotalRatio(s))},
        {"median_seconds", s.medianSeconds},
        {"mb_per_second", Figure(TotalMbps(s))},
        {"geomean_ratio", Figure(s.geomeanRatio)},
        {"geomean_mb_per_second", Figure(s.geomeanMbps)},
        {"quality", s.jpeg ? Json(s.jpeg->quality) : Json(nullptr)},
        {"subsampling", s.jpeg ? Json(SubsamplingName(s.jpeg->subsampling)) : Json(nullptr)},
        {"progressive", s.jpeg ? Json(s.jpeg->progressive) : Json(nullptr)},
        {"optimize", s.jpeg ? Json(s.jpeg->optimize) : Json(nullptr)},
        {"params", s.params},
        {"bpp", Figure(TotalBpp(s))}};
}

// The rate-distortion summary's records, as (name, JSON value) each: a file's figure, a mean
// over the files, a spread.
Json FileOrNull(const std::string& file) { return file.empty() ? Json(nullptr) : Json(file); }

Json BdRateFields(const RdFigure& f, const std::string& reference) {
    return Json{{"file", FileOrNull(f.file)},
                {"codec", f.codec},
                {"reference", reference},
                {"metric", f.metric},
                {"bd_rate_percent", f.value ? Json(*f.value) : Json(nullptr)},
                {"reason", f.reason.empty() ? Json(nullptr) : Json(f.reason)}};
}

Json BdRateMeanFields(const RdMean& m, const std::string& reference) {
    return Json{{"codec", m.codec},   {"reference", reference},
                {"metric", m.metric}, {"mean_bd_rate_percent", Figure(m.mean)},
                {"files", m.files},   {"files_without", m.without}};
}

Json BppAtFields(const RdFigure& f) {
    return Json{{"file", FileOrNull(f.file)},
                {"codec", f.codec},
                {"metric", f.metric},
                {"target", f.target},
                {"bpp", f.value ? Json(*f.value) : Json(nullptr)},
                {"reason", f.reason.empty() ? Json(nullptr) : Json(f.reason)}};
}

Json BppAtMeanFields(const RdMean& m) {
    return Json{{"codec", m.codec},           {"metric", m.metric}, {"target", m.target},
                {"mean_bpp", Figure(m.mean)}, {"files", m.files},   {"files_without", m.without}};
}

Json SpreadFields(const MetricSpread& s) {
    return Json{{"codec", s.codec},   {"setting", s.setting},   {"metric", s.metric},
                {"files", s.files},   {"mean", Figure(s.mean)}, {"sd", Figure(s.sd)},
                {"p5", Figure(s.p5)}, {"p50", Figure(s.p50)},   {"p95", Figure(s.p95)}};
}

// The summary as the JSON formats hold it.
Json RateDistortionJson(const RdSummary& rd) {
    Json object{{"reference", rd.reference},
                {"note", rd.note.empty() ? Json(nullptr) : Json(rd.note)}};
    const auto list = [&](const char* key, const auto& items, const auto& fields) {
        Json array = Json::array();
        for (const auto& item : items) {
            array.push_back(fields(item));
        }
        object[key] = array;
    };
    list("bd_rate", rd.bdRates, [&](const RdFigure& f) { return BdRateFields(f, rd.reference); });
    list("bd_rate_mean", rd.bdRateMeans,
         [&](const RdMean& m) { return BdRateMeanFields(m, rd.reference); });
    list("bpp_at", rd.bppAt, BppAtFields);
    list("bpp_at_mean", rd.bppAtMeans, BppAtMeanFields);
    list("spread", rd.spreads, SpreadFields);
    return object;
}

// A quality target as a column's name: "ssimulacra2=70".
std::string TargetName(const std::string& metric, double target) {
    char value[32];
    std::snprintf(value, sizeof value, "%g", target);
    return metric + "=" + value;
}

// The summary as aligned text, lines ended by `eol`: per file, a table of codecs against
// columns (the metrics, or the targets) and the reasons of its empty cells; then the means.
std::string RateDistortionLines(const RdSummary& rd, const char* eol) {
    std::string text = std::string(eol) + "Rate-distortion against " + rd.reference + eol;
    text += std::string(24 + rd.reference.size(), '-') + eol;
    if (!rd.note.empty()) {
        text += "Note: " + rd.note + eol;
    }
    const auto column = [](const std::string& name) {
        return std::max<size_t>(name.size(), 11) + 2;
    };
    const auto pad = [](std::string cell, size_t width, bool left) {
        const size_t fill = cell.size() < width ? width - cell.size() : 1;
        return left ? cell.append(fill, ' ') : std::string(fill, ' ') + cell;
    };
    // A table over `items`, which each name their column; `cell` gives an item's text. A
    // file's figures have their reasons below it.
    const auto table = [&](const auto& items, const auto& columnOf, const auto& cell) {
        std::vector<std::string> columns;
        std::vector<std::string> codecs;
        for (const auto& item : items) {
            if (std::find(columns.begin(), columns.end(), columnOf(item)) == columns.end()) {
                columns.push_back(columnOf(item));
            }
            if (std::find(codecs.begin(), codecs.end(), item.codec) == codecs.end()) {
                codecs.push_back(item.codec);
            }
        }
        std::string lines = pad("codec", 12, true);
        for (const std::string& name : columns) {
            lines += pad(name, column(name), false);
        }
        lines += eol;
        std::string why;
        for (const std::string& codec : codecs) {
            lines += pad(codec, 12, true);
            for (const std::string& name : columns) {
                const auto found = std::find_if(items.begin(), items.end(), [&](const auto& i) {
                    return i.codec == codec && columnOf(i) == name;
                });
                lines += pad(found == items.end() ? "" : cell(*found), column(name), false);
                if constexpr (std::is_same_v<std::decay_t<decltype(*found)>, RdFigure>) {
                    if (found != items.end() && !found->value) {
                        why += "  " + codec + " " + name + ": " + found->reason + eol;
                    }
                }
            }
            lines += eol;
        }
        return lines + why;
    };
    const auto metricOf = [](const auto& item) { return item.metric; };
    const auto targetOf = [](const auto& item) { return TargetName(item.metric, item.target); };
    const auto figure = [](const RdFigure& f) { return f.value ? Number(*f.value) : "-"; };
    const auto mean = [](const RdMean& m) {
        return Measured(m.mean) + " " + std::to_string(m.files) + "/" + std::to_string(m.without);
    };
    // Each file's figures of `all`, in their order, under the file's name.
    const auto perFile = [&](const std::vector<RdFigure>& all, const auto& columnOf,
                             const char* title) {
        std::string lines;
        for (size_t i = 0; i < all.size();) {
            size_t end = i;
            while (end < all.size() && all[end].file == all[i].file) {
                ++end;
            }
            lines += eol;
            lines += title;
            lines += all[i].file.empty() ? std::string() : ", " + all[i].file;
            lines += eol;
            lines += table(std::vector<RdFigure>(all.begin() + static_cast<std::ptrdiff_t>(i),
                                                 all.begin() + static_cast<std::ptrdiff_t>(end)),
                           columnOf, figure);
            i = end;
        }
        return lines;
    };
    if (!rd.bdRates.empty()) {
        text += perFile(rd.bdRates, metricOf, "BD-rate, % bits against the reference");
        if (rd.files > 1) {
            text += eol;
            text += "BD-rate, mean over the files (files with a figure/without)";
            text += eol + table(rd.bdRateMeans, metricOf, mean);
        }
    }
    if (!rd.bppAt.empty()) {
        text += perFile(rd.bppAt, targetOf, "bpp at equal quality");
        if (rd.files > 1) {
            text += eol;
            text += "bpp at equal quality, mean over the files (files with a figure/without)";
            text += eol + table(rd.bppAtMeans, targetOf, mean);
        }
    }
    if (!rd.spreads.empty()) {
        text += eol + std::string("Spread over the files") + eol;
        text += pad("codec", 12, true) + pad("setting", 16, true) + pad("metric", 18, true) +
                "files     mean       sd       p5      p50      p95" + eol;
        for (const MetricSpread& s : rd.spreads) {
            char figures[128];
            std::snprintf(figures, sizeof figures, "%5d %8s %8s %8s %8s %8s", s.files,
                          Measured(s.mean).c_str(), Measured(s.sd).c_str(), Measured(s.p5).c_str(),
                          Measured(s.p50).c_str(), Measured(s.p95).c_str());
            text += pad(s.codec, 12, true) + pad(s.setting, 16, true) + pad(s.metric, 18, true) +
                    figures + eol;
        }
    }
    return text;
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

// A row's name in the aligned table, padded to its 12 columns: the codec, or its label's name
// when it has parameters ("zstd -19 ×4"); JPEG's settings have a line of their own. The pad counts
// characters, not the bytes of their UTF-8.
std::string DisplayName(const std::string& codec, const std::string& label,
                        const std::string& params, bool jpeg, const std::string& suffix = {}) {
    // A codec without parameters keeps its name, and the thread count its label may carry:
    // "j2kll \u00d72".
    const std::string labelled = label.substr(0, label.find('\t'));
    const size_t times = labelled.rfind(" \u00d7");
    std::string name = (jpeg                         ? codec
                        : !params.empty()            ? labelled
                        : times == std::string::npos ? codec
                                                     : codec + labelled.substr(times)) +
                       suffix;
    const auto characters = static_cast<size_t>(
        std::count_if(name.begin(), name.end(), [](char c) { return (c & 0xC0) != 0x80; }));
    return name.append(characters < 12 ? 12 - characters : 0, ' ');
}

std::string Joined(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) {
        text.append(text.empty() ? "" : ", ").append(item);
    }
    return text;
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

std::string CsvHeader(bool corpus) { return CsvHeaderLine(Fields(Row{}, corpus)); }

std::string CsvRecord(const Row& r, bool corpus) { return CsvLine(Fields(r, corpus)); }

std::string MarkdownHeader(const RunContext& context, bool corpus) {
    std::string text = "# Tallox " + context.version + "\n\n";
    if (!corpus) {
        text += "- Input: `" + context.inputPath + "`, " + std::to_string(context.inputBytes) +
                " bytes, SHA-256 `" + context.inputSha256 + "`\n";
    }
    for (const auto& line :
         {"- Machine: " + context.machine.cpuModel + ", " +
              std::to_string(context.machine.logicalCores) + " logical cores, " +
              Megabytes(context.machine.memoryBytes) + ", " + context.machine.kernel,
          "- Build: " + context.compiler + ", " + context.buildType + ", SIMD " +
              context.simdTarget + ", " + context.jpegLibrary + ", Qt " + context.qt,
          "- Libraries: " + Joined(context.libraries),
          "- Timer: resolution " + Precise(context.timerResolutionSeconds * 1e9) +
              " ns, stopwatch overhead " + Precise(context.stopwatchOverheadSeconds * 1e9) + " ns",
          "- Conditions: pinning " + (context.pinning.empty() ? "-" : context.pinning) +
              ", governor " + (context.governor.empty() ? "-" : context.governor) +
              ", load average " +
              (context.loadAverage >= 0 ? Fixed(context.loadAverage, 2) : std::string("-")),
          "- Date: " + context.date}) {
        text += line + "\n";
    }
    return text + "\n" + MarkdownTableHeader(Fields(Row{}, corpus));
}

std::string MarkdownRecord(const Row& r, bool corpus) { return MarkdownLine(Fields(r, corpus)); }

namespace {

// The document's context: program, machine, build, timer.
Json ContextJson(const RunContext& context) {
    return Json{
        {"tallox", context.version},
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
          {"qt", context.qt},
          {"libraries", context.libraries}}},
        {"conditions",
         {{"pinning", context.pinning},
          {"governor", context.governor.empty() ? Json(nullptr) : Json(context.governor)},
          {"frequency_khz", context.frequencyKhz > 0 ? Json(context.frequencyKhz) : Json(nullptr)},
          {"load_average", context.loadAverage >= 0 ? Json(context.loadAverage) : Json(nullptr)},
          {"steal_seconds",
           context.runTicks ? Json(context.runTicks->StealSeconds()) : Json(nullptr)},
          {"steal_share",
           context.runTicks ? Json(context.runTicks->StealShare()) : Json(nullptr)}}},
        {"timer",
         {{"resolution_seconds", context.timerResolutionSeconds},
          {"stopwatch_overhead_seconds", context.stopwatchOverheadSeconds}}}};
}

// Non-finite numbers (an empty file's 0 / 0 ratio) become null: JSON has no NaN.
std::string Dump(const Json& document) {
    return document.dump(2, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

std::string JsonDocument(const RunContext& context, const std::vector<Row>& rows,
                         const RdSummary* rd) {
    Json input = Json::object();
    AddPath(input, "path", context.inputPath);
    input["bytes"] = context.inputBytes;
    input["sha256"] = context.inputSha256;
    Json results = Json::array();
    for (const Row& row : rows) {
        results.push_back(JsonFields(row, false));
    }
    Json document = ContextJson(context);
    document["input"] = input;
    document["date"] = context.date;
    AddPath(document, "file", context.inputPath);  // the input's path, for quick reading
    document["results"] = results;
    if (rd != nullptr && !rd->empty) {
        document["rate_distortion"] = RateDistortionJson(*rd);
    }
    return Dump(document);
}

std::string CorpusJsonDocument(const RunContext& context, const std::vector<std::string>& files,
                               const std::vector<Row>& rows,
                               const std::vector<CodecSummary>& summaries, const RdSummary* rd) {
    Json document = ContextJson(context);
    document["date"] = context.date;
    document["files"] = files;
    Json results = Json::array();
    for (const Row& row : rows) {
        results.push_back(JsonFields(row, true));
    }
    document["results"] = results;
    Json summary = Json::array();
    for (const CodecSummary& s : summaries) {
        summary.push_back(SummaryFields(s));
    }
    document["summary"] = summary;
    if (rd != nullptr && !rd->empty) {
        document["rate_distortion"] = RateDistortionJson(*rd);
    }
    return Dump(document);
}

namespace {

bool IsBaseline(const Row& row) { return row.yardstick; }

}  // namespace

std::vector<CodecSummary> SummarizeCodecs(const std::vector<Row>& rows) {
    std::vector<CodecSummary> summaries;
    std::vector<std::pair<double, int32_t>> logRatios;  // sum of logs, count; per summary
    std::vector<std::pair<double, int32_t>> logMbps;
    const auto add = [](std::pair<double, int32_t>& mean, double value) {
        if (std::isfinite(value) && value > 0) {
            mean.first += std::log(value);
            ++mean.second;
        }
    };
    for (const Row& row : rows) {
        if (IsBaseline(row)) {
            continue;
        }
        size_t i = 0;
        while (i < summaries.size() &&
               (summaries[i].codec != row.codec || summaries[i].label != row.label)) {
            ++i;
        }
        if (i == summaries.size()) {
            summaries.push_back({row.codec, row.label, row.params, row.jpeg});
            logRatios.emplace_back();
            logMbps.emplace_back();
        }
        CodecSummary& s = summaries[i];
        if (!row.error.empty()) {
            ++s.failed;
            continue;
        }
        ++s.files;
        s.jpeg = row.jpeg;
        s.inputBytes += row.inputBytes;
        s.outputBytes += row.outputBytes;
        s.medianSeconds += row.calls.medianMs / 1e3;
        if (row.bpp && *row.bpp > 0) {
            s.imageOutputBytes += row.outputBytes;
            s.pixels += 8.0 * row.outputBytes / *row.bpp;
        }
        add(logRatios[i], row.ratio);
        add(logMbps[i], row.mbpsMedian);
    }
    const auto mean = [](const std::pair<double, int32_t>& logs) {
        return logs.second > 0 ? std::exp(logs.first / logs.second) : std::nan("");
    };
    for (size_t i = 0; i < summaries.size(); ++i) {
        summaries[i].geomeanRatio = mean(logRatios[i]);
        summaries[i].geomeanMbps = mean(logMbps[i]);
    }
    return summaries;
}

std::vector<Row> SummaryRows(const std::vector<Row>& rows) {
    std::vector<Row> chart;
    CodecSummary baseline;
    for (const Row& row : rows) {
        if (IsBaseline(row)) {
            baseline.codec = row.codec;
            baseline.label = row.label;
            baseline.inputBytes += row.inputBytes;
            baseline.medianSeconds += row.calls.medianMs / 1e3;
        }
    }
    if (baseline.inputBytes > 0) {
        Row& row = chart.emplace_back();
        row.codec = baseline.codec;
        row.label = baseline.label;
        row.yardstick = true;
        row.mbpsMedian = TotalMbps(baseline);
    }
    for (const CodecSummary& s : SummarizeCodecs(rows)) {
        Row& row = chart.emplace_back();
        row.codec = s.codec;
        row.label = s.label;
        row.jpeg = s.jpeg;
        row.ratio = TotalRatio(s);
        row.mbpsMedian = TotalMbps(s);
    }
    return chart;
}

std::string SummaryText(const std::vector<CodecSummary>& summaries) {
    std::string text =
        "\r\nSummary\r\n"
        "------------------------------------------------------------------------------------------"
        "------------\r\n"
        "\t\tFiles\tFailed\tRatio\t\tMB/s\t\tGeo. ratio\tGeo. MB/s\tSeconds\t\tInput bytes\r\n"
        "------------------------------------------------------------------------------------------"
        "------------\r\n";
    // Each figure ends at the tab stop its header starts at; "-" stands for one not measured.
    const auto figure = [](const char* prefix, double value, const char* tabs) {
        return std::isfinite(value) ? prefix + Number(value) + tabs : std::string("-\t\t");
    };
    for (const CodecSummary& s : summaries) {
        char seconds[64];
        std::snprintf(seconds, sizeof seconds, "%.6f\t%llu\r\n", s.medianSeconds,
                      static_cast<unsigned long long>(s.inputBytes));
        text += s.label + std::to_string(s.files) + "\t" + std::to_string(s.failed) + "\t" +
                figure("1 : ", TotalRatio(s), "\t") + figure("", TotalMbps(s), "\t\t") +
                figure("1 : ", s.geomeanRatio, "\t") + figure("", s.geomeanMbps, "\t\t") + seconds;
    }
    return text;
}

std::string CsvSummary(const std::vector<CodecSummary>& summaries) {
    std::string text = "\n";
    text += CsvHeaderLine(SummaryFields(CodecSummary{}));
    for (const CodecSummary& s : summaries) {
        text += CsvLine(SummaryFields(s));
    }
    return text;
}

std::string MarkdownSummary(const std::vector<CodecSummary>& summaries) {
    std::string text = "\n## Summary\n\n" + MarkdownTableHeader(SummaryFields(CodecSummary{}));
    for (const CodecSummary& s : summaries) {
        text += MarkdownLine(SummaryFields(s));
    }
    return text;
}

std::string TableSummary(const std::vector<CodecSummary>& summaries) {
    std::string text =
        "\nSummary\n"
        "codec        files failed    ratio    bpp  MB/s total  geo. ratio  geo. MB/s   input "
        "bytes\n";
    for (const CodecSummary& s : summaries) {
        const std::string name = DisplayName(s.codec, s.label, s.params, s.jpeg.has_value(),
                                             s.jpeg ? " q" + std::to_string(s.jpeg->quality) + " " +
                                                          SubsamplingName(s.jpeg->subsampling)
                                                    : std::string());
        char line[200];
        std::snprintf(line, sizeof line, "%s %5d %6d %8s %6s %11s %11s %10s %13llu\n", name.c_str(),
                      s.files, s.failed, Measured(TotalRatio(s)).c_str(),
                      Measured(TotalBpp(s)).c_str(), Measured(TotalMbps(s)).c_str(),
                      Measured(s.geomeanRatio).c_str(), Measured(s.geomeanMbps).c_str(),
                      static_cast<unsigned long long>(s.inputBytes));
        text += line;
    }
    return text;
}

// The aligned table's columns: the name, ratio, bits per pixel, encode MB/s at the median and
// the best call, decode MB/s, spread, verified and memory, within 80 columns.
constexpr char kTableLine[] = "%s %7s %6s %9s %9s %9s %6.1f%%%c %-3s %8s\n";

std::string TableHeader() {
    return "codec          ratio    bpp  enc MB/s best MB/s  dec MB/s  spread  ok    memory\n";
}

std::string TableRecord(const Row& r) {
    if (!r.error.empty()) {
        char line[80];
        std::snprintf(line, sizeof line, "%s ",
                      DisplayName(r.codec, r.label, r.params, r.jpeg.has_value()).c_str());
        return line + ("error: " + r.error) + "\n";
    }
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
    std::snprintf(line, sizeof line, kTableLine,
                  DisplayName(r.codec, r.label, r.params, r.jpeg.has_value()).c_str(),
                  Number(r.ratio).c_str(), r.bpp ? Number(*r.bpp).c_str() : "-",
                  speed(r.mbpsMedian).c_str(), speed(r.mbpsBest).c_str(),
                  r.decodeCalls ? speed(r.decodeMbpsMedian).c_str() : "-", spread,
                  r.noisy ? '!' : ' ',
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

std::string JsonLinesContext(const RunContext& context, const std::string& settings,
                             const std::vector<std::string>* files) {
    Json line{{"type", "context"}, {"schema", kJsonLinesSchema}};
    line.update(ContextJson(context));
    if (files == nullptr) {
        Json input = Json::object();
        AddPath(input, "path", context.inputPath);
        input["bytes"] = context.inputBytes;
        input["sha256"] = context.inputSha256;
        line["input"] = input;
    }
    line["date"] = context.date;
    line["settings"] = settings.empty() ? Json::object() : Json::parse(settings);
    if (files != nullptr) {
        line["files"] = *files;
    }
    return line.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string JsonLinesRecord(const Row& row, const FileIdentity* file) {
    Json line{{"type", "record"}};
    Json fields = JsonFields(row, file != nullptr);
    for (auto& field : fields.items()) {
        line[field.key()] = std::move(field.value());
        if (field.key() == "file") {
            line["file_bytes"] = file->bytes;
            line["file_sha256"] = file->sha256;
        }
    }
    return line.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string JsonLinesSummary(const CodecSummary& summary) {
    Json line{{"type", "summary"}};
    line.update(SummaryFields(summary));
    return line.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string JsonLinesRateDistortion(const RdSummary& rd) {
    Json line{{"type", "rate_distortion"}};
    line.update(RateDistortionJson(rd));
    return line.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string RateDistortionText(const RdSummary& rd) { return RateDistortionLines(rd, "\r\n"); }

std::string RateDistortionTable(const RdSummary& rd) { return RateDistortionLines(rd, "\n"); }

std::string RateDistortionCsv(const RdSummary& rd) {
    std::string text;
    // A table after an empty line: its header from an empty item's fields, then its lines.
    const auto table = [&](const auto& items, const auto& fields, const auto& empty) {
        text += "\n" + CsvHeaderLine(fields(empty));
        for (const auto& item : items) {
            text += CsvLine(fields(item));
        }
    };
    const auto bdRate = [&](const RdFigure& f) { return BdRateFields(f, rd.reference); };
    const auto bdRateMean = [&](const RdMean& m) { return BdRateMeanFields(m, rd.reference); };
    table(rd.bdRates, bdRate, RdFigure{});
    table(rd.bdRateMeans, bdRateMean, RdMean{});
    table(rd.bppAt, BppAtFields, RdFigure{});
    table(rd.bppAtMeans, BppAtMeanFields, RdMean{});
    table(rd.spreads, SpreadFields, MetricSpread{});
    return text;
}

std::string RateDistortionMarkdown(const RdSummary& rd) {
    std::string text = "\n## Rate-distortion against " + rd.reference + "\n";
    if (!rd.note.empty()) {
        text += "\n" + rd.note + "\n";
    }
    const auto table = [&](const char* title, const auto& items, const auto& fields,
                           const auto& empty) {
        if (items.empty()) {
            return;
        }
        text += std::string("\n### ") + title + "\n\n" + MarkdownTableHeader(fields(empty));
        for (const auto& item : items) {
            text += MarkdownLine(fields(item));
        }
    };
    const auto bdRate = [&](const RdFigure& f) { return BdRateFields(f, rd.reference); };
    const auto bdRateMean = [&](const RdMean& m) { return BdRateMeanFields(m, rd.reference); };
    table("BD-rate", rd.bdRates, bdRate, RdFigure{});
    table("BD-rate, mean over the files", rd.bdRateMeans, bdRateMean, RdMean{});
    table("bpp at equal quality", rd.bppAt, BppAtFields, RdFigure{});
    table("bpp at equal quality, mean over the files", rd.bppAtMeans, BppAtMeanFields, RdMean{});
    table("Spread over the files", rd.spreads, SpreadFields, MetricSpread{});
    return text;
}

std::string JsonLinesEnd(const std::optional<CpuTicks>& runTicks) {
    const Json line{{"type", "end"},
                    {"steal_seconds", runTicks ? Json(runTicks->StealSeconds()) : Json(nullptr)},
                    {"steal_share", runTicks ? Json(runTicks->StealShare()) : Json(nullptr)}};
    return line.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string StealText(const std::optional<CpuTicks>& runTicks) {
    if (!runTicks) {
        return "-";
    }
    return Fixed(runTicks->StealSeconds(), 2) + " s, " + Fixed(runTicks->StealShare() * 100, 1) +
           " % of CPU time";
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
    add("libraries", Joined(context.libraries));
    add("timer resolution", Precise(context.timerResolutionSeconds * 1e9) + " ns");
    add("stopwatch overhead", Precise(context.stopwatchOverheadSeconds * 1e9) + " ns");
    if (!context.inputPath.empty()) {
        add("input", context.inputPath);
        add("input bytes", std::to_string(context.inputBytes));
        add("input sha256", context.inputSha256);
    }
    if (!context.pinning.empty()) {
        add("pinning", context.pinning);
    }
    add("governor", context.governor.empty() ? "-" : context.governor);
    add("load average", context.loadAverage >= 0 ? Fixed(context.loadAverage, 2) : "-");
    if (context.runTicks) {
        add("steal during run", StealText(context.runTicks));
    }
    add("date", context.date);
    return text;
}

}  // namespace tallox
