#include "ui/main_dialog.h"

#include <QAction>
#include <QCheckBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSaveFile>
#include <QScopedValueRollback>
#include <algorithm>
#include <climits>
#include <iterator>
#include <optional>

#include "charts/chart.h"
#include "engine/rd_summary.h"
#include "engine/records.h"
#include "engine/reporters.h"
#include "engine/run.h"
#include "platform/affinity.h"
#include "platform/imaging.h"
#include "ui/about_dialog.h"
#include "ui/app_icon.h"
#include "ui/chart_window.h"
#include "ui/dialog_units.h"
#include "ui/group_box.h"
#include "ui/preview_frame.h"

namespace tallox {

namespace {

constexpr char kParseIntMessage[] = "Please enter an integer.";
constexpr char kQualityRangeMessage[] = "Please enter an integer between 1 and 100.";
constexpr int kMinimumQuality = 1;
constexpr int kMaximumQuality = 100;
// The report's tab stops lie every 32 horizontal dialog units: eight average characters.
constexpr int kTabStopUnits = 32;

// The report's columns are laid out for tab stops eight characters apart, with figures of up
// to eight characters (1570.569) inside a column and labels such as "JPEG GDI+" reaching past
// one. Where the font's digits are wider than its average letter, eight average characters
// would not hold such a figure and its row would slip a column, so the stops are widened to
// eight digits.
int ReportTabStop(const QFont& font, QSize baseUnits) {
    const int units = MapDialogRect(QRect(0, 0, kTabStopUnits, 0), baseUnits).width();
    const int digits = qRound(8 * QFontMetricsF(font).horizontalAdvance(QLatin1Char('0')));
    return std::max(units, digits);
}

// Widens every check box and label to the width its text needs, from its template position up
// to the edge of its group box or the next control on its row, so that no text is cut where the
// font is wider than the template assumed.
void FitTexts(QWidget* dialog) {
    const QList<QWidget*> children = dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* widget : children) {
        if (qobject_cast<QCheckBox*>(widget) == nullptr &&
            qobject_cast<QLabel*>(widget) == nullptr) {
            continue;
        }
        QRect rect = widget->geometry();
        int limit = dialog->width();
        for (const QWidget* other : children) {
            const QRect area = other->geometry();
            if (qobject_cast<const QGroupBox*>(other) != nullptr && area.contains(rect.topLeft())) {
                limit = std::min(limit, area.right() - 1);  // inside the group's frame line
            } else if (other != widget && area.left() > rect.left() && area.top() < rect.bottom() &&
                       area.bottom() > rect.top()) {
                limit = std::min(limit, area.left() - 1);  // the next control on the row
            }
        }
        rect.setWidth(std::clamp(widget->sizeHint().width(), rect.width(), limit - rect.left()));
        widget->setGeometry(rect);
    }
}

// The report keeps "\r\n" line ends; the text box shows plain "\n".
QString ToDisplay(const std::string& text) {
    return QString::fromLocal8Bit(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

// The path of the one local file or folder a drag carries; nothing for several, remote ones or
// text.
std::optional<QString> DroppedFile(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls() || data->urls().size() != 1 ||
        !data->urls().front().isLocalFile()) {
        return std::nullopt;
    }
    return data->urls().front().toLocalFile();
}

std::string FromDisplay(QString text) {
    return text.replace(QStringLiteral("\n"), QStringLiteral("\r\n")).toLocal8Bit().toStdString();
}

void SetTextIfChanged(QLineEdit* edit, const QString& text) {
    // Leaves the cursor and selection alone when nothing changes.
    if (edit->text() != text) {
        edit->setText(text);
    }
}

}  // namespace

MainDialog::MainDialog(UserPrompts& prompts, QWidget* parent)
    : QDialog(parent),
      prompts_(prompts),
      progressBar_(new QProgressBar(this)),
      progress_(progressBar_) {
    setWindowTitle(QStringLiteral("KANDRA Image Compression Benchmark"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    CreateControls();
    WriteToControls();

    // X11 and Wayland give a dialog no window menu of its own: the About item lives in the
    // context menu, and F1 reaches it too.
    auto* about = new QAction(QStringLiteral("&About Tallox..."), this);
    about->setShortcut(QKeySequence(Qt::Key_F1));
    connect(about, &QAction::triggered, this, [this] { OnAbout(); });
    addAction(about);
    saveReport_ = new QAction(QStringLiteral("Save Report..."), this);
    saveReport_->setEnabled(false);  // until a run has rows to save
    connect(saveReport_, &QAction::triggered, this, [this] { OnSaveReport(); });
    addAction(saveReport_);
    showChart_ = new QAction(QStringLiteral("Show &Chart..."), this);
    showChart_->setEnabled(false);
    connect(showChart_, &QAction::triggered, this, [this] { OnShowChart(); });
    addAction(showChart_);
    auto* moreCodecs = new QAction(QStringLiteral("More Codecs..."), this);
    connect(moreCodecs, &QAction::triggered, this, [this] { OnMoreCodecs(); });
    addAction(moreCodecs);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    setAcceptDrops(true);

    setWindowIcon(ApplicationIcon());
    settings.iterations = accurateMetering ? 500 : 25;
    // A saved report opens with a memcpy of the same input, the yardstick of its figures.
    settings.baseline = true;
}

void MainDialog::CreateControls() {
    const QSize base = DialogBaseUnits(font());
    // Every control at its template rectangle (dialog units), in tab order.
    const auto place = [&]<typename Widget>(Widget* widget, const char* name, QRect rect,
                                            bool enabled = true) {
        widget->setObjectName(QString::fromLatin1(name));
        widget->setGeometry(MapDialogRect(rect, base));
        widget->setEnabled(enabled);
        return widget;
    };
    const auto box = [&](const char* name, const char* text, QRect rect, bool enabled = true) {
        return place(new QCheckBox(QString::fromLatin1(text), this), name, rect, enabled);
    };

    place(new GroupBox(QStringLiteral("Input Image"), this), "inputGroup", {7, 7, 129, 115});
    fileNameEdit_ = place(new QLineEdit(this), "fileNameEdit", {13, 18, 93, 14});
    auto* browse =
        place(new QPushButton(QStringLiteral("..."), this), "browseButton", {109, 18, 20, 14});
    preview_ = place(new PreviewFrame(this), "preview", {13, 35, 116, 80});

    place(new GroupBox(QStringLiteral("Lossy Compression"), this), "lossyGroup", {7, 125, 129, 36});
    jpegBox_ = box("jpegBox", "JPEG GDI+ Library", {13, 136, 75, 10});
    qualityEdit_ = place(new QLineEdit(this), "qualityEdit", {101, 134, 20, 12});
    qualityEdit_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    qualityEdit_->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this));
    auto* percent = place(new QLabel(QStringLiteral("%"), this), "percentLabel", {123, 136, 8, 8});
    percent->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    box("intelJpegBox", "Intel Jpeg Library", {13, 147, 72, 10}, false);

    place(new GroupBox(QStringLiteral("Lossless Compression"), this), "losslessGroup",
          {7, 166, 129, 71});
    rleBox_ = box("rleBox", "RLE (Run Length Encoding)", {13, 178, 111, 10});
    huffmanBox_ = box("huffmanBox", "Huffman Encoding", {13, 189, 116, 10});
    riceBox_ = box("riceBox", "Rice Coding", {13, 200, 118, 10});
    lz77Box_ = box("lz77Box", "Lempel-Ziv Compression (LZx)", {13, 211, 113, 10}, false);
    lz77FastBox_ = box("lz77FastBox", "Fast Lempel-Ziv Compression", {13, 222, 117, 10}, false);

    place(new GroupBox(QStringLiteral("Benchmark"), this), "benchmarkGroup", {7, 241, 129, 61});
    fastMeteringBox_ = box("fastMeteringBox", "Fast Metering", {13, 253, 108, 10});
    accurateMeteringBox_ = box("accurateMeteringBox", "Accurate Metering", {13, 263, 75, 10});
    auto* start =
        place(new QPushButton(QStringLiteral("Start"), this), "startButton", {44, 279, 50, 14});
    startButton_ = start;
    auto* folder = place(new QPushButton(QStringLiteral("Folder..."), this), "folderButton",
                         {92, 264, 38, 13});
    stopButton_ = place(new QPushButton(QStringLiteral("Stop"), this), "stopButton",
                        {98, 279, 32, 14}, false);

    reportEdit_ = place(new QPlainTextEdit(this), "reportEdit", {141, 7, 279, 294});
    reportEdit_->setLineWrapMode(QPlainTextEdit::NoWrap);
    reportEdit_->setTabStopDistance(ReportTabStop(reportEdit_->font(), base));
    // A file dropped anywhere reaches the dialog, not the text of an edit.
    for (QWidget* edit : {static_cast<QWidget*>(fileNameEdit_), static_cast<QWidget*>(qualityEdit_),
                          reportEdit_->viewport()}) {
        edit->setAcceptDrops(false);
    }
    place(progressBar_, "progressBar", {7, 304, 414, 11});
    progressBar_->setTextVisible(false);

    setFixedSize(MapDialogRect(QRect(QPoint(0, 0), kTemplateSize), base).size());
    FitTexts(this);

    connect(browse, &QPushButton::clicked, this, [this] { OnBrowse(); });
    connect(fastMeteringBox_, &QCheckBox::clicked, this, [this] { OnMetering(false); });
    connect(accurateMeteringBox_, &QCheckBox::clicked, this, [this] { OnMetering(true); });
    const std::pair<QCheckBox*, const char*> toggles[] = {
        {jpegBox_, "jpeg"}, {rleBox_, "rle"},   {huffmanBox_, "huffman"},
        {riceBox_, "rice"}, {lz77Box_, "lz77"}, {lz77FastBox_, "lz77fast"},
    };
    for (const auto& [checkBox, name] : toggles) {
        connect(checkBox, &QCheckBox::clicked, this, [this, name] { OnToggle(name); });
    }
    connect(start, &QPushButton::clicked, this, [this] { OnStart(); });
    connect(folder, &QPushButton::clicked, this, [this] { OnChooseFolder(); });
    connect(stopButton_, &QPushButton::clicked, this, [this] {
        folderRun_->Stop();
        stopButton_->setEnabled(false);
    });
    connect(qualityEdit_, &QLineEdit::textChanged, this, [this] { OnQualityEdited(); });
}

void MainDialog::WriteToControls() {
    const QScopedValueRollback<bool> writing(writing_, true);
    SetTextIfChanged(fileNameEdit_, QString::fromLocal8Bit(settings.fileName));
    fastMeteringBox_->setChecked(fastMetering);
    accurateMeteringBox_->setChecked(accurateMetering);
    lz77FastBox_->setChecked(settings.Selected("lz77fast"));
    lz77Box_->setChecked(settings.Selected("lz77"));
    riceBox_->setChecked(settings.Selected("rice"));
    huffmanBox_->setChecked(settings.Selected("huffman"));
    rleBox_->setChecked(settings.Selected("rle"));
    jpegBox_->setChecked(settings.Selected("jpeg"));
    SetTextIfChanged(qualityEdit_, QString::number(settings.jpegQuality));
    const QString shown = ToDisplay(report);
    if (reportEdit_->toPlainText() != shown) {
        reportEdit_->setPlainText(shown);
    }
}

bool MainDialog::ReadFromControls() {
    const QScopedValueRollback<bool> writing(writing_, true);
    settings.fileName = fileNameEdit_->text().toLocal8Bit().toStdString();
    fastMetering = fastMeteringBox_->isChecked();
    accurateMetering = accurateMeteringBox_->isChecked();
    settings.Select("lz77fast", lz77FastBox_->isChecked());
    settings.Select("lz77", lz77Box_->isChecked());
    settings.Select("rice", riceBox_->isChecked());
    settings.Select("huffman", huffmanBox_->isChecked());
    settings.Select("rle", rleBox_->isChecked());
    settings.Select("jpeg", jpegBox_->isChecked());
    // A refused value stops the exchange there, with the field focused for correction.
    const auto fail = [this](const char* message) {
        prompts_.ShowMessageBox(this, QString::fromLatin1(message), QMessageBox::Warning);
        qualityEdit_->setFocus();
        qualityEdit_->selectAll();
        return false;
    };
    bool isInteger = false;
    const qlonglong quality = qualityEdit_->text().trimmed().toLongLong(&isInteger);
    if (!isInteger) {
        return fail(kParseIntMessage);
    }
    // The number is stored before it is checked, so a refused quality is still the one a later
    // run uses.
    settings.jpegQuality = static_cast<int32_t>(std::clamp<qlonglong>(quality, INT_MIN, INT_MAX));
    if (settings.jpegQuality < kMinimumQuality || settings.jpegQuality > kMaximumQuality) {
        return fail(kQualityRangeMessage);
    }
    report = FromDisplay(reportEdit_->toPlainText());
    return true;
}

void MainDialog::ChooseFile(const QString& path) {
    const QFileInfo file(path);
    settings.filePath = file.absoluteFilePath().toLocal8Bit().toStdString();
    settings.fileName = file.fileName().toLocal8Bit().toStdString();
    WriteToControls();

    const std::optional<Image> image = PlatformImaging().Load(settings.filePath);
    preview_->SetImage(image ? &*image : nullptr);
}

void MainDialog::ChooseFolder(const QString& path) {
    const QFileInfo folder(path);
    settings.filePath = folder.absoluteFilePath().toLocal8Bit().toStdString();
    settings.fileName = folder.fileName().toLocal8Bit().toStdString();
    WriteToControls();
    preview_->SetImage(nullptr);
}

void MainDialog::Push(const std::string& text) {
    if (text.empty()) {  // a run starts
        rows_.clear();
        rowsFileName_ = settings.fileName;
        showChart_->setEnabled(false);
        saveReport_->setEnabled(false);
    }
    report = text;
    WriteToControls();
}

void MainDialog::Repaint() { repaint(); }

// The report shows the row once it is pushed; the bar shows the codec's last step now.
void MainDialog::RowFinished(const Row& row) {
    rows_.push_back(row);
    showChart_->setEnabled(true);
    progress_.Draw();
}

void MainDialog::OnStart() {
    if (settings.fileName.empty()) {
        return;  // as the run itself: no file, nothing changes
    }
    if (QFileInfo(QString::fromLocal8Bit(settings.filePath)).isDir()) {
        StartFolder();  // Start stays disabled until it has finished
        return;
    }
    corpusFiles_.clear();
    context_ = CollectRunContext(settings.filePath);
    // The run measures on this thread: pinned as the command line pins its own, and let go
    // again after, so that the window's threads are not held to one CPU.
    const std::vector<int> unpinned = CallingThreadCpus();
    context_.pinning = PinMeasuringThread(settings, std::nullopt);
    RunBenchmark(settings, *this);
    context_.runTicks = TicksSince(context_);
    SetCallingThreadCpus(unpinned);
    saveReport_->setEnabled(!rows_.empty());
}

void MainDialog::StartFolder() {
    std::vector<std::string> files = CollectFiles({settings.filePath}, false, ImageFilePatterns());
    if (files.empty()) {
        prompts_.ShowMessageBox(this,
                                QStringLiteral("The folder %1 holds no image file.")
                                    .arg(QString::fromLocal8Bit(settings.filePath)),
                                QMessageBox::Warning);
        return;
    }
    rows_.clear();
    rowsFileName_ = settings.fileName;
    corpusFiles_ = files;
    showChart_->setEnabled(false);
    saveReport_->setEnabled(false);
    context_ = CollectRunContext(std::string());
    report.clear();
    WriteToControls();
    folderReport_ = std::make_unique<FolderReport>(report, reportEdit_, context_, files);

    folderRun_ = new FolderRun(settings, std::move(files), this);
    const auto bar = [](int64_t steps) {
        return static_cast<int>(std::min<int64_t>(steps, INT_MAX));
    };
    progressBar_->setRange(0, bar(folderRun_->Steps()));
    progressBar_->setValue(0);
    // Which file of how many, on the bar while the folder runs.
    const int count = static_cast<int>(folderRun_->Files().size());
    progressBar_->setFormat(QStringLiteral("0 / %1").arg(count));
    progressBar_->setTextVisible(true);
    connect(folderRun_, &FolderRun::fileStarted, this,
            [this, count](int file, const QString& path) {
                progressBar_->setFormat(QStringLiteral("%1 / %2").arg(file + 1).arg(count));
                folderReport_->Report().FileStarted(path.toLocal8Bit().toStdString());
            });
    // The yardstick has no line of the report, nor when it failed: the codecs' lines say why.
    connect(folderRun_, &FolderRun::recorded, this, [this](const Row& row) {
        if (!row.yardstick) {
            folderReport_->Report().Record(row);
        }
    });
    connect(folderRun_, &FolderRun::progressed, this,
            [this, bar](qint64 steps) { progressBar_->setValue(bar(steps)); });
    connect(folderRun_, &FolderRun::finished, this,
            [this](const CorpusResult& result) { OnFolderFinished(result); });
    startButton_->setEnabled(false);
    stopButton_->setEnabled(true);
    folderRun_->Start();
}

void MainDialog::OnFolderFinished(const CorpusResult& result) {
    context_.runTicks = TicksSince(context_);
    folderReport_->Report().Summary(result.summaries);
    if (const RdSummary rd = SummarizeRateDistortion(result.rows, RdOptions{}); !rd.empty) {
        folderReport_->Report().RateDistortion(rd);
    }
    folderReport_->Report().End(context_.runTicks);
    folderReport_.reset();
    rows_ = result.rows;
    saveReport_->setEnabled(!rows_.empty());
    showChart_->setEnabled(!rows_.empty());
    progressBar_->setTextVisible(false);
    stopButton_->setEnabled(false);
    startButton_->setEnabled(true);
    folderRun_->deleteLater();
    folderRun_ = nullptr;
}

void MainDialog::OnChooseFolder() {
    if (const std::optional<QString> path = prompts_.GetFolder(this)) {
        ChooseFolder(*path);
    }
}

bool MainDialog::SaveReport(const QString& path) {
    const std::optional<ReportFormat> format = ReportFormatOfPath(path.toStdString());
    if (!format) {
        prompts_.ShowMessageBox(
            this, QStringLiteral("Choose a file name ending in .txt, .csv, .json, .jsonl or .md."),
            QMessageBox::Warning);
        return false;
    }
    std::string text;
    StringSink sink(text, false);
    const std::unique_ptr<Reporter> reporter = MakeReporter(*format, sink, true);
    const bool corpus = !corpusFiles_.empty();
    reporter->Begin({context_, corpus, corpusFiles_, {}});
    if (!corpus) {
        reporter->FileStarted(settings.filePath);
    }
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (corpus && (i == 0 || rows_[i].file != rows_[i - 1].file)) {
            reporter->FileStarted(rows_[i].file);
        }
        reporter->Record(rows_[i]);
    }
    if (corpus) {
        reporter->Summary(SummarizeCodecs(rows_));
    }
    if (const RdSummary rd = SummarizeRateDistortion(rows_, RdOptions{}); !rd.empty) {
        reporter->RateDistortion(rd);
    }
    reporter->End(context_.runTicks);
    // Written whole to a temporary file that replaces the target only when complete.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(text.data(), static_cast<qint64>(text.size())) !=
            static_cast<qint64>(text.size()) ||
        !file.commit()) {
        prompts_.ShowMessageBox(
            this, QStringLiteral("Failed to write the report: %1").arg(file.errorString()),
            QMessageBox::Warning);
        return false;
    }
    return true;
}

