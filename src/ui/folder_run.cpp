#include "ui/folder_run.h"

#include <QPlainTextEdit>
#include <QTextCursor>
#include <algorithm>
#include <utility>

#include "engine/progress_control.h"

namespace tallox {

// The run's side, on its thread: each event is posted to the object's thread, where the signal
// goes out. A step is counted at once but posted at most every 50 ms, outside the timed call.
class FolderRun::Observer final : public CorpusObserver, public ProgressControl {
public:
    Observer(FolderRun& run, int64_t iterations) : run_(run), iterations_(iterations) {}

    void FileStarted(size_t file, const std::string& path) override {
        Post([file, path = QString::fromLocal8Bit(path)](FolderRun& run) {
            emit run.fileStarted(static_cast<int>(file), path);
        });
    }
    void CodecStarted(size_t, const std::string&) override {
        calls_ = 0;
        PostSteps();
    }
    void CodecFinished() override {
        done_ += iterations_;
        calls_ = 0;
        PostSteps();
    }
    void Record(const Row& row) override {
        Post([row](FolderRun& run) { emit run.recorded(row); });
    }
    void FileFinished(size_t, const std::string&) override {}
    void RunFinished(const CorpusResult& result) override {
        Post([result](FolderRun& run) { emit run.finished(result); });
    }
    ProgressControl& Progress() override { return *this; }
    bool StopRequested() const override { return run_.stop_.load(std::memory_order_relaxed); }

protected:
    void Stepped() override {
        ++calls_;
        if (throttle_.Due()) {
            PostSteps();
        }
    }

private:
    template <typename Event>
    void Post(Event event) {
        QMetaObject::invokeMethod(
            &run_, [&run = run_, event = std::move(event)] { event(run); }, Qt::QueuedConnection);
    }
    void PostSteps() {
        const int64_t steps = done_ + std::min(calls_, iterations_);
        Post([steps](FolderRun& run) { emit run.progressed(steps); });
    }

    FolderRun& run_;
    int64_t iterations_;
    int64_t done_ = 0;   // the steps of the codecs finished
    int64_t calls_ = 0;  // the encoder calls of the codec under way
    DrawThrottle throttle_;
};

FolderRun::FolderRun(const BenchmarkSettings& settings, std::vector<std::string> files,
                     QObject* parent)
    : QObject(parent),
      settings_(settings),
      files_(std::move(files)),
      steps_(static_cast<int64_t>(files_.size() * CountedCodecs(settings, DefaultRegistry())) *
             settings.iterations) {}

FolderRun::~FolderRun() {
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
}

void FolderRun::Start() {
    thread_ = std::thread([this] {
        Observer observer(*this, settings_.iterations);
        CorpusOptions options;
        // Forked from a window's process, a worker could wait for good on a lock or a pooled
        // thread that only the parent has: the measurements stay in this process.
        options.isolate = false;
        options.stop = &stop_;
        RunCorpus(settings_, files_, options, observer);
    });
}

FolderReport::FolderReport(std::string& text, QPlainTextEdit* edit, const RunContext& context,
                           const std::vector<std::string>& files)
    : text_(text), edit_(edit), reporter_(MakeReporter(ReportFormat::Text, *this)) {
    reporter_->Begin({context, true, files, {}});
}

void FolderReport::Write(std::string_view text) {
    text_ += text;
    QTextCursor end(edit_->document());
    end.movePosition(QTextCursor::End);
    end.insertText(QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()))
                       .replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
}

}  // namespace tallox
