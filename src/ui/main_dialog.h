// The main window: the options of a run, the input's preview, the report and the progress bar.
// The dialog is the run's host: the Start button runs the benchmark with the dialog's settings.
#pragma once
#include <QDialog>
#include <QPointer>
#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "engine/benchmark_settings.h"
#include "engine/corpus_run.h"
#include "engine/run_context.h"
#include "engine/run_host.h"
#include "ui/folder_run.h"
#include "ui/progress_bar_control.h"
#include "ui/user_prompts.h"

class QAction;
class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace tallox {

class ChartWindow;
class PreviewFrame;

class MainDialog final : public QDialog, public RunHost {
    Q_OBJECT
public:
    // The template's size in dialog units.
    static constexpr QSize kTemplateSize{428, 322};

    explicit MainDialog(UserPrompts& prompts = StandardPrompts(), QWidget* parent = nullptr);

    // Takes `path` as the input, as if it had been chosen with "...": name, path and preview.
    void ChooseFile(const QString& path);
    // Takes the folder at `path` as the input: Start then measures each of its image files (not
    // its subfolders'), showing each file's rows as it finishes and the summary per codec at
    // the end; Stop ends the run after the measurement under way.
    void ChooseFolder(const QString& path);

    // Shows every member in its control.
    void WriteToControls();
    // Reads the controls back into the members, in the template's exchange order. False when
    // the quality is refused: its message has been shown, and the members after it are not read.
    bool ReadFromControls();

    // The host of a run.
    void Push(const std::string& report) override;
    void Repaint() override;
    void RowFinished(const Row& row) override;
    ProgressControl& Progress() override { return progress_; }
    void ShowMessage(const RunMessage& message) override;

    // Writes the last run's records to `path`, in the format its extension names: .txt (the
    // report, the statistics table and the context), .csv, .json or .md; a folder's run with
    // each record's file and the summary per codec. False, with the
    // message shown, when the extension is none of these or the file cannot be written.
    bool SaveReport(const QString& path);

    BenchmarkSettings settings;
    bool fastMetering = true;
    bool accurateMetering = false;
    std::string report;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    // A local file dropped onto the dialog is chosen as "..." chooses it; a folder as
    // "Folder..." does.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void CreateControls();
    void OnStart();
    void OnChooseFolder();
    void StartFolder();
    void OnFolderFinished(const CorpusResult& result);
    void OnAbout();
    void OnSaveReport();
    void OnBrowse();
    void OnMetering(bool accurate);
    void OnToggle(const char* name);  // a codec box clicked: its selection flips
    void OnQualityEdited();
    void OnShowChart();
    void OnMoreCodecs();

    UserPrompts& prompts_;
    // Edits of the quality are not read back while the members are being written out.
    bool writing_ = false;

    QLineEdit* fileNameEdit_ = nullptr;
    PreviewFrame* preview_ = nullptr;
    QCheckBox* jpegBox_ = nullptr;
    QLineEdit* qualityEdit_ = nullptr;
    QCheckBox* rleBox_ = nullptr;
    QCheckBox* huffmanBox_ = nullptr;
    QCheckBox* riceBox_ = nullptr;
    QCheckBox* lz77Box_ = nullptr;
    QCheckBox* lz77FastBox_ = nullptr;
    QCheckBox* fastMeteringBox_ = nullptr;
    QCheckBox* accurateMeteringBox_ = nullptr;
    QPlainTextEdit* reportEdit_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QPushButton* startButton_ = nullptr;
    QPushButton* stopButton_ = nullptr;
    ProgressBarControl progress_;
    // The last run's rows (its memcpy yardstick first), its context and its input's name, for
    // saved reports and its chart.
    std::vector<Row> rows_;
    RunContext context_;
    std::string rowsFileName_;
    QAction* saveReport_ = nullptr;
    QAction* showChart_ = nullptr;
    QPointer<ChartWindow> chart_;
    // The folder run under way and its growing report; the last run's files when it measured
    // a folder.
    FolderRun* folderRun_ = nullptr;
    std::unique_ptr<FolderReport> folderReport_;
    std::vector<std::string> corpusFiles_;
};

}  // namespace tallox
