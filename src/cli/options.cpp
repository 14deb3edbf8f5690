#include "cli/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <limits>
#include <map>
#include <string_view>

#include "engine/codec.h"
#include "engine/rd_summary.h"

namespace tallox::cli {
namespace {

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

// --threads: a comma-separated list of thread counts from 1 to 256, in plain decimal.
CLI::Validator ThreadList(std::vector<int32_t>& threads) {
    return {[&threads](std::string& text) -> std::string {
                threads.clear();
                for (const std::string& item : SplitList(text)) {
                    const bool digits = !item.empty() && item.size() <= 3 &&
                                        item.find_first_not_of("0123456789") == std::string::npos;
                    const int32_t count = digits ? std::stoi(item) : 0;
                    if (count < 1 || count > 256) {
                        return "'" + item + "' is not a thread count (1 to 256)";
                    }
                    threads.push_back(count);
                }
                return threads.empty() ? "the list is empty" : "";
            },
            "N,N,..."};
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

// --reference: a lossy codec of the registry.
CLI::Validator LossyCodec() {
    return {[](std::string& text) -> std::string {
                std::string names;
                for (const CodecEntry& entry : DefaultRegistry().Entries()) {
                    if (entry.info.lossy) {
                        if (entry.info.name == text) {
                            return {};
                        }
                        names.append(names.empty() ? "" : ",").append(entry.info.name);
                    }
                }
                return "'" + text + "' is not a lossy codec: one of " + names;
            },
            ""};
}

// --at: METRIC=VALUE[,VALUE...].
CLI::Validator QualityTargets() {
    return {[](std::string& text) -> std::string {
                const Result<std::vector<QualityTarget>> targets = ParseQualityTargets(text);
                return targets ? std::string() : targets.error().message;
            },
            ""};
}

// The options of the lossy comparison, on the run and on merge alike.
void AddRateDistortionOptions(CLI::App& app, CliOptions& options) {
    app.add_option("--reference", options.reference,
                   "The lossy codec the others' BD-rates are measured against (default jpeg)")
        ->type_name("CODEC")
        ->check(LossyCodec());
    app.add_option("--at", options.at,
                   "Report the bpp each lossy codec needs for this quality, interpolated along "
                   "its sweep: METRIC=V[,V...] with METRIC one of " +
                       RdMetricNames() + " (repeatable; default ssimulacra2=70,80,90)")
        ->type_name("METRIC=V[,V...]")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->allow_extra_args(false)
        ->check(QualityTargets());
}

}  // namespace

int UsageError(const std::string& text) {
    std::fprintf(stderr, "tallox-cli: %s\n", text.c_str());
    return 2;
}

std::optional<int> ParseOptions(int argc, char** argv, CliOptions& options) {
    CLI::App app{
        "Tallox image compression benchmark.\n"
        "Measures how fast JPEG (libjpeg-turbo), five lossless encoders of its own (RLE,\n"
        "Huffman, Rice, LZ77, LZ77 Fast) and the general-purpose compressors (zstd, LZ4,\n"
        "Brotli, Deflate, xz) compress a file, and prints elapsed seconds, frames per second\n"
        "and compression ratio per codec. Without PATH the bundled sample image is used.\n"
        "Several files or a folder make a corpus: a record per file and codec, each codec\n"
        "measured in a child process, and a summary per codec at the end.",
        "tallox-cli"};
    app.add_flag("--version", options.version,
                 "Print the version and exit (with --verbose, the context)");
    app.add_flag("--list-codecs", options.listCodecs,
                 "List every codec with its family, input, parameters (range, default) and "
                 "library, and exit (as JSON with --format json)");
    app.add_flag("--verbose", options.verbose,
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
        "  tallox-cli compare old.json new.json       what changed between two runs\n"
        "Exit status: 0 success, 1 the run ended with a message (on stderr) or a record of a\n"
        "corpus failed, 2 usage error.");
    app.failure_message([](const CLI::App* self, const CLI::Error& error) {
        return "tallox-cli: " + CLI::FailureMessage::simple(self, error);
    });

    app.add_option("PATH", options.paths,
                   "Bitmaps or folders to measure (default: the bundled sample image)");
    auto* codecsOption =
        app.add_option("--codecs", options.codecLists,
                       "Comma-separated codecs, each with its parameter values: "
                       "zstd:1,19,lz4,brotli:5 (a value list), zstd:1-19:3 (a range), "
                       "xz:6:extreme=1 (a named parameter); see --list-codecs (default: "
                       "jpeg,rle,huffman,rice). The report's own codecs are measured first, in "
                       "their fixed order; the others follow in the order given")
            ->expected(1)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
            ->allow_extra_args(false)
            ->check(CodecList());
    app.add_flag("--all", options.all,
                 "Measure the report's six codecs (JPEG and the five own encoders)")
        ->excludes(codecsOption);
    auto* fastFlag = app.add_flag("--fast", options.fast, "Fast metering: 25 iterations (default)");
    auto* accurateFlag =
        app.add_flag("--accurate", options.accurate, "Accurate metering: 500 iterations");
    fastFlag->excludes(accurateFlag);
    app.add_option("--iterations", options.iterations,
                   "Iterations per codec, instead of --fast/--accurate")
        ->transform(Decimal(1, std::numeric_limits<int32_t>::max()))
        ->excludes(fastFlag)
        ->excludes(accurateFlag);
    app.add_option("--quality", options.quality,
                   "JPEG quality, 1 to 100 (default 50); a list (30,50,90) or a range (10-90:10) "
                   "measures one JPEG row per quality")
        ->transform(QualityList(options.qualities));
    app.add_option("--subsampling", options.subsampling,
                   "JPEG chroma subsampling, a list of 444, 422, 420 (default 420)")
        ->transform(SubsamplingList(options.subsamplings));
    app.add_flag("--progressive", options.progressive, "Progressive JPEG");
    app.add_flag("--optimize", options.optimize, "JPEG Huffman tables optimised for the image");
    app.add_option("--plot", options.plot,
                   "Draw the ratio against speed into FILE.svg or FILE.png, and beside it "
                   "FILE-rd-METRIC (each quality figure against bpp, after a lossy sweep), "
                   "FILE-speed-quality (speed at matched quality) and FILE-scaling (speed-up "
                   "against --threads) when the run has their rows");
    app.add_option("--warmup", options.warmup,
                   "Untimed calls of each codec before its timed ones (default 0)")
        ->transform(Decimal(0, std::numeric_limits<int32_t>::max()));
    app.add_flag("--samples", options.samples,
                 "Keep every timed call's time in the JSON and JSON Lines records (samples_ms), "
                 "for tallox-cli compare");
    app.add_option("--bytes", options.bytes,
                   "What the byte codecs compress: file (the file's bytes) or pixels (the decoded "
                   "image's samples); default: a bitmap's file bytes, any other image's pixels")
        ->check(CLI::IsMember({"file", "pixels"}));
    app.add_option("--metrics", options.metrics,
                   "The quality figures of every lossy row, a list of psnr, ssim, ssimulacra2 "
                   "and butteraugli (default: all four)")
        ->check([](const std::string& text) -> std::string {
            for (const std::string& item : SplitList(text)) {
                if (item != "psnr" && item != "ssim" && item != "ssimulacra2" &&
                    item != "butteraugli") {
                    return "'" + item + "' is not one of psnr,ssim,ssimulacra2,butteraugli";
                }
            }
            return {};
        });
    AddRateDistortionOptions(app, options);
    auto* cpuOption =
        app.add_option("--cpu", options.cpu,
                       "Pin the measuring thread (and the isolated worker) to CPU N (default: "
                       "the CPU it started on); a row of several threads spreads from there")
            ->type_name("N");
    app.add_flag("--no-pin", options.noPin, "Leave the measuring thread to the scheduler")
        ->excludes(cpuOption);
    app.add_option("--max-time", options.maximumSeconds,
                   "End a codec's timed calls (and its decoder's) once this many seconds are "
                   "timed, after one call at least: for slow settings; the record's calls say "
                   "how many were made")
        ->transform(Seconds());
    app.add_option("--threads", options.threadList,
                   "Thread counts, a list such as 1,2,4 (1 to 256; default 1): a row per count "
                   "for each codec that takes threads (see --list-codecs); the others are "
                   "measured once")
        ->transform(ThreadList(options.threads));
    app.add_option("--min-time", options.minimumSeconds,
                   "Call each codec until at least this many seconds of calls are timed")
        ->transform(Seconds());
    app.add_flag("--no-verify", options.noVerify, "Do not decode and compare the lossless outputs");
    app.add_flag("--no-decode", options.noDecode, "Do not time the decoders");
    auto* formatOption =
        app.add_option("--format", options.format,
                       "Output: text (the report), csv, json, jsonl (JSON Lines: a line per "
                       "record as it is measured), markdown or table (per-call statistics); by "
                       "default the --output file's extension (.txt .csv .json .jsonl .md) or text")
            ->check(CLI::IsMember({"text", "csv", "json", "jsonl", "markdown", "table"}));
    app.add_option("--output", options.outputPath,
                   "Write the output to FILE instead of stdout, each record as it completes; a "
                   "FILE that exists is replaced")
        ->type_name("FILE");
    app.add_option("--resume", options.resumePath,
                   "Go on with the JSON Lines run that FILE holds (killed, or not yet begun), "
                   "given the same arguments: its records are kept and the rest appended")
        ->type_name("FILE.jsonl");
    app.add_option("--shard", options.shard,
                   "Measure the K-th of N parts of the corpus: every N-th file of the sorted "
                   "list, from the K-th on (merge the parts with 'tallox-cli merge')")
        ->type_name("K/N")
        ->check(ShardPart());
    app.add_flag("--crlf", options.crlf, "Keep the report's own \\r\\n line ends (text format)");
    app.add_flag("--no-progress", options.noProgress, "No progress bar on stderr");
    app.add_flag("-r,--recursive", options.recursive, "Walk the folders' subfolders too");
    app.add_option("--include", options.includes,
                   "Take the folders' files whose names match GLOB (default: every image format read, *.bmp *.png *.ppm *.pgm *.pbm *.pam *.jpg *.jpeg *.tif *.tiff *.webp *.gif; repeatable)")
        ->type_name("GLOB")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->allow_extra_args(false);
    app.add_flag("--stop-on-error", options.stopOnError,
                 "In a corpus, end the run at the first failed record");
    auto* isolateFlag =
        app.add_flag("--isolate", options.isolate,
                     "Measure each file and codec in a child process (corpus default)");
    auto* noIsolateFlag =
        app.add_flag("--no-isolate", options.noIsolate, "Measure the corpus in this process");
    isolateFlag->excludes(noIsolateFlag);
    app.add_option("--timeout", options.timeoutSeconds,
                   "Kill an isolated measurement of one file and codec after this many seconds")
        ->transform(Seconds())
        ->excludes(noIsolateFlag);

    CLI::App* encodeCommand = app.add_subcommand(
        "encode", "Write one codec's exact output bytes for FILE to OUT, as its row measured them");
    encodeCommand
        ->add_option("CODEC", options.encode.codec,
                     "A codec and its parameters, as --codecs takes them: zstd:19, xz:6, jpeg:75")
        ->required()
        ->check(CodecList());
    encodeCommand->add_option("FILE", options.encode.input, "Input file")->required();
    encodeCommand->add_option("-o,--output", options.encode.output, "Output file")->required();
    encodeCommand
        ->add_option("--rice-type", options.encode.riceType,
                     "Rice sample type: 1 signed 8, 2 unsigned 8, 3 signed 16, 4 unsigned 16, "
                     "7 signed 32 (default), 8 unsigned 32")
        ->transform(Decimal(1, 8))
        ->check(CLI::IsMember({1, 2, 3, 4, 7, 8}));
    encodeCommand
        ->add_option("--quality", options.encode.quality, "JPEG quality, 1 to 100 (default 50)")
        ->transform(Decimal(1, 100));

    CLI::App* mergeCommand = app.add_subcommand(
        "merge",
        "Merge the results of a run's shards (JSON or JSON Lines) into one, its summaries computed "
        "again; fails when a record is missing or doubled");
    mergeCommand->add_option("FILES", options.mergeInputs, "The shards' result files")->required();
    mergeCommand
        ->add_option("-o,--output", options.mergeOutput,
                     "The merged result: FILE.json or FILE.jsonl")
        ->required();
    AddRateDistortionOptions(*mergeCommand, options);

    CLI::App* compareCommand = app.add_subcommand(
        "compare",
        "Compare two result files (JSON or JSON Lines): time with a 95 % interval and a "
        "Mann-Whitney test where both have per-call samples (--samples), size and quality");
    compareCommand->add_option("BASE", options.compare.base, "The result file compared against")
        ->required();
    compareCommand->add_option("NEW", options.compare.next, "The result file compared")->required();
    compareCommand
        ->add_option("--alpha", options.compare.alpha,
                     "A change with a Mann-Whitney p at or above A is noise, marked ~ "
                     "(default 0.05)")
        ->type_name("A")
        ->check(CLI::Range(0.0, 1.0));
    CLI::Option* failAbove =
        compareCommand
            ->add_option("--fail-above", options.failAbovePercent,
                         "Exit status 1 when a record is significantly slower by more than PCT %")
            ->type_name("PCT")
            ->check(CLI::NonNegativeNumber);
    compareCommand
        ->add_option("--format", options.compareFormat, "Output: text, json, csv or markdown")
        ->check(CLI::IsMember({"text", "json", "csv", "markdown"}));

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
    options.codecsGiven = codecsOption->count() > 0;
    options.runEncode = static_cast<bool>(*encodeCommand);
    options.runCompare = static_cast<bool>(*compareCommand);
    options.runMerge = static_cast<bool>(*mergeCommand);
    options.formatGiven = formatOption->count() > 0;
    if (failAbove->count() > 0) {
        options.compare.failAbovePercent = options.failAbovePercent;
    }
    static const std::map<std::string, CompareFormat> kCompareFormats{
        {"text", CompareFormat::Text},
        {"json", CompareFormat::Json},
        {"csv", CompareFormat::Csv},
        {"markdown", CompareFormat::Markdown}};
    options.compare.format = kCompareFormats.at(options.compareFormat);
    return std::nullopt;
}

}  // namespace tallox::cli
