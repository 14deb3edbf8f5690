#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "engine/adapters/library_codecs.h"
#include "engine/codec.h"
#include "engine/own_codecs.h"

namespace tallox {

const char* CodecInputName(CodecInput input) {
    return input == CodecInput::Pixels ? "pixels" : "bytes";
}

void CodecRegistry::Add(CodecEntry entry) { entries_.push_back(std::move(entry)); }

const CodecEntry* CodecRegistry::Find(std::string_view name) const {
    for (const CodecEntry& entry : entries_) {
        if (name == entry.info.name) {
            return &entry;
        }
    }
    return nullptr;
}

std::string CodecRegistry::Names() const {
    std::string names;
    for (const CodecEntry& entry : entries_) {
        names += (names.empty() ? "" : ", ") + entry.info.name;
    }
    return names;
}

const CodecRegistry& DefaultRegistry() {
    static const CodecRegistry registry = [] {
        CodecRegistry r;
        r.Add(MakeJpegEntry());
        for (const OwnCodec& codec : OwnCodecs()) {
            r.Add(MakeOwnEntry(codec));
        }
        r.Add(MakeMemcpyEntry());
        AddLibraryCodecs(r);
        return r;
    }();
    return registry;
}

std::vector<double> ValuesOf(const CodecEntry& entry, const CodecSetting& setting) {
    std::vector<double> values = setting.values;
    const std::vector<CodecParameter>& parameters = entry.info.parameters;
    for (size_t i = values.size(); i < parameters.size(); ++i) {
        values.push_back(parameters[i].fallback);
    }
    values.resize(parameters.size());
    return values;
}

std::string FormatValue(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

std::string ParamsText(const CodecEntry& entry, const std::vector<double>& values) {
    std::string text;
    const std::vector<CodecParameter>& parameters = entry.info.parameters;
    for (size_t i = 0; i < parameters.size() && i < values.size(); ++i) {
        if (i == 0) {
            text = FormatValue(values[0]);
        } else if (values[i] != parameters[i].fallback) {
            text.append(":").append(parameters[i].name).append("=").append(FormatValue(values[i]));
        }
    }
    return text;
}

std::string TabbedLabel(const std::string& name) {
    return name + (name.size() < 8 ? "\t\t" : "\t");
}

std::string LabelOf(const CodecEntry& entry, const std::vector<double>& values) {
    if (entry.label) {
        return entry.label(values);
    }
    std::string name = entry.info.displayName;
    const std::vector<CodecParameter>& parameters = entry.info.parameters;
    for (size_t i = 0; i < parameters.size() && i < values.size(); ++i) {
        const CodecParameter& parameter = parameters[i];
        if (!parameter.labelPrefix.empty()) {
            name += " " + parameter.labelPrefix + FormatValue(values[i]);
        } else if (values[i] != parameter.fallback) {
            name += " " + parameter.name + "=" + FormatValue(values[i]);
        }
    }
    return TabbedLabel(name);
}

namespace {

// A number in plain decimal, a sign and a fraction allowed; nothing for anything else.
std::optional<double> ParseNumber(std::string_view text) {
    if (text.empty() || text.size() > 32 ||
        text.find_first_not_of("+-0123456789.") != std::string_view::npos) {
        return std::nullopt;
    }
    const std::string copy(text);
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(copy.c_str(), &end);
    if (end != copy.c_str() + copy.size() || errno != 0 || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::string RangeText(const CodecParameter& parameter) {
    if (!parameter.choices.empty()) {
        std::string text;
        for (const double choice : parameter.choices) {
            text += (text.empty() ? "" : ", ") + FormatValue(choice);
        }
        return "one of " + text;
    }
    return FormatValue(parameter.minimum) + " to " + FormatValue(parameter.maximum);
}

// Whether `value` is one `parameter` takes; the reason when it is not.
std::optional<Error> CheckValue(const CodecEntry& entry, const CodecParameter& parameter,
                                double value) {
    const bool allowed = parameter.choices.empty()
                             ? value >= parameter.minimum && value <= parameter.maximum &&
                                   (!parameter.whole || value == std::floor(value))
                             : std::find(parameter.choices.begin(), parameter.choices.end(),
                                         value) != parameter.choices.end();
    if (allowed) {
        return std::nullopt;
    }
    return Error{entry.info.name + ": " + parameter.name + " " + FormatValue(value) +
                 " is out of range (" + RangeText(parameter) +
                 (parameter.whole && parameter.choices.empty() ? ", whole numbers" : "") + ")"};
}

// "A", "A-B" or "A-B:S" (the step) as the values it stands for, each checked.
Result<std::vector<double>> ParseValues(const CodecEntry& entry, std::string_view text,
                                        std::optional<std::string_view> step) {
    const CodecParameter& parameter = entry.info.parameters.front();
    const auto bad = [&] {
        std::string given(text);
        if (step) {
            given.append(":").append(*step);
        }
        std::string message = entry.info.name;
        message.append(": '").append(given).append("' is not a ").append(parameter.name);
        message.append(", a list or a range such as 1-9:2 (").append(RangeText(parameter));
        return Error{message + ")"};
    };
    // The dash of a range is the first one past the first character, which may be a sign.
    const size_t dash = text.find('-', 1);
    std::vector<double> values;
    if (dash == std::string_view::npos) {
        const std::optional<double> value = ParseNumber(text);
        if (!value || step) {
            return bad();
        }
        values.push_back(*value);
    } else {
        const std::optional<double> first = ParseNumber(text.substr(0, dash));
        const std::optional<double> last = ParseNumber(text.substr(dash + 1));
        const std::optional<double> by = step ? ParseNumber(*step) : std::optional<double>(1.0);
        if (!first || !last || !by || *by <= 0 || *last < *first || (*last - *first) / *by > 1000) {
            return bad();
        }
        // Counted in steps, so that a fractional step does not drift past the end.
        const auto count = static_cast<int64_t>(std::floor((*last - *first) / *by + 1e-9));
        for (int64_t i = 0; i <= count; ++i) {
            values.push_back(*first + static_cast<double>(i) * *by);
        }
    }
    for (const double value : values) {
        if (std::optional<Error> error = CheckValue(entry, parameter, value)) {
            return *error;
        }
    }
    return values;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> items;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find(separator, start), text.size());
        items.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return items;
}

}  // namespace

Result<std::vector<CodecSetting>> ParseCodecList(std::string_view text,
                                                 const CodecRegistry& registry) {
    std::vector<CodecSetting> settings;
    const CodecEntry* current = nullptr;  // the codec whose values the list goes on with
    // The named values of the current codec's group, applied to each of its settings.
    size_t groupStart = 0;
    std::vector<std::pair<size_t, double>> named;
    const auto closeGroup = [&] {
        for (size_t i = groupStart; i < settings.size(); ++i) {
            for (const auto& [index, value] : named) {
                settings[i].values[index] = value;
            }
        }
        named.clear();
        groupStart = settings.size();
    };
    for (const std::string_view item : Split(text, ',')) {
        if (item.empty()) {
            continue;
        }
        std::vector<std::string_view> parts = Split(item, ':');
        const CodecEntry* entry = registry.Find(parts[0]);
        // A value of the codec before it, unless the item names a codec.
        const bool continues =
            entry == nullptr && current != nullptr &&
            parts[0].find_first_not_of("+-0123456789.") == std::string_view::npos;
        if (entry == nullptr && !continues) {
            return Error{"'" + std::string(parts[0]) + "' is not a codec: one of " +
                         registry.Names()};
        }
        if (!continues) {
            closeGroup();
            current = entry;
            parts.erase(parts.begin());
            if (parts.empty()) {
                CodecSetting setting{current->info.name, ValuesOf(*current, {})};
                settings.push_back(setting);
                continue;
            }
        }
        const CodecInfo& info = current->info;
        std::optional<std::string_view> step;
        size_t next = 1;
        if (parts.size() > 1 && parts[1].find('=') == std::string_view::npos) {
            step = parts[1];
            next = 2;
        }
        if (info.parameters.empty()) {
            return Error{info.name + " takes no parameter"};
        }
        const bool onlyNamed = parts[0].find('=') != std::string_view::npos;
        if (!onlyNamed) {
            Result<std::vector<double>> values = ParseValues(*current, parts[0], step);
            if (!values) {
                return values.error();
            }
            for (const double value : *values) {
                CodecSetting setting{info.name, ValuesOf(*current, {})};
                setting.values[0] = value;
                settings.push_back(setting);
            }
        } else {
            settings.push_back({info.name, ValuesOf(*current, {})});
            next = 0;
        }
        for (size_t i = next; i < parts.size(); ++i) {
            const size_t equals = parts[i].find('=');
            const std::string_view key = parts[i].substr(0, equals);
            const auto parameter =
                std::find_if(info.parameters.begin() + 1, info.parameters.end(),
                             [&](const CodecParameter& p) { return key == p.name; });
            if (equals == std::string_view::npos || parameter == info.parameters.end()) {
                std::string names;
                for (size_t p = 1; p < info.parameters.size(); ++p) {
                    names += (names.empty() ? "" : ", ") + info.parameters[p].name;
                }
                return Error{info.name + ": '" + std::string(parts[i]) + "' names no parameter" +
                             (names.empty()
                                  ? std::string(" (it has only ") + info.parameters[0].name + ")"
                                  : " (name=value, with name one of " + names + ")")};
            }
            const std::optional<double> value = ParseNumber(parts[i].substr(equals + 1));
            if (!value) {
                return Error{info.name + ": '" + std::string(parts[i].substr(equals + 1)) +
                             "' is not a number"};
            }
            if (std::optional<Error> error = CheckValue(*current, *parameter, *value)) {
                return *error;
            }
            named.emplace_back(static_cast<size_t>(parameter - info.parameters.begin()), *value);
        }
    }
    closeGroup();
    if (settings.empty()) {
        return Error{"the list is empty"};
    }
    // The same setting twice is one row.
    std::vector<CodecSetting> unique;
    for (CodecSetting& setting : settings) {
        if (std::find(unique.begin(), unique.end(), setting) == unique.end()) {
            unique.push_back(std::move(setting));
        }
    }
    return unique;
}

}  // namespace tallox
