#include "cli/corpus.h"

#include <fnmatch.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include "cli/isolate.h"
#include "engine/records.h"
#include "engine/run.h"

namespace fs = std::filesystem;

namespace tallox::cli {
namespace {

void Walk(const fs::path& folder, bool recursive, const std::vector<std::string>& includes,
          std::vector<std::string>& files) {
    std::error_code error;
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        entries.push_back(*it);
    }
    if (error) {
        files.push_back(folder.string());
        return;
    }
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return a.path().filename().native() < b.path().filename().native();
    });
    for (const fs::directory_entry& entry : entries) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with('.')) {
            continue;
        }
        // Links to folders are not followed: a link back up would never end.
        if (entry.is_directory(error) && !entry.is_symlink(error)) {
            if (recursive) {
                Walk(entry.path(), true, includes, files);
            }
        } else if (entry.is_regular_file(error) &&
                   std::any_of(includes.begin(), includes.end(), [&](const std::string& glob) {
                       return fnmatch(glob.c_str(), name.c_str(), FNM_CASEFOLD) == 0;
                   })) {
            files.push_back(entry.path().string());
        }
    }
}

// The bar over a corpus: the share of the run's file-and-codec measurements done, the file and
// codec being measured with its encoder calls, and the time the whole run has left at the pace
// so far. An isolated measurement's child counts its calls and draws on its copy of the bar.
class CorpusProgress final : public ProgressControl {
public:
    CorpusProgress(bool enabled, size_t files, size_t codecs, int32_t iterations)
        : enabled_(enabled && files * codecs > 0),
          files_(files),
          units_(files * codecs),
          iterations_(iterations),
          start_(std::chrono::steady_clock::now()) {}

    void Begin(size_t file, std::string codec) {
        file_ = file;
        codec_ = std::move(codec);
        calls_ = 0;
        Draw();
    }
    void End() { ++done_; }

    void Clear() {
        if (shown_) {
            std::fputs("\r\033[K", stderr);
            std::fflush(stderr);
            shown_ = false;
        }
    }
    void Draw() {
        if (!enabled_) {
            return;
        }
        throttle_.Drew();
        const double share =
            (static_cast<double>(done_) + static_cast<double>(std::min(calls_, iterations_)) /
                                              static_cast<double>(iterations_)) /
            static_cast<double>(units_);
        constexpr int kWidth = 30;
        const auto filled = static_cast<size_t>(std::clamp(share, 0.0, 1.0) * kWidth);
        std::string line = "\r[" + std::string(filled, '#') + std::string(kWidth - filled, '.') +
                           "] file " + Grouped(static_cast<int64_t>(file_ + 1)) + " / " +
                           Grouped(static_cast<int64_t>(files_)) + "  " + codec_ + "  " +
                           Grouped(calls_) + " calls";
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        if (share > 0 && share < 1 && seconds >= 1) {
            const auto left = static_cast<int64_t>(std::ceil(seconds / share * (1 - share)));
            char text[48];
            std::snprintf(text, sizeof text, "  %lld:%02lld left",
                          static_cast<long long>(left / 60), static_cast<long long>(left % 60));
            line += text;
        }
        std::fputs((line + "\033[K").c_str(), stderr);
        std::fflush(stderr);
        shown_ = true;
    }

protected:
    void Stepped() override {
        ++calls_;
        if (enabled_ && throttle_.Due()) {
            Draw();
        }
    }

private:
    bool enabled_;
    size_t files_;
    size_t units_;
    int64_t iterations_;
    std::chrono::steady_clock::time_point start_;
    size_t file_ = 0;
    size_t done_ = 0;
    std::string codec_;
    int64_t calls_ = 0;
    DrawThrottle throttle_;
    bool shown_ = false;
};

Row ErrorRow(const std::string& codec, const std::string& label, std::string error) {
    Row row;
    row.codec = codec;
    row.label = label;
    row.error = std::move(error);
    return row;
}

// A run's host that hands on its rows, and its message as the codec's error row.
class SinkHost final : public RunHost {
public:
    SinkHost(const CodecEntry& codec, std::string label, std::string params,
             ProgressControl& progress, const RowSink& sink)
        : codec_(codec),
          label_(std::move(label)),
          params_(std::move(params)),
          progress_(progress),
          sink_(sink) {}

