#include "engine/rd_summary.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>

#include "engine/bd_rate.h"
#include "engine/statistics.h"

namespace tallox {
namespace {

const RdMetric* MetricNamed(std::string_view name) {
    for (const RdMetric& metric : RdMetrics()) {
        if (name == metric.name) {
            return &metric;
        }
    }
    return nullptr;
}

bool IsLossy(const Row& row) {
    if (!row.error.empty() || row.yardstick || !row.bpp || !(*row.bpp > 0)) {
        return false;
    }
    return std::any_of(RdMetrics().begin(), RdMetrics().end(),
                       [&](const RdMetric& metric) { return (row.*metric.field).has_value(); });
}

// The curve of `rows` for `metric`: a point per row with a finite figure, a distance negated.
std::vector<RdPoint> Curve(const std::vector<const Row*>& rows, const RdMetric& metric) {
    std::vector<RdPoint> points;
    for (const Row* row : rows) {
        const std::optional<double>& figure = row->*metric.field;
        if (figure && std::isfinite(*figure)) {
            points.push_back({*row->bpp, metric.distance ? -*figure : *figure});
        }
    }
    return points;
}

std::string Setting(const Row& row) {
    if (!row.jpeg) {
        return row.params;
    }
    std::string setting = "q" + std::to_string(row.jpeg->quality);
    setting.append(" ").append(SubsamplingName(row.jpeg->subsampling));
    setting.append(row.jpeg->progressive ? " progressive" : "");
    return setting.append(row.jpeg->optimize ? " optimized" : "");
}

// Each figure's mean per codec, metric and target, in the order of their first figure.
std::vector<RdMean> Means(const std::vector<RdFigure>& figures) {
    std::vector<RdMean> means;
    std::vector<double> sums;
    for (const RdFigure& figure : figures) {
        size_t i = 0;
        while (i < means.size() &&
               (means[i].codec != figure.codec || means[i].metric != figure.metric ||
                means[i].target != figure.target)) {
            ++i;
        }
        if (i == means.size()) {
            means.push_back({figure.codec, figure.metric, figure.target, 0.0, 0, 0});
            sums.push_back(0.0);
        }
        if (figure.value) {
            sums[i] += *figure.value;
            ++means[i].files;
        } else {
            ++means[i].without;
        }
    }
    for (size_t i = 0; i < means.size(); ++i) {
        means[i].mean = means[i].files > 0 ? sums[i] / means[i].files : std::nan("");
    }
    return means;
}

MetricSpread Spread(const Row& row, const RdMetric& metric, const std::vector<double>& values) {
    MetricSpread spread;
    spread.codec = row.codec;
    spread.label = row.label;
    spread.setting = Setting(row);
    spread.metric = metric.name;
    spread.files = static_cast<int32_t>(values.size());
    double sum = 0.0;
    for (const double value : values) {
        sum += value;
    }
    spread.mean = sum / static_cast<double>(values.size());
    double squares = 0.0;
    for (const double value : values) {
        squares += (value - spread.mean) * (value - spread.mean);
    }
    spread.sd = values.size() > 1 ? std::sqrt(squares / static_cast<double>(values.size() - 1))
                                  : std::nan("");
    spread.p5 = Percentile(values, 0.05);
    spread.p50 = Percentile(values, 0.5);
    spread.p95 = Percentile(values, 0.95);
    return spread;
}

}  // namespace

const std::vector<RdMetric>& RdMetrics() {
    static const std::vector<RdMetric> kMetrics{
        {"psnr_y", false, &Row::psnrY},
        {"ssim", false, &Row::ssim},
        {"ssimulacra2", false, &Row::ssimulacra2},
        {"butteraugli_3norm", true, &Row::butteraugli3Norm}};
    return kMetrics;
}

std::string RdMetricNames() {
    std::string names;
    for (const RdMetric& metric : RdMetrics()) {
        names.append(names.empty() ? "" : ",").append(metric.name);
    }
    return names;
}

Result<std::vector<QualityTarget>> ParseQualityTargets(std::string_view text) {
    const size_t equals = text.find('=');
    const std::string metric(text.substr(0, equals));
    if (equals == std::string_view::npos || MetricNamed(metric) == nullptr) {
        std::string message = "'";
        message.append(text).append("' is not METRIC=VALUE[,VALUE...] with METRIC one of ");
        return Error{message.append(RdMetricNames())};
    }
    std::vector<QualityTarget> targets;
    std::string_view values = text.substr(equals + 1);
    while (true) {
        const size_t comma = std::min(values.find(','), values.size());
        const std::string item(values.substr(0, comma));
        char* end = nullptr;
        const double value = std::strtod(item.c_str(), &end);
        if (item.empty() || end != item.c_str() + item.size() || !std::isfinite(value)) {
            std::string message = "'" + item + "' in '";
            return Error{message.append(text).append("' is not a number")};
        }
        targets.push_back({metric, value});
        if (comma == values.size()) {
            return targets;
        }
        values.remove_prefix(comma + 1);
    }
}

RdSummary SummarizeRateDistortion(const std::vector<Row>& rows, const RdOptions& options) {
    RdSummary summary;
    summary.reference = options.reference;
    // The lossy rows per file and codec, both in the order of their first row.
    std::vector<std::string> files;
    std::vector<std::vector<std::pair<std::string, std::vector<const Row*>>>> curves;
    bool sweep = false;
    bool referenceRan = false;
    for (const Row& row : rows) {
        if (!IsLossy(row)) {
            continue;
        }
        referenceRan = referenceRan || row.codec == options.reference;
        const auto file = std::find(files.begin(), files.end(), row.file);
        const size_t f = static_cast<size_t>(file - files.begin());
        if (file == files.end()) {
            files.push_back(row.file);
            curves.emplace_back();
        }
        auto codec = std::find_if(curves[f].begin(), curves[f].end(),
                                  [&](const auto& curve) { return curve.first == row.codec; });
        if (codec == curves[f].end()) {
            codec = curves[f].insert(codec, {row.codec, {}});
        }
        codec->second.push_back(&row);
        sweep = sweep || codec->second.size() > 1;
    }
    summary.files = static_cast<int32_t>(files.size());
    summary.empty = !sweep && files.size() < 2;
    if (summary.empty) {
        return summary;
    }
    if (!referenceRan) {
        summary.note = "the reference codec " + options.reference +
                       " is not among the run's lossy records: no BD-rates (--reference names "
                       "another)";
    }
    for (size_t f = 0; f < files.size(); ++f) {
        const auto reference =
            std::find_if(curves[f].begin(), curves[f].end(),
                         [&](const auto& curve) { return curve.first == options.reference; });
        for (const auto& [codec, points] : curves[f]) {
            for (const RdMetric& metric : RdMetrics()) {
                const std::vector<RdPoint> curve = Curve(points, metric);
                if (curve.empty() || !referenceRan || codec == options.reference) {
                    continue;  // not measured, or nothing to compare it with
                }
                RdFigure figure{files[f], codec, metric.name, 0.0, std::nullopt, {}};
                if (reference == curves[f].end()) {
                    figure.reason = "the reference " + options.reference + " has no record here";
                } else {
                    const MetricResult<double> rate =
                        BdRate(Curve(reference->second, metric), curve);
                    figure.value = rate.value;
                    figure.reason = rate.reason;
                }
                summary.bdRates.push_back(std::move(figure));
            }
            for (const QualityTarget& target : options.targets) {
                const RdMetric& metric = *MetricNamed(target.metric);
                const std::vector<RdPoint> curve = Curve(points, metric);
                if (curve.empty()) {
                    continue;
                }
                const MetricResult<double> bpp =
                    BppAtQuality(curve, metric.distance ? -target.value : target.value);
                summary.bppAt.push_back(
                    {files[f], codec, metric.name, target.value, bpp.value, bpp.reason});
            }
        }
    }
    summary.bdRateMeans = Means(summary.bdRates);
    summary.bppAtMeans = Means(summary.bppAt);
    if (files.size() < 2) {
        return summary;
    }
    // Each setting's figures over the files, per metric, in the order of its first row.
    std::vector<std::pair<const Row*, std::map<std::string, std::vector<double>>>> settings;
    for (const Row& row : rows) {
        if (!IsLossy(row)) {
            continue;
        }
        auto setting = std::find_if(settings.begin(), settings.end(), [&](const auto& s) {
            return s.first->codec == row.codec && s.first->label == row.label;
        });
        if (setting == settings.end()) {
            setting = settings.insert(setting, {&row, {}});
        }
        for (const RdMetric& metric : RdMetrics()) {
            const std::optional<double>& figure = row.*metric.field;
            if (figure && std::isfinite(*figure)) {
                setting->second[metric.name].push_back(*figure);
            }
        }
    }
    for (const auto& [row, values] : settings) {
        for (const RdMetric& metric : RdMetrics()) {
            const auto found = values.find(metric.name);
            if (found != values.end()) {
                summary.spreads.push_back(Spread(*row, metric, found->second));
            }
        }
    }
    return summary;
}

}  // namespace tallox
