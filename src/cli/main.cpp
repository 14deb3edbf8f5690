// tallox-cli: the benchmark without a window. Runs one benchmark over a bitmap and prints the
// report as it is written, or measures a corpus of files and folders with a summary per codec,
// or writes one encoder's exact output for inspection.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <QGuiApplication>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "charts/chart.h"
#include "cli/corpus.h"
#include "cli/encode.h"
#include "cli/output.h"
#include "cli/runs.h"
#include "engine/codec.h"
#include "engine/records.h"
#include "engine/reporters.h"
#include "engine/run.h"
#include "engine/run_context.h"
#include "platform/imaging.h"

namespace fs = std::filesystem;
using namespace tallox;

namespace {

// The bundled sample: installed beside the program's share folder, or in the source tree the
// program was built from.
std::string SamplePath() {
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/self/exe", error);
    if (!error) {
        const fs::path installed = exe.parent_path().parent_path() / "share/tallox/sample.bmp";
        if (fs::is_regular_file(installed, error)) {
            return installed.string();
        }
    }
    return TALLOX_SAMPLE_BUILD;
}

// The items of a comma-separated list; empty items are dropped.
std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> items;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find(',', start), text.size());
        if (end > start) {
            items.push_back(text.substr(start, end - start));
        }
        start = end + 1;
    }
    return items;
}

// One value of --codecs: a comma-separated list of codecs and their parameter values.
CLI::Validator CodecList() {
    return {[](std::string& text) -> std::string {
                const Result<std::vector<CodecSetting>> settings =
                    ParseCodecList(text, DefaultRegistry());
                return settings ? std::string() : settings.error().message;
            },
            "NAME[:V,...]"};
}

// Every codec: its kind, parameters and library, as a table or as JSON.
std::string CodecListing(bool json) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    std::string text =
        "codec      family   input   kind      parameters                             library\n";
    for (const CodecEntry& entry : DefaultRegistry().Entries()) {
        const CodecInfo& info = entry.info;
        nlohmann::ordered_json parameters = nlohmann::ordered_json::array();
        std::string described;
        for (const CodecParameter& parameter : info.parameters) {
            nlohmann::ordered_json p{{"name", parameter.name},
                                     {"minimum", parameter.minimum},
                                     {"maximum", parameter.maximum},
                                     {"default", parameter.fallback},
                                     {"whole", parameter.whole}};
            if (!parameter.choices.empty()) {
                p["choices"] = parameter.choices;
            }
            parameters.push_back(p);
            std::string range =
                FormatValue(parameter.minimum) + ".." + FormatValue(parameter.maximum);
            if (!parameter.choices.empty()) {
                range.clear();
                for (const double choice : parameter.choices) {
                    range.append(range.empty() ? "" : "|").append(FormatValue(choice));
                }
            }
            described.append(described.empty() ? "" : " ").append(parameter.name);
            described.append(" ").append(range).append(" (");
            described.append(FormatValue(parameter.fallback)).append(")");
        }
        list.push_back({{"name", info.name},
                        {"family", info.family},
                        {"input", CodecInputName(info.input)},
                        {"lossy", info.lossy},
                        {"yardstick", info.yardstick},
                        {"parameters", parameters},
                        {"library", info.library},
                        {"description", info.description}});
        char line[512];
        std::snprintf(line, sizeof line, "%-10s %-8s %-7s %-9s %-38s %s\n", info.name.c_str(),
                      info.family.c_str(), CodecInputName(info.input),
                      info.yardstick ? "yardstick"
                      : info.lossy   ? "lossy"
                                     : "lossless",
                      described.empty() ? "-" : described.c_str(),
                      info.library.empty() ? "tallox" : info.library.c_str());
        text += line;
    }
    return json ? list.dump(2) + "\n" : text;
}

// A whole number in plain decimal between `minimum` and `maximum`, leading zeros allowed. The
// option then receives the digits without their leading zeros, since the conversion that
// follows would read "010" as octal and "0x10" as hexadecimal.
CLI::Validator Decimal(int64_t minimum, int64_t maximum) {
    return {[minimum, maximum](std::string& text) -> std::string {
                if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
                    return "'" + text + "' is not a whole number";
                }
                const size_t first = std::min(text.find_first_not_of('0'), text.size() - 1);
                const std::string digits = text.substr(first);
                // Eighteen digits always fit in 64 bits; more are out of any range here.
                if (digits.size() > 18 || std::stoll(digits) < minimum ||
                    std::stoll(digits) > maximum) {
                    return "'" + text + "' is out of range (" + std::to_string(minimum) + " to " +
                           std::to_string(maximum) + ")";
                }
                text = digits;
                return {};
            },
            ""};
}