    void Push(const std::string&) override {}
    void Repaint() override {}
    void RowFinished(const Row& row) override { sink_(row); }
    ProgressControl& Progress() override { return progress_; }
    void ShowMessage(const RunMessage& message) override {
        std::string text = message.text;
        if (message.systemError != 0) {
            text += std::string(" (") + std::strerror(message.systemError) + ")";
        }
        Row row = ErrorRow(codec_.info.name, label_, text);
        row.params = params_;
        sink_(row);
    }

private:
    const CodecEntry& codec_;
    std::string label_;
    std::string params_;
    ProgressControl& progress_;
    const RowSink& sink_;
};

// Prints a corpus run's records as they come, and the summaries at the end.
class CorpusOutput {
public:
    CorpusOutput(const OutputOptions& options, CorpusProgress& progress)
        : sink_(
              options, [&progress] { progress.Clear(); }, [] {}),
          reporter_(MakeReporter(options.format, sink_)),
          rd_(options.rd) {}

    void Start(const OutputOptions& options, const std::vector<std::string>& files,
               const std::vector<Row>* recorded) {
        if (recorded != nullptr) {
            for (const Row& row : *recorded) {
                rows_.push_back(row);
                failed_ += row.error.empty() ? 0 : 1;
            }
        }
        runStart_ = options.context;
        reporter_->Begin({options.context, true, files, options.settings});
    }
    void File(const std::string& path) { reporter_->FileStarted(path); }
    void Record(const Row& row) {
        rows_.push_back(row);
        failed_ += row.error.empty() ? 0 : 1;
        reporter_->Record(row);
    }

    int Finish(CorpusProgress& progress) {
        reporter_->Summary(SummarizeCodecs(rows_));
        if (const RdSummary rd = SummarizeRateDistortion(rows_, rd_); !rd.empty) {
            reporter_->RateDistortion(rd);
        }
        reporter_->End(TicksSince(runStart_));
        progress.Clear();
        if (sink_.Status() != 0) {
            return 1;
        }
        if (failed_ > 0) {
            std::fprintf(stderr, "tallox-cli: %zu of %zu records failed\n", failed_, rows_.size());
            return 1;
        }
        return 0;
    }

    bool Failed() const { return failed_ > 0; }
    const std::vector<Row>& Rows() const { return rows_; }

private:
    OutputSink sink_;
    std::unique_ptr<Reporter> reporter_;
    RdOptions rd_;
    std::vector<Row> rows_;
    RunContext runStart_;  // the context the run began with, for its steal
    size_t failed_ = 0;
};

}  // namespace

std::string RecordKey(const Row& row) {
    std::string key = row.file + '\n' + row.codec + '\n' + row.params;
    if (row.jpeg) {
        key += "\nq" + std::to_string(row.jpeg->quality) + ' ' +
               SubsamplingName(row.jpeg->subsampling) + (row.jpeg->progressive ? " p" : "") +
               (row.jpeg->optimize ? " o" : "");
    }
    return key;
}

std::vector<std::string> CollectFiles(const std::vector<std::string>& paths, bool recursive,
                                      const std::vector<std::string>& includes) {
    std::vector<std::string> files;
    for (const std::string& path : paths) {
        std::error_code error;
        if (fs::is_directory(path, error)) {
            Walk(path, recursive, includes, files);
        } else {
            files.push_back(path);
        }
    }
    return files;
}