void MainDialog::OnSaveReport() {
    const std::optional<QString> path = prompts_.GetSaveFileName(
        this,
        QStringLiteral(
            "Text (*.txt);;CSV (*.csv);;JSON (*.json);;JSON Lines (*.jsonl);;Markdown (*.md)"));
    if (path) {
        SaveReport(*path);
    }
}

void MainDialog::ShowMessage(const RunMessage& message) {
    progress_.Draw();
    prompts_.ShowMessageBox(this, QString::fromLocal8Bit(message.text), QMessageBox::Warning);
}

void MainDialog::keyPressEvent(QKeyEvent* event) {
    // Enter on anything but a push button is the dialog's OK, which checks the fields first.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && event->modifiers() == Qt::NoModifier &&
        qobject_cast<QPushButton*>(focusWidget()) == nullptr) {
        if (ReadFromControls()) {
            accept();
        }
        return;
    }
    QDialog::keyPressEvent(event);
}

void MainDialog::dragEnterEvent(QDragEnterEvent* event) {
    if (DroppedFile(event->mimeData())) {
        event->acceptProposedAction();
    }
}

void MainDialog::dropEvent(QDropEvent* event) {
    if (const std::optional<QString> path = DroppedFile(event->mimeData())) {
        event->acceptProposedAction();
        if (QFileInfo(*path).isDir()) {
            ChooseFolder(*path);
        } else {
            ChooseFile(*path);
        }
    }
}

