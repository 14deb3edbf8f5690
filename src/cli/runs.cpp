#include "cli/runs.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>

#include "cli/corpus.h"
#include "engine/records.h"
#include "engine/reporters.h"
#include "platform/system_info.h"

namespace tallox::cli {
namespace {

using Json = nlohmann::ordered_json;

void Say(const std::string& text) { std::fprintf(stderr, "tallox-cli: %s\n", text.c_str()); }

// The text of a file; nothing, with errno set, when it cannot be read.
std::optional<std::string> ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) {
        errno = EIO;
        return std::nullopt;
    }
    return text;
}

// A JSON Lines file's whole lines, each with the offset just past it. A last line without its
// line end (a run killed while writing it), or one that is not JSON, ends the list, with a note.
struct Line {
    Json object;
    uint64_t end = 0;
};
std::vector<Line> WholeLines(const std::string& path, const std::string& text) {
    std::vector<Line> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t newline = text.find('\n', start);
        Json object =
            newline == std::string::npos
                ? Json(nullptr)
                : Json::parse(text.begin() + static_cast<std::ptrdiff_t>(start),
                              text.begin() + static_cast<std::ptrdiff_t>(newline), nullptr, false);
        if (!object.is_object()) {
            Say(path + ": line " + std::to_string(lines.size() + 1) +
                " is cut short (a run killed while writing it): it is left out");
            break;
        }
        lines.push_back({std::move(object), newline + 1});
        start = newline + 1;
    }
    return lines;
}

std::string Text(const Json& object, const char* key) {
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

double Number(const Json& object, const char* key) {
    const auto it = object.find(key);
    return it != object.end() && it->is_number() ? it->get<double>() : 0.0;
}

// A record read back as a row: its identity, and the figures the summaries take. Its label
// stands for its codec and parameters until a run gives it the report's.
Row RowFromRecord(const Json& record, const CodecRegistry& registry) {
    Row row;
    row.file = Text(record, "file");
    row.codec = Text(record, "codec");
    row.params = Text(record, "params");
    row.library = Text(record, "library");
    row.error = Text(record, "error");
    row.iterations = static_cast<int32_t>(Number(record, "iterations"));
    row.inputBytes = static_cast<uint32_t>(Number(record, "input_bytes"));
    row.outputBytes = static_cast<uint32_t>(Number(record, "output_bytes"));
    row.ratio = Number(record, "ratio");
    row.calls.medianMs = Number(record, "median_ms");
    row.mbpsMedian = Number(record, "mbps_median");
    // The figures of the lossy comparison, where the record has them.
    const auto figure = [&](const char* key) {
        const auto it = record.find(key);
        return it != record.end() && it->is_number() ? std::optional(it->get<double>())
                                                     : std::nullopt;
    };
    row.bpp = figure("bpp");
    row.psnrY = figure("psnr_y");
    row.ssim = figure("ssim");
    row.ssimulacra2 = figure("ssimulacra2");
    row.butteraugli3Norm = figure("butteraugli_3norm");
    if (record.contains("quality") && record["quality"].is_number()) {
        JpegOptions jpeg;
        jpeg.quality = static_cast<int>(Number(record, "quality"));
        for (const Subsampling mode : {Subsampling::k444, Subsampling::k422, Subsampling::k420}) {
            if (Text(record, "subsampling") == SubsamplingName(mode)) {
                jpeg.subsampling = mode;
            }
        }
        jpeg.progressive = record.value("progressive", false);
        jpeg.optimize = record.value("optimize", false);
        row.jpeg = jpeg;
    }
    const CodecEntry* entry = registry.Find(row.codec);
    row.yardstick = entry != nullptr && entry->info.yardstick;
    Row unfiled = row;
    unfiled.file.clear();
    row.label = RecordKey(unfiled);
    return row;
}

std::string Shown(const Json& value) {
    return value.is_string() ? value.get<std::string>() : value.dump();
}

// Each setting that differs between `a` and `b`, but those `skipped`: "KEY is X in A, Y in B".
std::vector<std::string> SettingDifferences(const Json& a, const std::string& aName, const Json& b,
                                            const std::string& bName,
                                            const std::set<std::string>& skipped = {}) {
    std::vector<std::string> differences;
    std::set<std::string> keys;
    for (const Json* settings : {&a, &b}) {
        for (const auto& item : settings->items()) {
            keys.insert(item.key());
        }
    }
    for (const std::string& key : keys) {
        const Json x = a.value(key, Json());
        const Json y = b.value(key, Json());
        if (x != y && skipped.count(key) == 0) {
            differences.push_back(key + " is " + Shown(x) + " in " + aName + ", " + Shown(y) +
                                  " in " + bName);
        }
    }
    return differences;
}

// How a list of files differs from another, or nothing.
std::optional<std::string> FileDifference(const Json& there, const Json& now) {
    if (there == now) {
        return std::nullopt;
    }
    const auto has = [](const Json& list, const Json& file) {
        return std::find(list.begin(), list.end(), file) != list.end();
    };
    std::string text = "the files differ (" + std::to_string(there.size()) + " there, " +
                       std::to_string(now.size()) + " now)";
    for (const Json& file : now) {
        if (!has(there, file)) {
            return text + ": " + Shown(file) + " is new";
        }
    }
    for (const Json& file : there) {
        if (!has(now, file)) {
            return text + ": " + Shown(file) + " is gone";
        }
    }
    return text + ": their order";
}

}  // namespace

