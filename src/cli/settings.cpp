#include "cli/settings.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "engine/run.h"

namespace tallox::cli {

BenchmarkSettings MakeSettings(const CliOptions& options, const std::string& filePath) {
    BenchmarkSettings settings;
    settings.filePath = filePath;
    settings.fileName = std::filesystem::path(filePath).filename().string();
    settings.codecs.clear();
    std::vector<int32_t> jpegQualities;  // given as jpeg:Q,...
    if (options.all) {
        for (const CodecEntry& entry : DefaultRegistry().Entries()) {
            if (entry.info.reportRow) {
                settings.codecs.push_back({entry.info.name, {}});
            }
        }
    }
    for (const std::string& list : options.all ? std::vector<std::string>() : options.codecLists) {
        Result<std::vector<CodecSetting>> parsed = ParseCodecList(list, DefaultRegistry());
        for (CodecSetting& setting : *parsed) {
            const bool explicitJpeg =
                setting.name == "jpeg" && list.find("jpeg:") != std::string::npos;
            if (explicitJpeg) {
                jpegQualities.push_back(static_cast<int32_t>(setting.values[0]));
            }
            // JPEG is selected once: its settings come from its sweep.
            if (setting.name == "jpeg" ? !settings.Selected("jpeg")
                                       : std::find(settings.codecs.begin(), settings.codecs.end(),
                                                   setting) == settings.codecs.end()) {
                settings.codecs.push_back(std::move(setting));
            }
        }
    }
    const std::vector<int32_t>& qualities =
        options.qualities.empty() ? jpegQualities : options.qualities;
    settings.iterations = options.iterations > 0 ? options.iterations : options.accurate ? 500 : 25;
    settings.jpegQuality = qualities.empty() ? 50 : qualities.front();
    if (qualities.size() > 1) {
        settings.jpegQualities = qualities;
    }
    settings.jpegSubsamplings = options.subsamplings;
    settings.jpegProgressive = options.progressive;
    settings.jpegOptimize = options.optimize;
    settings.warmup = options.warmup;
    settings.minimumSeconds = options.minimumSeconds;
    settings.maximumSeconds = options.maximumSeconds;
    settings.threads = options.threads;
    settings.samples = options.samples;
    settings.basis = options.bytes == "file"     ? BenchmarkSettings::Basis::File
                     : options.bytes == "pixels" ? BenchmarkSettings::Basis::Pixels
                                                 : BenchmarkSettings::Basis::Auto;
    const auto chosen = [&](const char* metric) {
        return ("," + options.metrics + ",").find(std::string(",") + metric + ",") !=
               std::string::npos;
    };
    settings.psnr = chosen("psnr");
    settings.ssim = chosen("ssim");
    settings.ssimulacra2 = chosen("ssimulacra2");
    settings.butteraugli = chosen("butteraugli");
    settings.verify = !options.noVerify;
    settings.measureDecoding = !options.noDecode;

    // The records open with a memcpy of the same input, the yardstick of every figure; the
    // report text has no line for it.
    settings.baseline = options.format != "text" || !options.plot.empty();
    return settings;
}

RdOptions MakeRdOptions(const CliOptions& options) {
    RdOptions rd;
    rd.reference = options.reference;
    if (!options.at.empty()) {
        rd.targets.clear();
        for (const std::string& text : options.at) {
            const Result<std::vector<QualityTarget>> targets = ParseQualityTargets(text);
            rd.targets.insert(rd.targets.end(), targets->begin(), targets->end());
        }
    }
    return rd;
}

OutputOptions MakeOutputOptions(const CliOptions& options, const BenchmarkSettings& settings,
                                bool corpus) {
    OutputOptions output;
    output.rd = MakeRdOptions(options);
    output.iterations = settings.iterations;
    output.format = *ReportFormatNamed(options.format);
    for (const PlannedRow& row : PlanRows(settings, DefaultRegistry())) {
        if (!row.entry->info.yardstick) {
            const CodecInfo& info = row.entry->info;
            const bool named = info.reportRow && row.label.starts_with(info.displayName + "\t");
            output.codecs.push_back(named || (info.reportRow && !row.jpeg)
                                        ? info.displayName
                                        : row.label.substr(0, row.label.find('\t')));
        }
    }
    output.crlf = options.crlf;
    output.progress = !options.noProgress && isatty(STDERR_FILENO) != 0;
    if (output.format == ReportFormat::Json || output.format == ReportFormat::JsonLines ||
        output.format == ReportFormat::Markdown) {
        output.context = CollectRunContext(corpus ? std::string() : settings.filePath);
    }
    return output;
}

}  // namespace tallox::cli
