#include "engine/corpus_run.h"

#include <fnmatch.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include "engine/isolated_worker.h"
#include "engine/run.h"

namespace fs = std::filesystem;

namespace tallox {
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
        row.yardstick = codec_.info.yardstick;  // no codec of the summaries, failed or not
        sink_(row);
    }

private:
    const CodecEntry& codec_;
    std::string label_;
    std::string params_;
    ProgressControl& progress_;
    const RowSink& sink_;
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

std::vector<std::string> ImageFilePatterns() {
    return {"*.bmp", "*.png",  "*.ppm", "*.pgm",  "*.pbm",  "*.pam",
            "*.jpg", "*.jpeg", "*.tif", "*.tiff", "*.webp", "*.gif"};
}

size_t CountedCodecs(const BenchmarkSettings& settings, const CodecRegistry& registry) {
    const std::vector<CodecSetting> ordered = OrderedSettings(settings, registry);
    return static_cast<size_t>(std::count_if(
        ordered.begin(), ordered.end(),
        [&](const CodecSetting& setting) { return !registry.Find(setting.name)->info.yardstick; }));
}

CorpusResult RunCorpus(const BenchmarkSettings& settings, const std::vector<std::string>& files,
                       const CorpusOptions& options, CorpusObserver& observer, Imaging& imaging,
                       const CodecRegistry& registry) {
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
    }
    CorpusResult result;
    // A resumed run's records, known by their keys; they take the labels this run gives them.
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
            result.failed += row.error.empty() ? 0 : 1;
            result.rows.push_back(std::move(row));
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
    // Does `step` for unit `u` of file `i` between the observer's codec events (the yardstick
    // has none). The worker does so too for the measurements it makes, on its copy.
    const auto asCodec = [&](size_t i, size_t u, const auto& step) {
        const bool shown = !units[u].entry->info.yardstick;
        if (shown) {
            const CodecInfo& info = units[u].entry->info;
            const std::string& label = units[u].label;
            observer.CodecStarted(
                i, info.reportRow ? info.displayName : label.substr(0, label.find('\t')));
        }
        step();
        if (shown) {
            observer.CodecFinished();
        }
    };
    // The file under way, read once for all its codecs (by the worker, in its own memory).
    std::optional<std::pair<size_t, RunInput>> read;
    const auto measure = [&](size_t i, size_t u, const RowSink& sink) {
        asCodec(i, u, [&] {
            BenchmarkSettings one = settings;
            one.filePath = files[i];
            one.fileName = fs::path(files[i]).filename().string();
            if (one.fileName.empty()) {
                one.fileName = files[i];  // a path ending in a slash: the run fails on it
            }
            one.baseline = false;
            one.codecs = {units[u].setting};
            SinkHost host(*units[u].entry, units[u].label, units[u].params, observer.Progress(),
                          sink);
            if (!read || read->first != i) {
                read.reset();  // one file's image in memory at a time
                read.emplace(i, ReadRunInput(one, imaging));
            }
            RunBenchmark(one, host, imaging, registry, &read->second);
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
    const auto ended = [&] {
        if (options.stopOnError && result.failed > 0) {
            return true;
        }
        if (options.stop != nullptr && options.stop->load()) {
            result.stopped = true;
            return true;
        }
        return false;
    };
    for (size_t i = 0; i < files.size() && !ended(); ++i) {
        bool started = false;
        const auto record = [&](const Row& row) {
            Row filed = row;
            filed.file = files[i];
            if (done.empty() || done.count(RecordKey(filed)) == 0) {
                result.failed += filed.error.empty() ? 0 : 1;
                observer.Record(filed);
                result.rows.push_back(std::move(filed));
            }
        };
        for (size_t u = 0; u < units.size() && (u == 0 || !ended()); ++u) {
            if (measured(i, u)) {
                if (!units[u].entry->info.yardstick) {
                    observer.CodecFinished();
                }
                continue;
            }
            if (!started) {
                observer.FileStarted(i, files[i]);
                started = true;
            }
            if (!worker) {
                measure(i, u, record);
                continue;
            }
            asCodec(i, u, [&] {
                if (const std::optional<std::string> failure =
                        worker->Run(i * units.size() + u, record)) {
                    Row row = ErrorRow(units[u].entry->info.name, units[u].label, *failure);
                    row.params = units[u].params;
                    row.yardstick = units[u].entry->info.yardstick;
                    record(row);
                }
            });
        }
        if (started) {
            observer.FileFinished(i, files[i]);
        }
    }
    result.summaries = SummarizeCodecs(result.rows);
    observer.RunFinished(result);
    return result;
}

}  // namespace tallox
