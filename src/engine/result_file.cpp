#include "engine/result_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <set>
#include <tuple>

namespace tallox {
namespace {

using Json = nlohmann::json;

constexpr const char* kNotResults = "not a Tallox result file: ";

// The string under `key`, or "" when there is none or it is no string.
std::string Text(const Json& object, const char* key) {
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// The context of the first object of a file: its program version, machine, build and
// libraries. An error when it is no Tallox context or of another schema.
std::string ReadContext(const Json& object, ResultContext& context) {
    if (!object.is_object() || !object.contains("tallox") || !object["tallox"].is_string()) {
        return std::string(kNotResults) + "no \"tallox\" version at its start";
    }
    if (const auto schema = object.find("schema"); schema != object.end()) {
        if (!schema->is_number_integer() || schema->get<int64_t>() != kResultSchema) {
            return "result schema version " + schema->dump() + ", but this program reads version " +
                   std::to_string(kResultSchema);
        }
    }
    context.version = object["tallox"].get<std::string>();
    if (const auto machine = object.find("machine");
        machine != object.end() && machine->is_object()) {
        context.cpu = Text(*machine, "cpu");
    }
    const auto addLibraries = [&](const Json& libraries) {
        for (const auto& [name, version] : libraries.items()) {
            if (version.is_string()) {
                context.libraries[name] = version.get<std::string>();
            }
        }
    };
    if (const auto build = object.find("build"); build != object.end() && build->is_object()) {
        context.compiler = Text(*build, "compiler");
        context.buildType = Text(*build, "build_type");
        for (const auto& [name, value] : build->items()) {
            if (name == "simd" && value.is_object()) {
                for (const auto& [kernel, target] : value.items()) {
                    context.simd +=
                        (context.simd.empty() ? "" : ", ") + kernel + " " +
                        (target.is_string() ? target.get<std::string>() : target.dump());
                }
            } else if (name == "libraries" && value.is_object()) {
                addLibraries(value);
            } else if (name != "compiler" && name != "build_type" && value.is_string()) {
                context.libraries[name] = value.get<std::string>();  // "qt", "libjpeg_turbo"
            }
        }
    }
    if (const auto libraries = object.find("libraries");
        libraries != object.end() && libraries->is_object()) {
        addLibraries(*libraries);
    }
    if (const auto input = object.find("input"); input != object.end() && input->is_object()) {
        context.input = Text(*input, "path");
        context.inputSha256 = Text(*input, "sha256");
    }
    return {};
}

// The number under `key` into `value`; null or absent leaves it empty. An error for any other
// type.
std::string ReadNumber(const Json& object, const char* key, std::optional<double>& value) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) {
        return {};
    }
    if (!it->is_number()) {
        return std::string("\"") + key + "\" is not a number";
    }
    value = it->get<double>();
    return {};
}

std::string ReadString(const Json& object, const char* key, std::string& value) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) {
        return {};
    }
    if (!it->is_string()) {
        return std::string("\"") + key + "\" is not a string";
    }
    value = it->get<std::string>();
    return {};
}

// A JPEG row's settings as its parameters, for records written before they had "params".
std::string JpegParams(const Json& object) {
    const auto quality = object.find("quality");
    if (quality == object.end() || !quality->is_number()) {
        return {};
    }
    std::string params = "q" + quality->dump();
    if (const std::string subsampling = Text(object, "subsampling"); !subsampling.empty()) {
        params += " " + subsampling;
    }
    for (const char* flag : {"progressive", "optimize"}) {
        if (const auto it = object.find(flag);
            it != object.end() && it->is_boolean() && it->get<bool>()) {
            params += std::string(" ") + flag;
        }
    }
    return params;
}

std::string ReadRecord(const Json& object, ResultRecord& record) {
    if (!object.is_object()) {
        return "is not an object";
    }
    if (!object.contains("codec") || !object["codec"].is_string()) {
        return "has no \"codec\"";
    }
    record.codec = object["codec"].get<std::string>();
    std::string error;
    const auto read = [&](std::string result) {
        if (error.empty()) {
            error = std::move(result);
        }
    };
    read(ReadString(object, "file", record.file));
    if (object.contains("params")) {
        read(ReadString(object, "params", record.params));
    } else {
        record.params = JpegParams(object);
    }
    read(ReadString(object, "label", record.label));
    read(ReadString(object, "error", record.error));
    read(ReadNumber(object, "median_ms", record.medianMs));
    read(ReadNumber(object, "mad_ms", record.madMs));
    read(ReadNumber(object, "output_bytes", record.outputBytes));
    read(ReadNumber(object, "bpp", record.bpp));
    read(ReadNumber(object, "psnr_y", record.psnrY));
    read(ReadNumber(object, "psnr_rgb", record.psnrRgb));
    read(ReadNumber(object, "ssim", record.ssim));
    if (const auto samples = object.find("samples_ms");
        samples != object.end() && !samples->is_null()) {
        if (!samples->is_array()) {
            read("\"samples_ms\" is not a list");
        } else {
            record.samplesMs.reserve(samples->size());
            for (const Json& sample : *samples) {
                if (!sample.is_number()) {
                    read("\"samples_ms\" holds something other than numbers");
                    break;
                }
                record.samplesMs.push_back(sample.get<double>());
            }
        }
    }
    return error;
}