void MainDialog::OnShowChart() {
    if (chart_ == nullptr) {
        chart_ = new ChartWindow(this);
    }
    const bool corpus = !corpusFiles_.empty();
    chart_->SetRows(rows_, corpus ? SummaryRows(rows_) : rows_,
                    ChartTitle(corpus ? rowsFileName_ + " (" + std::to_string(corpusFiles_.size()) +
                                            " files)"
                                      : rowsFileName_));
    chart_->show();
    chart_->raise();
    chart_->activateWindow();
}

void MainDialog::OnAbout() {
    AboutDialog about(this);
    about.exec();
}

void MainDialog::OnBrowse() {
    const std::optional<QString> path =
        prompts_.GetOpenFileName(this, QStringLiteral("BMP Image (*.bmp);;Images (*.bmp *.png "
                                                      "*.ppm *.pgm *.pbm *.pam *.jpg *.jpeg *.tif "
                                                      "*.tiff *.webp *.gif);;All Files (*)"));
    if (!path) {
        prompts_.ShowMessageBox(this, QStringLiteral("Open File Error"), QMessageBox::Information);
        return;
    }
    ChooseFile(*path);
}

void MainDialog::OnMetering(bool accurate) {
    fastMetering = !accurate;
    accurateMetering = accurate;
    settings.iterations = accurate ? 500 : 25;
    WriteToControls();
}

void MainDialog::OnToggle(const char* name) {
    settings.Select(name, !settings.Selected(name));
    WriteToControls();
}

// The codecs beyond the six boxes, kept in the settings for the rest of the session; their rows
// follow the six in the report.
void MainDialog::OnMoreCodecs() {
    const CodecRegistry& registry = DefaultRegistry();
    const auto isExtra = [&](const CodecSetting& setting) {
        const CodecEntry* entry = registry.Find(setting.name);
        return entry != nullptr && !entry->info.reportRow && !entry->info.yardstick;
    };
    std::vector<CodecSetting> extra;
    std::copy_if(settings.codecs.begin(), settings.codecs.end(), std::back_inserter(extra),
                 isExtra);
    const std::optional<std::vector<CodecSetting>> chosen =
        prompts_.ChooseCodecs(this, registry, extra);
    if (!chosen) {
        return;
    }
    std::erase_if(settings.codecs, isExtra);
    settings.codecs.insert(settings.codecs.end(), chosen->begin(), chosen->end());
}

void MainDialog::OnQualityEdited() {
    if (!writing_) {
        ReadFromControls();
    }
}

}  // namespace tallox
