// tallox-cli: the benchmark without a window. Parses its options, makes the run's settings
// from them, then runs one benchmark over a file and prints the report or its records as they
// come, or measures a corpus of files and folders with a summary per codec, or writes one
// codec's exact output for inspection.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QGuiApplication>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "charts/chart.h"
#include "cli/corpus.h"
#include "cli/encode.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/runs.h"
#include "cli/settings.h"
#include "engine/codec.h"
#include "engine/records.h"
#include "engine/reporters.h"
#include "engine/run.h"
#include "engine/run_context.h"
#include "platform/affinity.h"
#include "platform/imaging.h"
#include "platform/machine_state.h"

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

// Every codec: its kind, whether it takes threads, its library and parameters, as a table whose
// columns fit the longest entry (the parameters last, as long as they come) or as JSON.
std::string CodecListing(bool json) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    struct Line {
        std::string name, family, input, kind, threads, library, parameters;
    };
    std::vector<Line> lines{{"codec", "family", "input", "kind", "threads", "library", "parameters"}};
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
            described.append(described.empty() ? "" : ", ").append(parameter.name);
            described.append(" ").append(range).append(" (");
            described.append(FormatValue(parameter.fallback)).append(")");
        }
        list.push_back({{"name", info.name},
                        {"family", info.family},
                        {"input", CodecInputName(info.input)},
                        {"lossy", info.lossy},
                        {"yardstick", info.yardstick},
                        {"threads", info.threads},
                        {"max_threads", info.threads && info.maxThreads > 0
                                            ? nlohmann::ordered_json(info.maxThreads)
                                            : nlohmann::ordered_json(nullptr)},
                        {"parameters", parameters},
                        {"library", info.library},
                        {"description", info.description}});
        lines.push_back({info.name, info.family, CodecInputName(info.input),
                         info.yardstick ? "yardstick"
                         : info.lossy   ? "lossy"
                                        : "lossless",
                         info.threads ? "yes" : "-",
                         info.library.empty() ? "tallox" : info.library,
                         described.empty() ? "-" : described});
    }
    if (json) {
        return list.dump(2) + "\n";
    }
    constexpr size_t kPadded = 6;  // every column but the last
    const auto padded = [](const Line& line) {
        return std::array<const std::string*, kPadded>{&line.name, &line.family,  &line.input,
                                                       &line.kind, &line.threads, &line.library};
    };
    std::array<size_t, kPadded> widths{};
    for (const Line& line : lines) {
        for (size_t i = 0; i < kPadded; ++i) {
            widths[i] = std::max(widths[i], padded(line)[i]->size());
        }
    }
    std::string text;
    for (const Line& line : lines) {
        for (size_t i = 0; i < kPadded; ++i) {
            const std::string& cell = *padded(line)[i];
            text.append(cell).append(widths[i] + 2 - cell.size(), ' ');
        }
        text.append(line.parameters).append("\n");
    }
    return text;
}

// Draws each chart the rows give: the speed chart into `path`, SVG or PNG by its ending, and
// each other beside it (ChartPath). Over a corpus the speed chart is drawn from `summary`, the
// others from the records; `reference`'s curves are emphasised. False, said on stderr, when one
// cannot be written.
bool WritePlot(const std::string& path, const std::vector<Row>& rows,
               const std::vector<Row>& summary, const std::string& subject,
               const std::string& reference, char** argv) {
    // Fonts for the chart's text come with a GUI application, which needs no display here.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    int noArguments = 1;
    QGuiApplication application(noArguments, argv);
    const QString title = ChartTitle(subject);
    for (const ChartPage& page : ChartPages(rows)) {
        const std::string file = ChartPath(path, page);
        if (!WriteChart(file, page, page.kind == ChartKind::Speed ? summary : rows, title,
                        reference)) {
            std::fprintf(stderr, "%s\n",
                         cli::FormatMessage({"cannot write the chart", file, errno}).c_str());
            return false;
        }
    }
    return true;
}

// A one-line hint on stderr for each row whose calls varied by more than 5 % of their median;
// over a corpus, one line for them all.
void WarnNoisy(const std::vector<Row>& rows) {
    std::vector<const Row*> noisy;
    for (const Row& row : rows) {
        if (row.noisy) {
            noisy.push_back(&row);
        }
    }
    if (noisy.size() > 3) {
        std::fprintf(stderr,
                     "tallox-cli: %zu of %zu records vary by more than 5 %% of their median per "
                     "call (noisy in the records): pin the thread (--cpu N), raise --min-time, "
                     "or measure on a quieter machine\n",
                     noisy.size(), rows.size());
        return;
    }
    for (const Row* row : noisy) {
        const std::string label = row->label.substr(0, row->label.find('\t'));
        std::fprintf(
            stderr, "tallox-cli: %s\n",
            NoisyRowHint(label.empty() ? row->codec : label, row->calls.medianMs, row->calls.madMs)
                .c_str());
    }
}