std::vector<std::string> ShardFiles(std::vector<std::string> files, int k, int n) {
    std::sort(files.begin(), files.end());
    std::vector<std::string> part;
    for (size_t i = static_cast<size_t>(k - 1); i < files.size(); i += static_cast<size_t>(n)) {
        part.push_back(files[i]);
    }
    return part;
}

namespace {

int Resume(const std::string& path, const std::string& context, const CodecRegistry& registry,
           Resumption& resumption) {
    const std::optional<std::string> text = ReadWhole(path);
    if (!text) {
        if (errno == ENOENT) {
            return 0;  // nothing measured yet
        }
        Say(path + ": cannot read it (" + std::strerror(errno) + ")");
        return 1;
    }
    const std::vector<Line> lines = WholeLines(path, *text);
    if (lines.empty()) {
        return 0;
    }
    const Json& first = lines[0].object;
    if (Text(first, "type") != "context" || !first.contains("schema")) {
        Say(path + ": not the JSON Lines of a Tallox run; cannot resume it");
        return 2;
    }
    if (Number(first, "schema") > kJsonLinesSchema) {
        Say(path + ": written in a later layout (schema " + Shown(first["schema"]) +
            "); cannot resume it");
        return 2;
    }
    const Json now = Json::parse(context);
    std::vector<std::string> differences = SettingDifferences(
        first.value("settings", Json::object()), path, now["settings"], "this run");
    if (const auto files = FileDifference(first.value("files", Json::array()), now["files"])) {
        differences.push_back(*files);
    }
    std::map<std::string, FileIdentity> identities;
    resumption.keptBytes = lines[0].end;
    for (const Line& line : lines) {
        const std::string type = Text(line.object, "type");
        if (type == "summary" || type == "rate_distortion" || type == "end") {
            break;  // summed up again at the end, over every record
        }
        resumption.keptBytes = line.end;
        if (type == "record") {
            resumption.recorded.push_back(RowFromRecord(line.object, registry));
            identities[resumption.recorded.back().file] = {
                static_cast<uint64_t>(Number(line.object, "file_bytes")),
                Text(line.object, "file_sha256")};
        }
    }
    for (const auto& [file, identity] : identities) {
        struct stat status {};
        const bool same = stat(file.c_str(), &status) == 0 &&
                          static_cast<uint64_t>(status.st_size) == identity.bytes &&
                          FileSha256(file) == identity.sha256;
        if (!same) {
            differences.push_back(file +
                                  " has changed since it was measured (its length or "
                                  "SHA-256 differs)");
        }
    }
    if (!differences.empty()) {
        Say("cannot resume " + path + ", made by another run:");
        for (const std::string& difference : differences) {
            std::fprintf(stderr, "  %s\n", difference.c_str());
        }
        return 2;
    }
    const std::string cpu = Text(first.value("machine", Json::object()), "cpu");
    if (cpu != Text(now["machine"], "cpu")) {
        Say(path + " was begun on " + cpu +
            ": its speed figures will mix two machines (its context lines say which)");
    }
    return 0;
}

}  // namespace

int ReadResumption(const std::string& path, const std::string& context,
                   const CodecRegistry& registry, Resumption& resumption) {
    resumption = {};
    try {
        return Resume(path, context, registry, resumption);
    } catch (const Json::exception& error) {
        // A value of the wrong type where the layout has another.
        Say(path + ": not the JSON Lines of a Tallox run (" + error.what() + ")");
        resumption = {};
        return 2;
    }
}

