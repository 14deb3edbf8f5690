// Speed of the perceptual metrics on the 512 x 512 test photograph against its quality-50 JPEG,
// in pixels per second on one thread: SSIMULACRA2's SIMD path beside its scalar twin, and
// Butteraugli through libjxl.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include "engine/butteraugli.h"
#include "engine/ssimulacra2.h"
#include "platform/imaging.h"

namespace tallox::bench {
namespace {

const Image& MetricImage(const char* name) {
    static ImagingSession session;
    const auto path = std::string(TALLOX_METRICS_DATA "/") + name;
    auto image = PlatformImaging().Load(path);
    if (!image) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        std::exit(1);
    }
    return *new Image(std::move(*image));  // for the life of the process
}

const Image& Reference() {
    static const Image& image = MetricImage("ladybird-512x512.png");
    return image;
}

const Image& Distorted() {
    static const Image& image = MetricImage("ladybird-512x512-jpeg-q50.png");
    return image;
}

template <typename Metric>
void RunMetric(benchmark::State& state, Metric metric) {
    const Image& a = Reference();
    const Image& b = Distorted();
    for (auto _ : state) {
        auto result = metric(std::span<const uint8_t>(a.rgb), std::span<const uint8_t>(b.rgb),
                             a.width, a.height);
        benchmark::DoNotOptimize(result);
    }
    state.counters["px/s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * a.width * a.height, benchmark::Counter::kIsRate);
}

void BM_Ssimulacra2(benchmark::State& state) { RunMetric(state, Ssimulacra2); }
BENCHMARK(BM_Ssimulacra2)->Unit(benchmark::kMillisecond);

void BM_Ssimulacra2Scalar(benchmark::State& state) { RunMetric(state, Ssimulacra2Scalar); }
BENCHMARK(BM_Ssimulacra2Scalar)->Unit(benchmark::kMillisecond);

void BM_Butteraugli(benchmark::State& state) { RunMetric(state, Butteraugli); }
BENCHMARK(BM_Butteraugli)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tallox::bench