// A note on stderr when --threads asks for more than one thread of codecs that take none:
// they are measured once, on one thread.
void NoteUnthreaded(const BenchmarkSettings& settings) {
    if (std::all_of(settings.threads.begin(), settings.threads.end(),
                    [](int32_t threads) { return threads == 1; })) {
        return;
    }
    std::vector<std::string> names;
    for (const CodecSetting& setting : settings.codecs) {
        const CodecEntry* entry = DefaultRegistry().Find(setting.name);
        if (entry != nullptr && !entry->info.threads && !entry->info.yardstick &&
            std::find(names.begin(), names.end(), setting.name) == names.end()) {
            names.push_back(setting.name);
        }
    }
    if (!names.empty()) {
        std::string listed;
        for (const std::string& name : names) {
            listed.append(listed.empty() ? "" : ", ").append(name);
        }
        std::fprintf(stderr,
                     "tallox-cli: --threads: %s take%s no threads; measured once, on one thread\n",
                     listed.c_str(), names.size() == 1 ? "s" : "");
    }
}

}  // namespace

int main(int argc, char** argv) {
    cli::CliOptions options;
    if (const std::optional<int> status = cli::ParseOptions(argc, argv, options)) {
        return *status;
    }
    if (options.listCodecs) {
        std::fputs(CodecListing(options.format == "json").c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("tallox-cli %s\n", TALLOX_VERSION);
        if (options.verbose) {
            std::fputs(ContextText(CollectRunContext({})).c_str(), stdout);
        }
        return 0;
    }
    if (options.runCompare) {
        std::string out;
        std::string err;
        const int status = cli::RunCompare(options.compare, out, err);
        const int writeError =
            std::fwrite(out.data(), 1, out.size(), stdout) == out.size() && std::fflush(stdout) == 0
                ? 0
                : (errno != 0 ? errno : EIO);
        std::fputs(err.c_str(), stderr);
        if (writeError != 0) {
            std::fprintf(stderr, "%s\n",
                         cli::FormatMessage({"cannot write the output", {}, writeError}).c_str());
            return status == 2 ? 2 : 1;
        }
        return status;
    }
    if (options.runEncode) {
        return RunEncode(options.encode);
    }
    if (options.runMerge) {
        return cli::RunMerge(options.mergeInputs, options.mergeOutput, cli::MakeRdOptions(options));
    }
    if (!options.resumePath.empty()) {
        if (options.formatGiven && options.format != "jsonl") {
            return cli::UsageError("--resume takes JSON Lines, not --format " + options.format);
        }
        if (!options.outputPath.empty() && options.outputPath != options.resumePath) {
            return cli::UsageError("--resume writes to its own file, not to --output " +
                                   options.outputPath);
        }
        options.format = "jsonl";
        options.outputPath = options.resumePath;
    } else if (!options.formatGiven && !options.outputPath.empty()) {
        if (const std::optional<ReportFormat> byName = ReportFormatOfPath(options.outputPath)) {
            options.format = *byName == ReportFormat::JsonLines  ? "jsonl"
                             : *byName == ReportFormat::Markdown ? "markdown"
                             : *byName == ReportFormat::Csv      ? "csv"
                             : *byName == ReportFormat::Json     ? "json"
                                                                 : "text";
        }
    }
    // "--codecs jpeg rle" leaves "rle" as the file: name the slip rather than the missing file.
    for (const std::string& file : options.paths) {
        struct stat status {};
        if (DefaultRegistry().Find(file) != nullptr && lstat(file.c_str(), &status) != 0 &&
            errno == ENOENT) {
            return cli::UsageError("'" + file + "' is a codec name, not a file: " +
                                   (options.codecsGiven ? "list codecs with commas, --codecs " +
                                                              options.codecLists.back() + ","
                                                        : "choose codecs with --codecs ") +
                                   file);
        }
    }
    // One path that is not a folder is one file's run; anything else is a corpus, and so are a
    // shard's and a resumed run's files, which need their records to name the file.
    std::error_code folderError;
    const bool corpus =
        options.paths.size() > 1 ||
        (options.paths.size() == 1 && fs::is_directory(options.paths[0], folderError)) ||
        !options.shard.empty() || !options.resumePath.empty();
    if (corpus && options.paths.empty()) {
        options.paths.push_back(SamplePath());
    }
    if (!corpus && (options.isolate || options.timeoutSeconds > 0)) {
        return cli::UsageError(std::string(options.isolate ? "--isolate" : "--timeout") +
                               " applies to several files or a folder");
    }
    // A closed stdout fails every write; found now, before a file opened by the run takes its
    // descriptor.
    if (options.outputPath.empty() && fcntl(STDOUT_FILENO, F_GETFD) == -1) {
        std::fprintf(stderr, "%s\n",
                     cli::FormatMessage({"cannot write the output", {}, errno}).c_str());
        return 1;
    }
    ImagingSession imaging;  // for the run's image load and JPEG saves

    BenchmarkSettings settings =
        cli::MakeSettings(options, options.paths.empty() ? SamplePath() : options.paths[0]);
    if (!corpus && settings.fileName.empty()) {
        return cli::UsageError("'" + settings.filePath + "' names no file");
    }
    NoteUnthreaded(settings);
    // The measuring thread pinned to one CPU before anything is measured or forked, so that the
    // isolated worker inherits the pin.
    settings.allowedCpus = AllowedCpus();
    std::string pinning = "off (--no-pin)";
    if (!options.noPin) {
        std::optional<int> cpu;
        if (!options.cpu.empty()) {
            const CpuOption chosen = ParseCpuOption(options.cpu, settings.allowedCpus);
            if (!chosen.cpu) {
                return cli::UsageError(chosen.error);
            }
            cpu = chosen.cpu;
        }
        pinning = PinMeasuringThread(settings, cpu);
        if (!settings.pinnedCpu) {
            std::fprintf(stderr,
                         "tallox-cli: cannot pin the measuring thread (%s); measuring "
                         "unpinned\n",
                         pinning.c_str());
        }
    }
    cli::OutputOptions output = cli::MakeOutputOptions(options, settings, corpus);
    output.context.pinning = pinning;
    std::vector<std::string> files{settings.filePath};
    size_t corpusFiles = 1;  // before a shard takes its part
    if (corpus) {
        files = CollectFiles(options.paths, options.recursive, options.includes);
        if (files.empty()) {
            std::fprintf(stderr, "tallox-cli: no file matches %s in the folders given\n",
                         options.includes.size() == 1 ? options.includes[0].c_str()
                                                      : "the --include patterns");
            return 1;
        }
        corpusFiles = files.size();
        int k = 0;
        int n = 0;
        if (std::sscanf(options.shard.c_str(), "%d/%d", &k, &n) == 2) {
            files = cli::ShardFiles(files, k, n);
        }
    }
    // How the run was asked for, kept by JSON Lines so that --resume and merge can check it.
    std::vector<std::string> subsamplingNames;
    for (const Subsampling mode :
         options.subsamplings.empty() ? std::vector{Subsampling::k420} : options.subsamplings) {
        subsamplingNames.push_back(SubsamplingName(mode));
    }
    output.settings = nlohmann::ordered_json{
        {"codecs", options.all ? std::vector<std::string>{"--all"} : options.codecLists},
        {"iterations", settings.iterations},
        {"quality", settings.jpegQualities.empty() ? std::vector{settings.jpegQuality}
                                                   : settings.jpegQualities},
        {"subsampling", subsamplingNames},
        {"progressive", options.progressive},
        {"optimize", options.optimize},
        {"warmup", options.warmup},
        {"min_time", options.minimumSeconds},
        {"max_time", options.maximumSeconds},
        {"threads", settings.threads},
        {"verify", settings.verify},
        {"decode", settings.measureDecoding},
        {"timeout", options.timeoutSeconds},
        {"shard", options.shard},
        {"corpus_files",
         corpusFiles}}.dump();
    cli::Resumption resumption;
    if (!options.resumePath.empty()) {
        const int status = cli::ReadResumption(
            options.resumePath, JsonLinesContext(output.context, output.settings, &files),
            DefaultRegistry(), resumption);
        if (status != 0) {
            return status;
        }
    }
    const std::string& outputPath = options.outputPath;
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
                 O_WRONLY | O_CREAT | O_CLOEXEC | (options.resumePath.empty() ? O_TRUNC : 0), 0666);
        output.stream = fd < 0 ? nullptr : fdopen(fd, "w");
        if (output.stream == nullptr ||
            (!options.resumePath.empty() &&
             (ftruncate(fd, static_cast<off_t>(resumption.keptBytes)) != 0 ||
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
        CorpusOptions corpusOptions{options.stopOnError, !options.noIsolate,
                                    options.timeoutSeconds};
        corpusOptions.recorded = options.resumePath.empty() ? nullptr : &resumption.recorded;
        const int exitStatus =
            closed(cli::RunCorpus(settings, files, corpusOptions, output, PlatformImaging(),
                                  DefaultRegistry(), &records));
        WarnNoisy(records);
        // The corpus's speed chart drawn as its summary: a point per codec at the totals' ratio
        // and MB/s.
        const std::string count = "(" + std::to_string(files.size()) + " files)";
        fs::path folder = fs::path(options.paths[0]).lexically_normal();
        if (!folder.has_filename()) {
            folder = folder.parent_path();  // "images/" names "images"
        }
        const std::string subject =
            options.paths.size() == 1 ? folder.filename().string() + " " + count : count;
        if (!options.plot.empty() &&
            !WritePlot(options.plot, records, SummaryRows(records), subject, options.reference,
                       argv)) {
            return 1;
        }
        return exitStatus;
    }
    cli::CliHost host(output);
    RunBenchmark(settings, host);
    const int exitStatus = closed(host.Finish());
    WarnNoisy(host.Rows());
    if (!options.plot.empty() &&
        !WritePlot(options.plot, host.Rows(), host.Rows(), settings.fileName, options.reference,
                   argv)) {
        return 1;
    }
    return exitStatus;
}