int RunCorpus(const BenchmarkSettings& settings, const std::vector<std::string>& files,
              const CorpusOptions& options, const OutputOptions& output, Imaging& imaging,
              const CodecRegistry& registry, std::vector<Row>* records) {
    // Each file's measurements: the yardstick first, on its own, then each codec setting (JPEG
    // with its sweep), so that a failure names its codec.
    struct Unit {
        CodecSetting setting;
        const CodecEntry* entry;
        std::string label;
        std::string params;
        std::vector<Row> rows;  // the records it makes, without their file: their keys
    };
    std::vector<Unit> units;
    size_t counted = 0;
    for (const CodecSetting& setting : OrderedSettings(settings, registry)) {
        const CodecEntry* entry = registry.Find(setting.name);
        const std::vector<double> values = ValuesOf(*entry, setting);
        Unit& unit = units.emplace_back(
            Unit{setting, entry, LabelOf(*entry, values), ParamsText(*entry, values), {}});
        BenchmarkSettings one = settings;
        one.codecs = {setting};
        one.baseline = false;
        for (const PlannedRow& planned : PlanRows(one, registry)) {
            Row& row = unit.rows.emplace_back();
            row.codec = entry->info.name;
            row.label = planned.label;
            row.params = ParamsText(*entry, planned.values);
            row.jpeg = planned.jpeg;
        }
        counted += entry->info.yardstick ? 0 : 1;
    }
    // A resumed run's records, known by their keys; they take the labels this run gives them.
    std::vector<Row> recorded;
    std::set<std::string> done;
    if (options.recorded != nullptr) {
        std::map<std::string, std::string> labels;
        for (const Unit& unit : units) {
            for (const Row& row : unit.rows) {
                labels[RecordKey(row)] = row.label;
            }
        }
        for (Row row : *options.recorded) {
            done.insert(RecordKey(row));
            const std::string file = std::exchange(row.file, {});
            if (const auto label = labels.find(RecordKey(row)); label != labels.end()) {
                row.label = label->second;
            }
            row.file = file;
            recorded.push_back(std::move(row));
        }
    }
    // Whether every record of unit `u` over file `i` is there already, or the error record
    // that stood for them all when the measurement crashed or timed out.
    const auto measured = [&](size_t i, size_t u) {
        if (done.empty()) {
            return false;
        }
        Row failed = ErrorRow(units[u].entry->info.name, units[u].label, {});
        failed.params = units[u].params;
        failed.file = files[i];
        return done.count(RecordKey(failed)) > 0 ||
               std::all_of(units[u].rows.begin(), units[u].rows.end(), [&](Row row) {
                   row.file = files[i];
                   return done.count(RecordKey(row)) > 0;
               });
    };
    CorpusProgress progress(output.progress, files.size(), counted, settings.iterations);
    CorpusOutput out(output, progress);
    out.Start(output, files, options.recorded != nullptr ? &recorded : nullptr);
    // Does `step` for unit `u` of file `i` as a step of the bar (the yardstick is none). The
    // worker does so too for the measurements it makes, on its copy of the bar.
    const auto onBar = [&](size_t i, size_t u, const auto& step) {
        const bool bar = !units[u].entry->info.yardstick;
        if (bar) {
            const CodecInfo& info = units[u].entry->info;
            const std::string& label = units[u].label;
            progress.Begin(i,
                           info.reportRow ? info.displayName : label.substr(0, label.find('\t')));
        }
        step();
        if (bar) {
            progress.End();
        }
    };
    const auto measure = [&](size_t i, size_t u, const RowSink& sink) {
        onBar(i, u, [&] {
            BenchmarkSettings one = settings;
            one.filePath = files[i];
            one.fileName = fs::path(files[i]).filename().string();
            if (one.fileName.empty()) {
                one.fileName = files[i];  // a path ending in a slash: the run fails on it
            }
            one.baseline = false;
            one.codecs = {units[u].setting};
            SinkHost host(*units[u].entry, units[u].label, units[u].params, progress, sink);
            RunBenchmark(one, host, imaging, registry);
        });
    };
    std::optional<IsolatedWorker> worker;
    if (options.isolate) {
        // The image format plugins and their set-up, brought in once before the worker that
        // inherits them: otherwise each fresh worker pays for it again.
        LoadImagePlugins();
        worker.emplace(
            [&](uint64_t request, const RowSink& sink) {
                measure(request / units.size(), request % units.size(), sink);
            },
            options.timeoutSeconds);
    }
    for (size_t i = 0; i < files.size() && !(options.stopOnError && out.Failed()); ++i) {
        bool started = false;
        const auto record = [&](const Row& row) {
            Row filed = row;
            filed.file = files[i];
            if (done.empty() || done.count(RecordKey(filed)) == 0) {
                out.Record(filed);
            }
        };
        for (size_t u = 0; u < units.size() && !(options.stopOnError && out.Failed()); ++u) {
            if (measured(i, u)) {
                if (!units[u].entry->info.yardstick) {
                    progress.End();
                }
                continue;
            }
            if (!started) {
                out.File(files[i]);
                started = true;
            }
            if (!worker) {
                measure(i, u, record);
                continue;
            }
            onBar(i, u, [&] {
                if (const std::optional<std::string> failure =
                        worker->Run(i * units.size() + u, record)) {
                    Row row = ErrorRow(units[u].entry->info.name, units[u].label, *failure);
                    row.params = units[u].params;
                    record(row);
                }
            });
        }
    }
    if (records != nullptr) {
        *records = out.Rows();
    }
    return out.Finish(progress);
}

}  // namespace tallox::cli
