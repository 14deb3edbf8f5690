// tallox-cli: the benchmark without a window. Parses its options, makes the run's settings
// from them, then runs one benchmark over a file and prints the report or its records as they
// come, or measures a corpus of files and folders with a summary per codec, or writes one
// codec's exact output for inspection.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QGuiApplication>
#include <algorithm>
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
#include "cli/settings.h"
#include "engine/codec.h"
#include "engine/records.h"
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
        int writeError = 0;
        cli::WriteOutput(out, false, writeError);
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
    // One path that is not a folder is one file's run; anything else is a corpus.
    std::error_code folderError;
    const bool corpus =
        options.paths.size() > 1 ||
        (options.paths.size() == 1 && fs::is_directory(options.paths[0], folderError));
    if (!corpus && (options.isolate || options.timeoutSeconds > 0)) {
        return cli::UsageError(std::string(options.isolate ? "--isolate" : "--timeout") +
                               " applies to several files or a folder");
    }
    // A closed stdout fails every write; found now, before a file opened by the run takes its
    // descriptor.
    if (fcntl(STDOUT_FILENO, F_GETFD) == -1) {
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
    const cli::OutputOptions output = cli::MakeOutputOptions(options, settings, corpus);
    if (corpus) {
        const std::vector<std::string> files =
            cli::CollectFiles(options.paths, options.recursive, options.includes);
        if (files.empty()) {
            std::fprintf(stderr, "tallox-cli: no file matches %s in the folders given\n",
                         options.includes.size() == 1 ? options.includes[0].c_str()
                                                      : "the --include patterns");
            return 1;
        }
        std::vector<Row> records;
        const int exitStatus = cli::RunCorpus(
            settings, files, {options.stopOnError, !options.noIsolate, options.timeoutSeconds},
            output, PlatformImaging(), DefaultRegistry(), &records);
        // The corpus drawn as its summary: a point per codec at the totals' ratio and MB/s.
        const std::string count = "(" + std::to_string(files.size()) + " files)";
        fs::path folder = fs::path(options.paths[0]).lexically_normal();
        if (!folder.has_filename()) {
            folder = folder.parent_path();  // "images/" names "images"
        }
        const std::string subject =
            options.paths.size() == 1 ? folder.filename().string() + " " + count : count;
        if (!options.plot.empty() &&
            !WritePlot(options.plot, SummaryRows(records), subject, argv)) {
            return 1;
        }
        return exitStatus;
    }
    cli::CliHost host(output);
    RunBenchmark(settings, host);
    const int exitStatus = host.Finish();
    if (!options.plot.empty() && !WritePlot(options.plot, host.Rows(), settings.fileName, argv)) {
        return 1;
    }
    return exitStatus;
}