namespace {

// One input of a merge: its context lines and its records, with the machine of each.
struct Shard {
    std::string path;
    std::vector<Json> contexts;
    std::vector<Json> records;
    std::vector<std::string> machines;  // the machine each record was measured on
    Json files = Json::array();
};

// The machine a context names, as one text to compare.
std::string Machine(const Json& context) { return context.value("machine", Json()).dump(); }

std::optional<Shard> ReadShard(const std::string& path) {
    const std::optional<std::string> text = ReadWhole(path);
    if (!text) {
        Say(path + ": cannot read it (" + std::strerror(errno) + ")");
        return std::nullopt;
    }
    Shard shard{path, {}, {}, {}};
    Json document = Json::parse(*text, nullptr, false);
    if (document.is_object() && document.contains("results") && document["results"].is_array()) {
        Json results = std::move(document["results"]);
        shard.files = document.contains("files") ? document["files"]
                                                 : Json::array({document.value("file", "")});
        const std::string file = document.value("file", "");
        document.erase("results");
        document.erase("summary");
        document.erase("rate_distortion");
        document.erase("files");
        shard.contexts.push_back(document);
        for (Json& record : results) {
            if (!record.is_object()) {
                continue;
            }
            if (!record.contains("file")) {
                record["file"] = file;
            }
            shard.records.push_back(std::move(record));
            shard.machines.push_back(Machine(document));
        }
        return shard;
    }
    for (Line& line : WholeLines(path, *text)) {
        const std::string type = Text(line.object, "type");
        if (type == "context") {
            shard.contexts.push_back(line.object);
            if (shard.contexts.size() == 1) {
                shard.files = line.object.value("files", Json::array());
            }
        } else if (type == "record" && !shard.contexts.empty()) {
            line.object.erase("type");
            shard.records.push_back(std::move(line.object));
            shard.machines.push_back(Machine(shard.contexts.back()));
        }
    }
    if (shard.contexts.empty()) {
        Say(path + ": not a Tallox result file (JSON or JSON Lines)");
        return std::nullopt;
    }
    return shard;
}

// The shards' settings and parts: the same settings but for "shard", and each part of K/N once.
std::vector<std::string> ShardProblems(const std::vector<Shard>& shards) {
    std::vector<std::string> problems;
    const Json* settings = nullptr;
    std::map<int, int> parts;
    int of = 0;
    for (const Shard& shard : shards) {
        const Json& context = shard.contexts.front();
        if (!context.contains("settings")) {
            continue;  // a JSON document keeps no settings
        }
        if (settings == nullptr) {
            settings = &context["settings"];
        } else {
            for (const std::string& difference : SettingDifferences(
                     *settings, shards.front().path, context["settings"], shard.path, {"shard"})) {
                problems.push_back("the settings differ: " + difference);
            }
        }
        int k = 0;
        int n = 0;
        if (std::sscanf(context["settings"].value("shard", "").c_str(), "%d/%d", &k, &n) == 2) {
            ++parts[k];
            if (of != 0 && n != of) {
                problems.push_back(shard.path + " is a shard of " + std::to_string(n) +
                                   " parts, not " + std::to_string(of));
            }
            of = n;
        }
    }
    // Parts are counted only when every input names its part: a JSON document does not.
    int named = 0;
    for (const auto& [k, count] : parts) {
        named += count;
    }
    if (static_cast<size_t>(named) != shards.size()) {
        return problems;
    }
    for (int k = 1; k <= of; ++k) {
        const std::string part = "shard " + std::to_string(k) + "/" + std::to_string(of);
        if (parts[k] == 0) {
            problems.push_back(part + " is missing");
        } else if (parts[k] > 1) {
            problems.push_back(part + " is given " + std::to_string(parts[k]) + " times");
        }
    }
    return problems;
}

// A record's name in messages: "FILE codec PARAMS [JPEG settings]".
std::string Named(const std::string& key) {
    std::string name = key;
    std::replace(name.begin(), name.end(), '\n', ' ');
    return name;
}

}  // namespace