// A number of seconds in plain decimal, a fraction allowed ("0.5"), up to an hour.
CLI::Validator Seconds() {
    return {[](std::string& text) -> std::string {
                const size_t dot = text.find('.');
                const bool digits =
                    !text.empty() && text != "." &&
                    text.find_first_not_of("0123456789.") == std::string::npos &&
                    (dot == std::string::npos || text.find('.', dot + 1) == std::string::npos);
                if (!digits) {
                    return "'" + text + "' is not a number of seconds";
                }
                if (std::stod(text) > 3600) {
                    return "'" + text + "' is out of range (0 to 3600)";
                }
                return {};
            },
            ""};
}

// --quality: one quality, a list ("30,50,90") or a range with a step ("10-90:10"), each from 1
// to 100 in plain decimal. The qualities go to `qualities`, in the order given.
CLI::Validator QualityList(std::vector<int32_t>& qualities) {
    return {
        [&qualities](std::string& text) -> std::string {
            qualities.clear();
            // A quality in plain decimal; the reason when it is none.
            const auto number = [](const std::string& digits, int32_t& value) -> std::string {
                if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) {
                    return "'" + digits + "' is not a whole number";
                }
                const size_t first = std::min(digits.find_first_not_of('0'), digits.size() - 1);
                value = digits.size() - first > 3 ? 1000 : std::stoi(digits.substr(first));
                if (value < 1 || value > 100) {
                    return "'" + digits + "' is out of range (1 to 100)";
                }
                return {};
            };
            const size_t dash = text.find('-');
            if (dash != std::string::npos) {
                const size_t colon = text.find(':', dash);
                int32_t first = 0;
                int32_t last = 0;
                int32_t step = 1;
                if (!number(text.substr(0, dash), first).empty() ||
                    !number(text.substr(dash + 1, colon - dash - 1), last).empty() ||
                    (colon != std::string::npos && !number(text.substr(colon + 1), step).empty()) ||
                    last < first) {
                    return "'" + text + "' is not a range such as 10-90:10 (1 to 100)";
                }
                for (int32_t quality = first; quality <= last; quality += step) {
                    qualities.push_back(quality);
                }
                return {};
            }
            for (const std::string& item : SplitList(text)) {
                int32_t value = 0;
                if (std::string error = number(item, value); !error.empty()) {
                    return error;
                }
                qualities.push_back(value);
            }
            return qualities.empty() ? "the list is empty" : "";
        },
        "Q|Q,Q,...|FIRST-LAST:STEP"};
}

// --subsampling: a comma-separated list of 444, 422 and 420.
CLI::Validator SubsamplingList(std::vector<Subsampling>& subsamplings) {
    return {[&subsamplings](std::string& text) -> std::string {
                subsamplings.clear();
                for (const std::string& item : SplitList(text)) {
                    const Subsampling modes[] = {Subsampling::k444, Subsampling::k422,
                                                 Subsampling::k420};
                    const auto* mode =
                        std::find_if(std::begin(modes), std::end(modes),
                                     [&](Subsampling m) { return item == SubsamplingName(m); });
                    if (mode == std::end(modes)) {
                        return "'" + item + "' is not one of 444,422,420";
                    }
                    subsamplings.push_back(*mode);
                }
                return subsamplings.empty() ? "the list is empty" : "";
            },
            "{444,422,420}"};
}

