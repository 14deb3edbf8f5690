#include "cli/corpus.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <utility>

namespace tallox::cli {
namespace {

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

// Prints a corpus run's records as they come, and the summaries at the end.
class CorpusOutput final : public CorpusObserver {
public:
    CorpusOutput(const OutputOptions& options, size_t files, size_t codecs, int32_t iterations)
        : progress_(options.progress, files, codecs, iterations),
          sink_(
              options, [this] { progress_.Clear(); }, [] {}),
          reporter_(MakeReporter(options.format, sink_)),
          rd_(options.rd),
          runStart_(options.context) {}

    void Start(const OutputOptions& options, const std::vector<std::string>& files) {
        reporter_->Begin({options.context, true, files, options.settings});
    }

    void FileStarted(size_t, const std::string& path) override { reporter_->FileStarted(path); }
    void CodecStarted(size_t file, const std::string& codec) override {
        progress_.Begin(file, codec);
    }
    void CodecFinished() override { progress_.End(); }
    void Record(const Row& row) override { reporter_->Record(row); }
    void FileFinished(size_t, const std::string&) override {}
    void RunFinished(const CorpusResult& result) override {
        reporter_->Summary(result.summaries);
        if (const RdSummary rd = SummarizeRateDistortion(result.rows, rd_); !rd.empty) {
            reporter_->RateDistortion(rd);
        }
        reporter_->End(TicksSince(runStart_));
        progress_.Clear();
    }
    ProgressControl& Progress() override { return progress_; }

    // 0, or 1 when the output could not be written or a record failed.
    int Status(const CorpusResult& result) const {
        if (sink_.Status() != 0) {
            return 1;
        }
        if (result.failed > 0) {
            std::fprintf(stderr, "tallox-cli: %zu of %zu records failed\n", result.failed,
                         result.rows.size());
            return 1;
        }
        return 0;
    }

private:
    CorpusProgress progress_;
    OutputSink sink_;
    std::unique_ptr<Reporter> reporter_;
    RdOptions rd_;
    RunContext runStart_;  // the context the run began with, for its steal
};

}  // namespace

int RunCorpus(const BenchmarkSettings& settings, const std::vector<std::string>& files,
              const CorpusOptions& options, const OutputOptions& output, Imaging& imaging,
              const CodecRegistry& registry, std::vector<Row>* records) {
    CorpusOutput out(output, files.size(), CountedCodecs(settings, registry), settings.iterations);
    out.Start(output, files);
    CorpusResult result = tallox::RunCorpus(settings, files, options, out, imaging, registry);
    const int status = out.Status(result);
    if (records != nullptr) {
        *records = std::move(result.rows);
    }
    return status;
}

}  // namespace tallox::cli
