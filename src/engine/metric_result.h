// What a quality metric returns: its figure, or the reason there is none. Callers show the
// reason beside the row instead of a number, so it is a sentence, not a code.
#pragma once
#include <optional>
#include <string>
#include <utility>

namespace tallox {

template <typename T>
struct MetricResult {
    std::optional<T> value;
    std::string reason;  // empty when there is a value

    static MetricResult Of(T v) { return {std::move(v), {}}; }
    static MetricResult Failed(std::string why) { return {std::nullopt, std::move(why)}; }
};

}  // namespace tallox