// Adds `record` unless its (file, codec, params) came before; then a note says so.
class RecordList {
public:
    explicit RecordList(ResultFile& file) : file_(file) {}

    void Add(ResultRecord record, const std::string& where) {
        if (!keys_.emplace(record.file, record.codec, record.params).second) {
            file_.notes.push_back(where + " repeats " + record.codec +
                                  (record.params.empty() ? "" : " " + record.params) +
                                  (record.file.empty() ? "" : " on " + record.file) +
                                  "; the first one is kept");
            return;
        }
        file_.records.push_back(std::move(record));
    }

private:
    ResultFile& file_;
    std::set<std::tuple<std::string, std::string, std::string>> keys_;
};

// A whole JSON document; `oneLine` when it is JSON Lines' context with no records after it yet.
ResultFileRead FromDocument(const Json& document, bool oneLine) {
    ResultFile file;
    if (std::string error = ReadContext(document, file.context); !error.empty()) {
        return {std::nullopt, error};
    }
    const auto results = document.find("results");
    if (results == document.end() && oneLine) {
        return {std::move(file), {}};
    }
    if (results == document.end() || !results->is_array()) {
        return {std::nullopt, std::string(kNotResults) + "no \"results\" list"};
    }
    RecordList list(file);
    file.records.reserve(results->size());
    for (size_t i = 0; i < results->size(); ++i) {
        ResultRecord record;
        const std::string where = "record " + std::to_string(i + 1);
        if (std::string error = ReadRecord((*results)[i], record); !error.empty()) {
            return {std::nullopt, where + " " + error};
        }
        list.Add(std::move(record), where);
    }
    return {std::move(file), {}};
}

ResultFileRead FromLines(std::string_view text, const std::string& documentError) {
    std::vector<std::string_view> lines;
    for (size_t start = 0; start < text.size();) {
        const size_t end = std::min(text.find('\n', start), text.size());
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    while (!lines.empty() && lines.back().find_first_not_of(" \t\r") == std::string_view::npos) {
        lines.pop_back();
    }
    const auto parse = [](std::string_view line) { return Json::parse(line, nullptr, false); };
    const Json first = lines.empty() ? Json(Json::value_t::discarded) : parse(lines[0]);
    if (first.is_discarded()) {
        return {std::nullopt, std::string(kNotResults) + documentError};
    }
    ResultFile file;
    if (std::string error = ReadContext(first, file.context); !error.empty()) {
        return {std::nullopt, error};
    }
    RecordList list(file);
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string where = "line " + std::to_string(i + 1);
        const Json object = parse(lines[i]);
        if (object.is_discarded()) {
            if (i + 1 == lines.size()) {
                file.notes.push_back(where + " is cut short (was the run stopped?); skipped");
                break;
            }
            return {std::nullopt, where + " is not JSON"};
        }
        if (!object.is_object() || Text(object, "type") != "record") {
            continue;  // summaries, and kinds of line this program does not know
        }
        ResultRecord record;
        if (std::string error = ReadRecord(object, record); !error.empty()) {
            return {std::nullopt, where + ": the record " + error};
        }
        list.Add(std::move(record), where);
    }
    return {std::move(file), {}};
}

}  // namespace

ResultFileRead ParseResultFile(std::string_view text) {
    // A JSON document parses whole; JSON Lines stop the parser at their second line.
    std::string documentError;
    try {
        const Json document = Json::parse(text);
        const size_t end = text.find('\n');
        return FromDocument(document,
                            end == std::string_view::npos ||
                                text.find_first_not_of(" \t\r\n", end) == std::string_view::npos);
    } catch (const Json::parse_error& error) {
        documentError = error.what();
        documentError.erase(0, documentError.find(' ') + 1);  // "[json.exception...] "
    }
    return FromLines(text, documentError);
}

ResultFileRead ReadResultFile(const std::string& path) {
    const auto failed = [&](int error) {
        return ResultFileRead{std::nullopt,
                              path + ": cannot read it (" + std::strerror(error) + ")"};
    };
    std::FILE* stream = std::fopen(path.c_str(), "rb");
    if (stream == nullptr) {
        return failed(errno);
    }
    std::string text;
    char block[1 << 16];
    size_t count = 0;
    while ((count = std::fread(block, 1, sizeof block, stream)) > 0) {
        text.append(block, count);
    }
    const int error = std::ferror(stream) ? (errno != 0 ? errno : EIO) : 0;
    std::fclose(stream);
    if (error != 0) {
        return failed(error);
    }
    ResultFileRead read = ParseResultFile(text);
    if (!read.file) {
        read.error = path + ": " + read.error;
    }
    return read;
}

}  // namespace tallox
