#include "cli/compare.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <unordered_map>
#include <vector>

#include "engine/result_file.h"
#include "engine/statistics.h"

namespace tallox::cli {
namespace {

using Json = nlohmann::ordered_json;

// One row: a record in both files, or in one only (the other pointer null).
struct Compared {
    Compared(const ResultRecord* baseRecord, const ResultRecord* nextRecord)
        : base(baseRecord), next(nextRecord) {}

    const ResultRecord* base;
    const ResultRecord* next;
    RatioEstimate speed{NAN, NAN, NAN};  // new over base median call time
    std::optional<MannWhitney> test;     // when both kept their call times
    bool significant = false;

    bool Failed() const { return !base->error.empty() || !next->error.empty(); }
    // Per cent more time per call: +30 for a codec 1.3 times as slow.
    double ChangePercent() const { return (speed.ratio - 1.0) * 100.0; }
};

Compared Compare(const ResultRecord& base, const ResultRecord& next, double alpha) {
    Compared row(&base, &next);
    if (row.Failed()) {
        return row;
    }
    if (!base.samplesMs.empty() && !next.samplesMs.empty()) {
        row.speed = MedianRatio(base.samplesMs, next.samplesMs);
        row.test = MannWhitneyTest(next.samplesMs, base.samplesMs);
        row.significant = row.test->pValue < alpha;
    } else if (base.medianMs && next.medianMs) {
        row.speed.ratio = *next.medianMs / *base.medianMs;
    }
    return row;
}

std::string Printed(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// A figure of one side, or null.
Json Value(const std::optional<double>& value) {
    return value && std::isfinite(*value) ? Json(*value) : Json(nullptr);
}
Json Value(double value) { return std::isfinite(value) ? Json(value) : Json(nullptr); }

// The new figure less the base one, when both have it.
std::optional<double> Change(const std::optional<double>& base, const std::optional<double>& next) {
    if (!base || !next) {
        return std::nullopt;
    }
    return *next - *base;
}

// The row's fields for JSON and CSV, in their order.
Json Fields(const Compared& row) {
    const ResultRecord& any = row.base ? *row.base : *row.next;
    Json fields{{"file", any.file},
                {"codec", any.codec},
                {"params", any.params},
                {"present", row.base && row.next ? "both"
                            : row.base           ? "base"
                                                 : "new"}};
    const bool both = row.base && row.next;
    const auto side = [](const ResultRecord* record, auto member) {
        return record ? Value(record->*member) : Json(nullptr);
    };
    fields["base_median_ms"] = side(row.base, &ResultRecord::medianMs);
    fields["new_median_ms"] = side(row.next, &ResultRecord::medianMs);
    fields["ratio"] = Value(row.speed.ratio);
    fields["ratio_low"] = Value(row.speed.low);
    fields["ratio_high"] = Value(row.speed.high);
    fields["p_value"] = row.test ? Value(row.test->pValue) : Json(nullptr);
    fields["significant"] = row.test ? Json(row.significant) : Json(nullptr);
    fields["base_output_bytes"] = side(row.base, &ResultRecord::outputBytes);
    fields["new_output_bytes"] = side(row.next, &ResultRecord::outputBytes);
    const auto change = [&](auto member) {
        return both ? Value(Change(row.base->*member, row.next->*member)) : Json(nullptr);
    };
    fields["output_bytes_change"] = change(&ResultRecord::outputBytes);
    fields["bpp_change"] = change(&ResultRecord::bpp);
    fields["psnr_y_change"] = change(&ResultRecord::psnrY);
    fields["ssim_change"] = change(&ResultRecord::ssim);
    const auto error = [](const ResultRecord* record) {
        return record && !record->error.empty() ? Json(record->error) : Json(nullptr);
    };
    fields["base_error"] = error(row.base);
    fields["new_error"] = error(row.next);
    return fields;
}

// A CSV field: quoted, its quotes doubled, when it holds a separator, a quote or a line end.
std::string CsvField(const Json& value) {
    std::string text = value.is_string()         ? value.get<std::string>()
                       : value.is_null()         ? std::string()
                       : value.is_boolean()      ? (value.get<bool>() ? "true" : "false")
                       : value.is_number_float() ? Printed("%.9g", value.get<double>())
                                                 : value.dump();
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted.append(c == '"' ? 2 : 1, c);
    }
    return quoted + "\"";
}

// The change of a figure for people: "=" when equal, "-" when a side lacks it.
std::string ChangeText(const std::optional<double>& base, const std::optional<double>& next,
                       const char* format) {
    if (!base || !next) {
        return base || next ? "-" : "";
    }
    return *base == *next ? "=" : Printed(format, *next - *base);
}

std::string Percent(double ratio) {
    return std::isinf(ratio) ? "+inf%" : Printed("%+.1f%%", (ratio - 1.0) * 100.0);
}

// The text and Markdown table: a name column, the file when the runs had several, the times,
// the change with its interval and p, then size and quality changes where a record has them.
struct Table {
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> rows;
    size_t leftColumns = 1;  // the names, aligned left
};

Table MakeTable(const std::vector<Compared>& rows) {
    bool files = false;
    bool quality = false;
    for (const Compared& row : rows) {
        for (const ResultRecord* record : {row.base, row.next}) {
            if (record) {
                files |= !record->file.empty();
                quality |= record->bpp || record->psnrY || record->ssim;
            }
        }
    }
    Table table;
    table.header = {"codec"};
    if (files) {
        table.header.push_back("file");
        table.leftColumns = 2;
    }
    for (const char* name : {"base ms", "new ms", "time", "95% CI", "p", "bytes"}) {
        table.header.push_back(name);
    }
    if (quality) {
        for (const char* name : {"bpp", "PSNR-Y", "SSIM"}) {
            table.header.push_back(name);
        }
    }
    for (const Compared& row : rows) {
        if (!row.base || !row.next) {
            continue;  // listed after the table
        }
        const ResultRecord& base = *row.base;
        const ResultRecord& next = *row.next;
        std::vector<std::string> cells{base.codec + (base.params.empty() ? "" : " " + base.params)};
        if (files) {
            cells.push_back(base.file);
        }
        const auto ms = [](const std::optional<double>& value) {
            return value ? Printed("%.4g", *value) : std::string("-");
        };
        cells.push_back(ms(base.medianMs));
        cells.push_back(ms(next.medianMs));
        if (row.Failed()) {
            cells.push_back(base.error.empty() ? "new failed: " + next.error
                                               : "base failed: " + base.error);
            table.rows.push_back(std::move(cells));
            continue;
        }
        cells.push_back(std::isfinite(row.speed.ratio)
                            ? Percent(row.speed.ratio) + (row.test && !row.significant ? " ~" : "")
                            : "-");
        cells.push_back(std::isnan(row.speed.low) ? std::string("-")
                                                  : std::string("[")
                                                        .append(Percent(row.speed.low))
                                                        .append(", ")
                                                        .append(Percent(row.speed.high))
                                                        .append("]"));
        cells.push_back(row.test ? Printed("%.3f", row.test->pValue) : "-");
        const std::string bytes = ChangeText(base.outputBytes, next.outputBytes, "%+.0f");
        cells.push_back(bytes == "=" && next.outputBytes ? Printed("%.0f", *next.outputBytes)
                                                         : bytes);
        if (quality) {
            cells.push_back(ChangeText(base.bpp, next.bpp, "%+.6g"));
            cells.push_back(ChangeText(base.psnrY, next.psnrY, "%+.6g"));
            cells.push_back(ChangeText(base.ssim, next.ssim, "%+.6g"));
        }
        table.rows.push_back(std::move(cells));
    }
    return table;
}

std::string AlignedTable(const Table& table) {
    std::vector<size_t> widths(table.header.size(), 0);
    const auto measure = [&](const std::vector<std::string>& cells) {
        for (size_t i = 0; i < cells.size(); ++i) {
            widths[i] = std::max(widths[i], cells[i].size());
        }
    };
    measure(table.header);
    for (const auto& cells : table.rows) {
        measure(cells);
    }
    std::string text;
    const auto line = [&](const std::vector<std::string>& cells) {
        std::string out;
        for (size_t i = 0; i < cells.size(); ++i) {
            const std::string pad(widths[i] - std::min(widths[i], cells[i].size()), ' ');
            out += (i == 0 ? "" : "  ") + (i < table.leftColumns ? cells[i] + pad : pad + cells[i]);
        }
        // A failed row's message runs on past the columns it leaves empty.
        out.erase(out.find_last_not_of(' ') + 1);
        text += out + "\n";
    };
    line(table.header);
    for (const auto& cells : table.rows) {
        line(cells);
    }
    return text;
}

std::string MarkdownTable(const Table& table) {
    const auto cell = [](const std::string& text) {
        std::string escaped;
        for (const char c : text) {
            if (c == '|') {
                escaped += '\\';
            }
            escaped += c == '\r' || c == '\n' ? ' ' : c;
        }
        return escaped;
    };
    std::string text = "|";
    std::string rule = "|";
    for (size_t i = 0; i < table.header.size(); ++i) {
        text += " " + table.header[i] + " |";
        rule += i < table.leftColumns ? "---|" : "---:|";
    }
    text += "\n" + rule + "\n";
    for (const auto& cells : table.rows) {
        std::string line = "|";
        for (size_t i = 0; i < table.header.size(); ++i) {
            line.append(" ").append(i < cells.size() ? cell(cells[i]) : std::string()).append(" |");
        }
        text += line + "\n";
    }
    return text;
}

// "codec params on file" for the lists of records in one file only.
std::string Name(const ResultRecord& record) {
    return record.codec + (record.params.empty() ? "" : " " + record.params) +
           (record.file.empty() ? "" : " on " + record.file);
}

std::string Describe(const ResultContext& c) {
    std::string text = "tallox " + c.version;
    for (const std::string* part : {&c.cpu, &c.compiler, &c.buildType}) {
        if (!part->empty()) {
            text += ", " + *part;
        }
    }
    return text;
}

// Where the runs' circumstances differ, a line each: machine, build, library versions, input.
std::vector<std::string> ContextNotes(const ResultContext& base, const ResultContext& next) {
    std::vector<std::string> notes;
    if (base.cpu != next.cpu) {
        notes.push_back("the runs come from different machines: \"" + base.cpu + "\" and \"" +
                        next.cpu + "\"");
    }
    const auto build = [](const ResultContext& c) {
        return "tallox " + c.version + ", " + c.compiler + ", " + c.buildType +
               (c.simd.empty() ? "" : ", SIMD " + c.simd);
    };
    if (build(base) != build(next)) {
        notes.push_back("the runs come from different builds: " + build(base) + " and " +
                        build(next));
    }
    std::string libraries;
    const auto version = [](const ResultContext& c, const std::string& name) {
        const auto it = c.libraries.find(name);
        return it == c.libraries.end() ? std::string("none") : it->second;
    };
    std::vector<std::string> names;
    for (const auto* c : {&base, &next}) {
        for (const auto& [name, unused] : c->libraries) {
            if (version(base, name) != version(next, name) &&
                std::find(names.begin(), names.end(), name) == names.end()) {
                names.push_back(name);
                libraries += (libraries.empty() ? "" : "; ") + name + " " + version(base, name) +
                             " and " + version(next, name);
            }
        }
    }
    if (!libraries.empty()) {
        notes.push_back("the runs use different library versions: " + libraries);
    }
    if (base.inputSha256 != next.inputSha256) {
        notes.push_back("the runs measured different inputs: " + base.input + " and " + next.input);
    }
    return notes;
}

std::vector<Compared> CompareRecords(const ResultFile& base, const ResultFile& next, double alpha) {
    const auto key = [](const ResultRecord& r) {
        return r.file + '\0' + r.codec + '\0' + r.params;
    };
    std::unordered_map<std::string, const ResultRecord*> inNew;
    inNew.reserve(next.records.size());
    for (const ResultRecord& record : next.records) {
        inNew.emplace(key(record), &record);
    }
    std::vector<Compared> rows;
    rows.reserve(base.records.size() + next.records.size());
    for (const ResultRecord& record : base.records) {
        const auto match = inNew.find(key(record));
        if (match == inNew.end()) {
            rows.emplace_back(&record, nullptr);
        } else {
            rows.push_back(Compare(record, *match->second, alpha));
            inNew.erase(match);
        }
    }
    for (const ResultRecord& record : next.records) {
        if (inNew.contains(key(record))) {
            rows.emplace_back(nullptr, &record);
        }
    }
    return rows;
}

}  // namespace

int RunCompare(const CompareOptions& options, std::string& out, std::string& err) {
    const ResultFileRead base = ReadResultFile(options.base);
    const ResultFileRead next = ReadResultFile(options.next);
    for (const ResultFileRead* read : {&base, &next}) {
        if (!read->file) {
            err += "tallox-cli: compare: " + read->error + "\n";
        }
    }
    if (!base.file || !next.file) {
        return 2;
    }
    const std::vector<Compared> rows = CompareRecords(*base.file, *next.file, options.alpha);
    std::vector<std::string> notes = ContextNotes(base.file->context, next.file->context);
    for (const auto& [path, file] :
         {std::pair{&options.base, &*base.file}, std::pair{&options.next, &*next.file}}) {
        for (const std::string& note : file->notes) {
            notes.push_back(*path + ": " + note);
        }
    }

    std::vector<const Compared*> tooSlow;
    int64_t slower = 0;
    int64_t faster = 0;
    int64_t compared = 0;
    bool unsampled = false;
    for (const Compared& row : rows) {
        if (!row.base || !row.next || row.Failed()) {
            continue;
        }
        ++compared;
        unsampled |= !row.test;
        if (row.significant) {
            (row.speed.ratio > 1.0 ? slower : faster) += 1;
            if (options.failAbovePercent && row.ChangePercent() > *options.failAbovePercent) {
                tooSlow.push_back(&row);
            }
        }
    }

    switch (options.format) {
        case CompareFormat::Json: {
            const auto context = [](const std::string& path, const ResultContext& c) {
                return Json{{"path", path},
                            {"tallox", c.version},
                            {"cpu", c.cpu},
                            {"compiler", c.compiler},
                            {"build_type", c.buildType},
                            {"simd", c.simd},
                            {"libraries", c.libraries}};
            };
            Json document{{"base", context(options.base, base.file->context)},
                          {"new", context(options.next, next.file->context)},
                          {"alpha", options.alpha},
                          {"notes", notes},
                          {"results", Json::array()}};
            for (const Compared& row : rows) {
                document["results"].push_back(Fields(row));
            }
            out += document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
            break;
        }
        case CompareFormat::Csv: {
            const ResultRecord none;
            std::string header;
            const Json fields = Fields(Compared(&none, nullptr));
            for (const auto& field : fields.items()) {
                header += (header.empty() ? "" : ",") + field.key();
            }
            out += header + "\n";
            for (const Compared& row : rows) {
                const Json values = Fields(row);
                std::string line;
                for (const auto& field : values.items()) {
                    line.append(field.key() == "file" ? "" : ",").append(CsvField(field.value()));
                }
                out += line + "\n";
            }
            break;
        }
        case CompareFormat::Text:
        case CompareFormat::Markdown: {
            const bool markdown = options.format == CompareFormat::Markdown;
            const std::string bullet = markdown ? "- " : "";
            out += bullet + "base: " + options.base + " (" + Describe(base.file->context) + ")\n";
            out += bullet + "new:  " + options.next + " (" + Describe(next.file->context) + ")\n";
            for (const std::string& note : notes) {
                out += bullet + "note: " + note + "\n";
            }
            out += "\n";
            const Table table = MakeTable(rows);
            out += markdown ? MarkdownTable(table) : AlignedTable(table);
            for (const bool inBase : {true, false}) {
                std::string list;
                for (const Compared& row : rows) {
                    if ((inBase ? row.next : row.base) == nullptr) {
                        list +=
                            (markdown ? "- " : "  ") + Name(inBase ? *row.base : *row.next) + "\n";
                    }
                }
                if (!list.empty()) {
                    out += std::string("\n") + (markdown ? "Only in " : "only in ") +
                           (inBase ? options.base : options.next) + ":\n" + (markdown ? "\n" : "") +
                           list;
                }
            }
            out += "\n" + std::to_string(compared) + " compared: " + std::to_string(slower) +
                   " slower, " + std::to_string(faster) + " faster at p < " +
                   Printed("%g", options.alpha) + "; ~ marks a change within the noise" +
                   (unsampled ? "; records without call times (samples_ms) are not tested" : "") +
                   "\n";
            break;
        }
    }
    if (tooSlow.empty()) {
        return 0;
    }
    err += "tallox-cli: compare: " + std::to_string(tooSlow.size()) +
           " significantly slower by more than " + Printed("%g", *options.failAbovePercent) + "%:";
    for (const Compared* row : tooSlow) {
        err.append(" ")
            .append(Name(*row->base))
            .append(" (")
            .append(Percent(row->speed.ratio))
            .append(")");
    }
    err += "\n";
    return 1;
}

}  // namespace tallox::cli