// --shard: "K/N" with 1 <= K <= N, both in plain decimal.
CLI::Validator ShardPart() {
    return {[](std::string& text) -> std::string {
                const size_t slash = text.find('/');
                const auto whole = [](const std::string& digits) {
                    return !digits.empty() && digits.size() <= 9 &&
                           digits.find_first_not_of("0123456789") == std::string::npos;
                };
                if (slash == std::string::npos || !whole(text.substr(0, slash)) ||
                    !whole(text.substr(slash + 1)) || std::stoi(text.substr(0, slash)) < 1 ||
                    std::stoi(text.substr(0, slash)) > std::stoi(text.substr(slash + 1))) {
                    return "'" + text + "' is not a part K/N of the corpus (1 <= K <= N)";
                }
                text = std::to_string(std::stoi(text.substr(0, slash))) + "/" +
                       std::to_string(std::stoi(text.substr(slash + 1)));
                return {};
            },
            ""};
}

int UsageError(const std::string& text) {
    std::fprintf(stderr, "tallox-cli: %s\n", text.c_str());
    return 2;
}

// Draws `rows` into `path`, SVG or PNG by its ending; false, said on stderr, when it cannot be
// written.
bool WritePlot(const std::string& path, const std::vector<Row>& rows, const std::string& subject,
               char** argv) {
    // Fonts for the chart's text come with a GUI application, which needs no display here.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    int noArguments = 1;
    QGuiApplication application(noArguments, argv);
    const QString title = ChartTitle(subject);
    const bool svg = fs::path(path).extension() == ".svg";
    if (!(svg ? WriteChartSvg(path, rows, title) : WriteChartPng(path, rows, title))) {
        std::fprintf(stderr, "%s\n",
                     cli::FormatMessage({"cannot write the chart", path, errno}).c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Tallox image compression benchmark.\n"
        "Measures how fast JPEG (libjpeg-turbo), five lossless encoders of its own (RLE,\n"
        "Huffman, Rice, LZ77, LZ77 Fast) and the general-purpose compressors (zstd, LZ4,\n"
        "Brotli, Deflate, xz) compress a file, and prints elapsed seconds, frames per second\n"
        "and compression ratio per codec. Without PATH the bundled sample image is used.\n"
        "Several files or a folder make a corpus: a record per file and codec, each codec\n"
        "measured in a child process, and a summary per codec at the end.",
        "tallox-cli"};
    bool version = false;
    bool verbose = false;
    app.add_flag("--version", version, "Print the version and exit (with --verbose, the context)");
    bool listCodecs = false;
    app.add_flag("--list-codecs", listCodecs,
                 "List every codec with its family, input, parameters (range, default) and "
                 "library, and exit (as JSON with --format json)");
    app.add_flag("--verbose", verbose,
                 "With --version: also the machine, build, timer and SIMD target");
    app.footer(
        "Examples:\n"
        "  tallox-cli                                  default codecs on the sample image\n"
        "  tallox-cli --all --accurate photo.bmp       every codec, 500 iterations\n"
        "  tallox-cli --codecs rle,rice --format json  records as JSON\n"
        "  tallox-cli --codecs zstd:1,19,lz4,xz:6 --format table   library codecs at levels\n"
        "  tallox-cli --codecs zstd:1-19:3             a range of levels: 1, 4, ..., 19\n"
        "  tallox-cli --format table --min-time 1      per-call statistics, 1 s per codec\n"
        "  tallox-cli -r --all --timeout 60 images/    every bitmap under images/\n"
        "  tallox-cli encode huffman photo.bmp -o photo.huf\n"
        "  tallox-cli encode zstd:19 photo.bmp -o photo.bmp.zst\n"
        "  tallox-cli --shard 1/4 --output part1.jsonl images/   a quarter of the corpus\n"
        "  tallox-cli --shard 1/4 --resume part1.jsonl images/   go on after a kill\n"
        "  tallox-cli merge part*.jsonl -o all.json   the parts as one run\n"
        "Exit status: 0 success, 1 the run ended with a message (on stderr) or a record of a\n"
        "corpus failed, 2 usage error.");
    app.failure_message([](const CLI::App* self, const CLI::Error& error) {
        return "tallox-cli: " + CLI::FailureMessage::simple(self, error);
    });

    std::vector<std::string> paths;
    bool recursive = false;
    std::vector<std::string> includes{"*.bmp"};
    bool stopOnError = false;
    bool isolate = false;
    bool noIsolate = false;
    double timeoutSeconds = 0.0;
    std::vector<std::string> codecLists{"jpeg,rle,huffman,rice"};
    bool all = false;
    bool fast = false;
    bool accurate = false;
    int32_t iterations = 0;
    std::string quality = "50";
    std::vector<int32_t> qualities;
    std::string subsampling;
    std::vector<Subsampling> subsamplings;
    bool progressive = false;
    bool optimize = false;
    std::string plot;
    std::string format = "text";
    std::string outputPath;
    std::string resumePath;
    std::string shard;
    bool crlf = false;
    bool noProgress = false;
    int32_t warmup = 0;
    double minimumSeconds = 0.0;
    bool noVerify = false;
    bool noDecode = false;

    app.add_option("PATH", paths,
                   "Bitmaps or folders to measure (default: the bundled sample image)");
    auto* codecsOption =
        app.add_option("--codecs", codecLists,
                       "Comma-separated codecs, each with its parameter values: "
                       "zstd:1,19,lz4,brotli:5 (a value list), zstd:1-19:3 (a range), "
                       "xz:6:extreme=1 (a named parameter); see --list-codecs (default: "
                       "jpeg,rle,huffman,rice). The report's own codecs are measured first, in "
                       "their fixed order; the others follow in the order given")
            ->expected(1)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
            ->allow_extra_args(false)
            ->check(CodecList());
    app.add_flag("--all", all, "Measure the report's six codecs (JPEG and the five own encoders)")
        ->excludes(codecsOption);
    auto* fastFlag = app.add_flag("--fast", fast, "Fast metering: 25 iterations (default)");
    auto* accurateFlag = app.add_flag("--accurate", accurate, "Accurate metering: 500 iterations");
    fastFlag->excludes(accurateFlag);
    app.add_option("--iterations", iterations, "Iterations per codec, instead of --fast/--accurate")
        ->transform(Decimal(1, std::numeric_limits<int32_t>::max()))
        ->excludes(fastFlag)
        ->excludes(accurateFlag);
    app.add_option("--quality", quality,
                   "JPEG quality, 1 to 100 (default 50); a list (30,50,90) or a range (10-90:10) "
                   "measures one JPEG row per quality")
        ->transform(QualityList(qualities));
    app.add_option("--subsampling", subsampling,
                   "JPEG chroma subsampling, a list of 444, 422, 420 (default 420)")
        ->transform(SubsamplingList(subsamplings));
    app.add_flag("--progressive", progressive, "Progressive JPEG");
    app.add_flag("--optimize", optimize, "JPEG Huffman tables optimised for the image");
    app.add_option("--plot", plot,
                   "Draw the ratio against speed (and, for a quality sweep, PSNR and SSIM "
                   "against bits per pixel) into FILE.svg or FILE.png");
    app.add_option("--warmup", warmup,
                   "Untimed calls of each codec before its timed ones (default 0)")
        ->transform(Decimal(0, std::numeric_limits<int32_t>::max()));
    app.add_option("--min-time", minimumSeconds,
                   "Call each codec until at least this many seconds of calls are timed")
        ->transform(Seconds());
    app.add_flag("--no-verify", noVerify, "Do not decode and compare the lossless outputs");
    app.add_flag("--no-decode", noDecode, "Do not time the decoders");
    auto* formatOption =
        app.add_option("--format", format,
                       "Output: text (the report), csv, json, jsonl (JSON Lines: a line per "
                       "record as it is measured), markdown or table (per-call statistics); by "
                       "default the --output file's extension (.txt .csv .json .jsonl .md) or text")
            ->check(CLI::IsMember({"text", "csv", "json", "jsonl", "markdown", "table"}));
    app.add_option("--output", outputPath,
                   "Write the output to FILE instead of stdout, each record as it completes; a "
                   "FILE that exists is replaced")
        ->type_name("FILE");
    app.add_option("--resume", resumePath,
                   "Go on with the JSON Lines run that FILE holds (killed, or not yet begun), "
                   "given the same arguments: its records are kept and the rest appended")
        ->type_name("FILE.jsonl");
    app.add_option("--shard", shard,
                   "Measure the K-th of N parts of the corpus: every N-th file of the sorted "
                   "list, from the K-th on (merge the parts with 'tallox-cli merge')")
        ->type_name("K/N")
        ->check(ShardPart());
    app.add_flag("--crlf", crlf, "Keep the report's own \\r\\n line ends (text format)");
    app.add_flag("--no-progress", noProgress, "No progress bar on stderr");
    app.add_flag("-r,--recursive", recursive, "Walk the folders' subfolders too");
    app.add_option("--include", includes,
                   "Take the folders' files whose names match GLOB (default *.bmp; repeatable)")
        ->type_name("GLOB")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->allow_extra_args(false);
    app.add_flag("--stop-on-error", stopOnError,
                 "In a corpus, end the run at the first failed record");
    auto* isolateFlag = app.add_flag(
        "--isolate", isolate, "Measure each file and codec in a child process (corpus default)");
    auto* noIsolateFlag =
        app.add_flag("--no-isolate", noIsolate, "Measure the corpus in this process");
    isolateFlag->excludes(noIsolateFlag);
    app.add_option("--timeout", timeoutSeconds,
                   "Kill an isolated measurement of one file and codec after this many seconds")
        ->transform(Seconds())
        ->excludes(noIsolateFlag);

    EncodeOptions encode;
    CLI::App* encodeCommand = app.add_subcommand(
        "encode", "Write one codec's exact output bytes for FILE to OUT, as its row measured them");
    encodeCommand
        ->add_option("CODEC", encode.codec,
                     "A codec and its parameters, as --codecs takes them: zstd:19, xz:6, jpeg:75")
        ->required()
        ->check(CodecList());
    encodeCommand->add_option("FILE", encode.input, "Input file")->required();
    encodeCommand->add_option("-o,--output", encode.output, "Output file")->required();
    encodeCommand
        ->add_option("--rice-type", encode.riceType,
                     "Rice sample type: 1 signed 8, 2 unsigned 8, 3 signed 16, 4 unsigned 16, "
                     "7 signed 32 (default), 8 unsigned 32")
        ->transform(Decimal(1, 8))
        ->check(CLI::IsMember({1, 2, 3, 4, 7, 8}));
    encodeCommand->add_option("--quality", encode.quality, "JPEG quality, 1 to 100 (default 50)")
        ->transform(Decimal(1, 100));

    std::vector<std::string> mergeInputs;
    std::string mergeOutput;
    CLI::App* mergeCommand = app.add_subcommand(
        "merge",
        "Merge the results of a run's shards (JSON or JSON Lines) into one, its summaries computed "
        "again; fails when a record is missing or doubled");
    mergeCommand->add_option("FILES", mergeInputs, "The shards' result files")->required();
    mergeCommand
        ->add_option("-o,--output", mergeOutput, "The merged result: FILE.json or FILE.jsonl")
        ->required();

    // The parser would take "--codecs=" as "--codecs" and the next word.
    if (std::find(argv + 1, argv + argc, std::string_view("--codecs=")) != argv + argc) {
        return UsageError("--codecs: the list is empty");
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        return status == 0 ? 0 : 2;
    }

    if (listCodecs) {
        std::fputs(CodecListing(format == "json").c_str(), stdout);
        return 0;
    }
    if (version) {
        std::printf("tallox-cli %s\n", TALLOX_VERSION);
        if (verbose) {
            std::fputs(ContextText(CollectRunContext({})).c_str(), stdout);
        }
        return 0;
    }
    if (*encodeCommand) {
        return RunEncode(encode);
    }
    if (*mergeCommand) {
        return cli::RunMerge(mergeInputs, mergeOutput);
    }
    if (!resumePath.empty()) {
        if (formatOption->count() > 0 && format != "jsonl") {
            return UsageError("--resume takes JSON Lines, not --format " + format);
        }
        if (!outputPath.empty() && outputPath != resumePath) {
            return UsageError("--resume writes to its own file, not to --output " + outputPath);
        }
        format = "jsonl";
        outputPath = resumePath;
    } else if (formatOption->count() == 0 && !outputPath.empty()) {
        if (const std::optional<ReportFormat> byName = ReportFormatOfPath(outputPath)) {
            format = *byName == ReportFormat::JsonLines  ? "jsonl"
                     : *byName == ReportFormat::Markdown ? "markdown"
                     : *byName == ReportFormat::Csv      ? "csv"
                     : *byName == ReportFormat::Json     ? "json"
                                                         : "text";
        }
    }
    // "--codecs jpeg rle" leaves "rle" as the file: name the slip rather than the missing file.
    for (const std::string& file : paths) {
        struct stat status {};
        if (DefaultRegistry().Find(file) != nullptr && lstat(file.c_str(), &status) != 0 &&
            errno == ENOENT) {
            return UsageError("'" + file + "' is a codec name, not a file: " +
                              (codecsOption->count() > 0
                                   ? "list codecs with commas, --codecs " + codecLists.back() + ","
                                   : "choose codecs with --codecs ") +
                              file);
        }
    }
    // One path that is not a folder is one file's run; anything else is a corpus, and so are a
    // shard's and a resumed run's files, which need their records to name the file.
    std::error_code folderError;
    const bool corpus = paths.size() > 1 ||
                        (paths.size() == 1 && fs::is_directory(paths[0], folderError)) ||
                        !shard.empty() || !resumePath.empty();
    if (corpus && paths.empty()) {
        paths.push_back(SamplePath());
    }
    if (!corpus && (isolate || timeoutSeconds > 0)) {
        return UsageError(std::string(isolate ? "--isolate" : "--timeout") +
                          " applies to several files or a folder");
    }
    // A closed stdout fails every write; found now, before a file opened by the run takes its
    // descriptor.
    if (outputPath.empty() && fcntl(STDOUT_FILENO, F_GETFD) == -1) {
        std::fprintf(stderr, "%s\n",
                     cli::FormatMessage({"cannot write the output", {}, errno}).c_str());
        return 1;
    }
    ImagingSession imaging;  // for the run's image load and JPEG saves

    BenchmarkSettings settings;
    cli::OutputOptions output;
    settings.filePath = paths.empty() ? SamplePath() : paths[0];
    settings.fileName = fs::path(settings.filePath).filename().string();
    if (!corpus && settings.fileName.empty()) {
        return UsageError("'" + settings.filePath + "' names no file");
    }
    settings.codecs.clear();
    std::vector<int32_t> jpegQualities;  // given as jpeg:Q,...
    if (all) {
        for (const CodecEntry& entry : DefaultRegistry().Entries()) {
            if (entry.info.reportRow) {
                settings.codecs.push_back({entry.info.name, {}});
            }
        }
    }
    for (const std::string& list : all ? std::vector<std::string>() : codecLists) {
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
    if (!jpegQualities.empty() && qualities.empty()) {
        qualities = jpegQualities;
    }
    settings.iterations = iterations > 0 ? iterations : accurate ? 500 : 25;
    settings.jpegQuality = qualities.empty() ? 50 : qualities.front();
    if (qualities.size() > 1) {
        settings.jpegQualities = qualities;
    }
    settings.jpegSubsamplings = subsamplings;
    settings.jpegProgressive = progressive;
    settings.jpegOptimize = optimize;
    settings.warmup = warmup;
    settings.minimumSeconds = minimumSeconds;
    settings.verify = !noVerify;
    settings.measureDecoding = !noDecode;

    output.iterations = settings.iterations;
    output.format = *ReportFormatNamed(format);
    // The records open with a memcpy of the same input, the yardstick of every figure; the
    // report text has no line for it.
    settings.baseline = output.format != ReportFormat::Text || !plot.empty();
    for (const PlannedRow& row : PlanRows(settings, DefaultRegistry())) {
        if (!row.entry->info.yardstick) {
            const CodecInfo& info = row.entry->info;
            const bool named = info.reportRow && row.label.starts_with(info.displayName + "\t");
            output.codecs.push_back(named || (info.reportRow && !row.jpeg)
                                        ? info.displayName
                                        : row.label.substr(0, row.label.find('\t')));
        }
    }
    output.crlf = crlf;
    output.progress = !noProgress && isatty(STDERR_FILENO) != 0;
    if (output.format == ReportFormat::Json || output.format == ReportFormat::JsonLines ||
        output.format == ReportFormat::Markdown) {
        output.context = CollectRunContext(corpus ? std::string() : settings.filePath);
    }
    std::vector<std::string> files{settings.filePath};
    size_t corpusFiles = 1;  // before a shard takes its part
    if (corpus) {
        files = cli::CollectFiles(paths, recursive, includes);
        if (files.empty()) {
            std::fprintf(stderr, "tallox-cli: no file matches %s in the folders given\n",
                         includes.size() == 1 ? includes[0].c_str() : "the --include patterns");
            return 1;
        }
        corpusFiles = files.size();
        int k = 0;
        int n = 0;
        if (std::sscanf(shard.c_str(), "%d/%d", &k, &n) == 2) {
            files = cli::ShardFiles(files, k, n);
        }
    }
    // How the run was asked for, kept by JSON Lines so that --resume and merge can check it.
    std::vector<std::string> subsamplingNames;
    for (const Subsampling mode :
         subsamplings.empty() ? std::vector{Subsampling::k420} : subsamplings) {
        subsamplingNames.push_back(SubsamplingName(mode));
    }
    output.settings = nlohmann::ordered_json{
        {"codecs", all ? std::vector<std::string>{"--all"} : codecLists},
        {"iterations", settings.iterations},
        {"quality", settings.jpegQualities.empty() ? std::vector{settings.jpegQuality}
                                                   : settings.jpegQualities},
        {"subsampling", subsamplingNames},
        {"progressive", progressive},
        {"optimize", optimize},
        {"warmup", warmup},
        {"min_time", minimumSeconds},
        {"verify", settings.verify},
        {"decode", settings.measureDecoding},
        {"timeout", timeoutSeconds},
        {"shard", shard},
        {"corpus_files",
         corpusFiles}}.dump();
    cli::Resumption resumption;
    if (!resumePath.empty()) {
        const int status = cli::ReadResumption(
            resumePath, JsonLinesContext(output.context, output.settings, &files),
            DefaultRegistry(), resumption);
        if (status != 0) {
            return status;
        }
    }
    if (!outputPath.empty()) {
        std::error_code error;
        for (const std::string& file : files) {
            if (fs::equivalent(outputPath, file, error)) {
                std::fprintf(
                    stderr, "%s\n",
                    cli::FormatMessage({"the output would overwrite the input", outputPath})
                        .c_str());
                return 1;
            }
        }
        // Written in place, not through a temporary file: a killed run leaves its records. A
        // resumed file keeps its whole records and loses the rest.
        const int fd =
            open(outputPath.c_str(),
                 O_WRONLY | O_CREAT | O_CLOEXEC | (resumePath.empty() ? O_TRUNC : 0), 0666);
        output.stream = fd < 0 ? nullptr : fdopen(fd, "w");
        if (output.stream == nullptr ||
            (!resumePath.empty() && (ftruncate(fd, static_cast<off_t>(resumption.keptBytes)) != 0 ||
                                     lseek(fd, 0, SEEK_END) < 0))) {
            std::fprintf(
                stderr, "%s\n",
                cli::FormatMessage({"cannot write the output", outputPath, errno}).c_str());
            return 1;
        }
    }
    // The output file closed at the end, its last error said.
    const auto closed = [&](int status) {
        if (output.stream != stdout && std::fclose(output.stream) != 0 && status == 0) {
            std::fprintf(
                stderr, "%s\n",
                cli::FormatMessage({"cannot write the output", outputPath, errno}).c_str());
            return 1;
        }
        return status;
    };
    if (corpus) {
        std::vector<Row> records;
        cli::CorpusOptions options{stopOnError, !noIsolate, timeoutSeconds};
        options.recorded = resumePath.empty() ? nullptr : &resumption.recorded;
        const int exitStatus = closed(cli::RunCorpus(
            settings, files, options, output, PlatformImaging(), DefaultRegistry(), &records));
        // The corpus drawn as its summary: a point per codec at the totals' ratio and MB/s.
        const std::string count = "(" + std::to_string(files.size()) + " files)";
        fs::path folder = fs::path(paths[0]).lexically_normal();
        if (!folder.has_filename()) {
            folder = folder.parent_path();  // "images/" names "images"
        }
        const std::string subject =
            paths.size() == 1 ? folder.filename().string() + " " + count : count;
        if (!plot.empty() && !WritePlot(plot, SummaryRows(records), subject, argv)) {
            return 1;
        }
        return exitStatus;
    }
    cli::CliHost host(output);
    RunBenchmark(settings, host);
    const int exitStatus = closed(host.Finish());
    if (!plot.empty() && !WritePlot(plot, host.Rows(), settings.fileName, argv)) {
        return 1;
    }
    return exitStatus;
}