namespace {

int Merge(const std::vector<std::string>& inputs, const std::string& output, const RdOptions& rd,
          const CodecRegistry& registry) {
    const std::optional<ReportFormat> format = ReportFormatOfPath(output);
    if (format != ReportFormat::Json && format != ReportFormat::JsonLines) {
        Say("merge: the output must end in .json or .jsonl: " + output);
        return 2;
    }
    std::vector<Shard> shards;
    for (const std::string& input : inputs) {
        std::optional<Shard> shard;
        try {
            shard = ReadShard(input);
        } catch (const Json::exception& error) {
            Say(input + ": not a Tallox result file (" + error.what() + ")");
            return 1;
        }
        if (!shard) {
            return 1;
        }
        shards.push_back(std::move(*shard));
    }
    std::vector<std::string> problems = ShardProblems(shards);

    // The records in the order of their files, sorted as a shard sorts them; each with its row.
    std::set<std::string> fileSet;
    for (const Shard& shard : shards) {
        for (const Json& file : shard.files) {
            fileSet.insert(Shown(file));
        }
        for (const Json& record : shard.records) {
            fileSet.insert(Text(record, "file"));
        }
    }
    const std::vector<std::string> files(fileSet.begin(), fileSet.end());
    struct Merged {
        const Json* record;
        Row row;
        std::string machine;
    };
    std::map<std::string, std::vector<Merged>> byFile;
    std::vector<std::string> combinations;  // codec, parameters and settings, in first order
    std::map<std::string, int> counts;
    for (const Shard& shard : shards) {
        for (size_t i = 0; i < shard.records.size(); ++i) {
            Row row = RowFromRecord(shard.records[i], registry);
            if (std::find(combinations.begin(), combinations.end(), row.label) ==
                combinations.end()) {
                combinations.push_back(row.label);
            }
            ++counts[RecordKey(row)];
            byFile[row.file].push_back({&shard.records[i], std::move(row), shard.machines[i]});
        }
    }
    // A part left out shows in the count of the corpus's files that every JSON Lines input
    // keeps, though only its part's files are named.
    size_t corpusFiles = 0;
    for (const Shard& shard : shards) {
        corpusFiles = std::max(
            corpusFiles, static_cast<size_t>(Number(
                             shard.contexts.front().value("settings", Json()), "corpus_files")));
    }
    if (files.size() < corpusFiles) {
        problems.push_back(std::to_string(corpusFiles - files.size()) + " of the corpus's " +
                           std::to_string(corpusFiles) + " files " +
                           (corpusFiles - files.size() == 1 ? "is" : "are") + " in no input");
    }
    for (const auto& [key, count] : counts) {
        if (count > 1) {
            problems.push_back("doubled (" + std::to_string(count) + " times): " + Named(key));
        }
    }
    for (const std::string& file : files) {
        for (const std::string& combination : combinations) {
            // A combination is the key of a record without its file: it starts with a line end.
            if (counts.count(file + combination) == 0) {
                problems.push_back("missing: " + Named(file + combination));
            }
        }
    }
    if (!problems.empty()) {
        Say("merge: the inputs do not make one run:");
        for (const std::string& problem : problems) {
            std::fprintf(stderr, "  %s\n", problem.c_str());
        }
        return 1;
    }

    std::vector<Row> rows;
    std::map<std::string, std::set<std::string>> machines;  // per summary label
    Json records = Json::array();
    for (const std::string& file : files) {
        for (const Merged& merged : byFile[file]) {
            rows.push_back(merged.row);
            records.push_back(*merged.record);
            if (merged.row.error.empty()) {
                machines[merged.row.label].insert(merged.machine);
            }
        }
    }
    Json summaries = Json::array();
    bool mixed = false;
    for (const CodecSummary& summary : SummarizeCodecs(rows)) {
        Json line = Json::parse(JsonLinesSummary(summary));
        line.erase("type");
        line["mixed_machines"] = machines[summary.label].size() > 1;
        mixed = mixed || machines[summary.label].size() > 1;
        summaries.push_back(std::move(line));
    }
    if (mixed) {
        Say("merge: the shards ran on different machines: their speed summaries are marked "
            "\"mixed_machines\"");
    }
    const RdSummary lossy = SummarizeRateDistortion(rows, rd);

    std::string text;
    if (format == ReportFormat::JsonLines) {
        const auto add = [&](const char* type, const Json& object) {
            Json line{{"type", type}};
            line.update(object);
            text += line.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
        };
        for (const Shard& shard : shards) {
            for (const Json& context : shard.contexts) {
                add("context", context);
            }
        }
        for (const Json& record : records) {
            add("record", record);
        }
        for (const Json& summary : summaries) {
            add("summary", summary);
        }
        if (!lossy.empty) {
            text += JsonLinesRateDistortion(lossy);
        }
    } else {
        Json document = shards.front().contexts.front();
        document.erase("type");
        document.erase("settings");
        Json contexts = Json::array();
        for (const Shard& shard : shards) {
            for (const Json& context : shard.contexts) {
                contexts.push_back(context);
            }
        }
        document["shards"] = contexts;
        document["files"] = files;
        document["results"] = records;
        document["summary"] = summaries;
        if (!lossy.empty) {
            Json object = Json::parse(JsonLinesRateDistortion(lossy));
            object.erase("type");
            document["rate_distortion"] = object;
        }
        text = document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
    }
    std::FILE* stream = std::fopen(output.c_str(), "w");
    if (stream == nullptr) {
        Say(output + ": cannot write the output (" + std::strerror(errno) + ")");
        return 1;
    }
    FileSink sink(stream, true);
    sink.Write(text);
    if (std::fclose(stream) != 0 || sink.Error() != 0) {
        Say(output + ": cannot write the output (" +
            std::strerror(sink.Error() != 0 ? sink.Error() : errno) + ")");
        return 1;
    }
    return 0;
}

}  // namespace

int RunMerge(const std::vector<std::string>& inputs, const std::string& output, const RdOptions& rd,
             const CodecRegistry& registry) {
    try {
        return Merge(inputs, output, rd, registry);
    } catch (const Json::exception& error) {
        // A value of the wrong type where the layout has another.
        Say("merge: an input is not a Tallox result file (" + std::string(error.what()) + ")");
        return 1;
    }
}

}  // namespace tallox::cli
