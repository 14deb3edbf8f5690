// A folder measured from the dialog: the engine's corpus run on a thread of its own, so that the
// window keeps painting, with its events handed back to the window's thread as signals.
#pragma once
#include <QObject>
#include <QString>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/benchmark_settings.h"
#include "engine/corpus_run.h"
#include "engine/reporters.h"

class QPlainTextEdit;

namespace tallox {

class FolderRun final : public QObject {
    Q_OBJECT
public:
    // Measures `settings`' codecs over `files`, in this process: a codec that fails on a file
    // gives an error record, as a one-file run gives its message.
    FolderRun(const BenchmarkSettings& settings, std::vector<std::string> files,
              QObject* parent = nullptr);
    // Asks the run to stop and waits for it.
    ~FolderRun() override;
    FolderRun(const FolderRun&) = delete;
    FolderRun& operator=(const FolderRun&) = delete;

    void Start();
    // Ends the run after the encoder call under way: that codec's record keeps the calls made so
    // far (its decoding and verification still follow), and the records before it stand.
    void Stop() { stop_ = true; }

    const std::vector<std::string>& Files() const { return files_; }
    // The encoder calls a whole run makes at the set iterations: the progress signal's range.
    int64_t Steps() const { return steps_; }

signals:
    // All in the thread of the object, in the run's order.
    void fileStarted(int file, const QString& path);
    void recorded(const tallox::Row& row);
    void progressed(qint64 steps);
    void finished(const tallox::CorpusResult& result);

private:
    class Observer;

    BenchmarkSettings settings_;
    std::vector<std::string> files_;
    int64_t steps_ = 0;
    std::atomic<bool> stop_ = false;
    std::thread thread_;
};

// A folder run's text report as it grows, the records' lines under each file's name and the
// summaries at the end, each piece appended to `text` and to the end of `edit` (which shows
// "\n" for the report's "\r\n") rather than the whole text set again.
class FolderReport final : public ReportSink {
public:
    FolderReport(std::string& text, QPlainTextEdit* edit, const RunContext& context,
                 const std::vector<std::string>& files);
    Reporter& Report() { return *reporter_; }
    void Write(std::string_view text) override;

private:
    std::string& text_;
    QPlainTextEdit* edit_;
    std::unique_ptr<Reporter> reporter_;
};

}  // namespace tallox
