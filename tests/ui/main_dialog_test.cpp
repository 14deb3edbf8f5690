// The main dialog driven as a user would: clicks, typing and browsing, with the file chooser
// and the message boxes answered by a recording stand-in.
#include "ui/main_dialog.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>
#include <deque>
#include <optional>
#include <tuple>
#include <vector>

#include "engine/input_file.h"
#include "engine/own_codecs.h"
#include "engine/report.h"
#include "engine/run.h"
#include "platform/affinity.h"
#include "ui/about_dialog.h"
#include "ui/chart_window.h"
#include "ui/codec_list_dialog.h"
#include "ui/dialog_units.h"
#include "ui/preview_frame.h"

using namespace tallox;

namespace {

class RecordingPrompts final : public UserPrompts {
public:
    struct Message {
        QString text;
        QMessageBox::Icon icon;
    };

    std::optional<QString> GetOpenFileName(QWidget* /*parent*/, const QString& filter) override {
        m_filters.push_back(filter);
        if (m_answers.empty()) {
            return std::nullopt;
        }
        const QString answer = m_answers.front();
        m_answers.pop_front();
        if (answer.isEmpty()) {
            return std::nullopt;
        }
        return answer;
    }

    // Both file dialogs take their answers from the same queue.
    std::optional<QString> GetSaveFileName(QWidget* parent, const QString& filter) override {
        return GetOpenFileName(parent, filter);
    }

    void ShowMessageBox(QWidget* /*parent*/, const QString& text, QMessageBox::Icon icon) override {
        m_messages.push_back({text, icon});
    }

    // Answers with the codec list dialog itself, its rows ticked and typed as `m_codecs` says.
    std::optional<std::vector<CodecSetting>> ChooseCodecs(
        QWidget* parent, const CodecRegistry& registry,
        const std::vector<CodecSetting>& current) override {
        m_shownCodecs = current;
        CodecListDialog dialog(registry, current, parent);
        auto* list = dialog.findChild<QTreeWidget*>(QStringLiteral("codecList"));
        for (const auto& [name, values] : m_codecs) {
            const auto items = list->findItems(name, Qt::MatchExactly, 0);
            if (items.size() != 1) {
                return std::nullopt;
            }
            items[0]->setCheckState(0, values.isNull() ? Qt::Unchecked : Qt::Checked);
            items[0]->setText(1, values);
        }
        const Result<std::vector<CodecSetting>> chosen = dialog.Chosen();
        if (!chosen) {
            m_messages.push_back({QString::fromStdString(chosen.error().message), {}});
            return std::nullopt;
        }
        return *chosen;
    }

    std::deque<QString> m_answers;  // the file dialogs' answers, in turn; empty: cancelled
    // The codec list's rows to tick, with their values (a null string unticks the row).
    std::vector<std::pair<QString, QString>> m_codecs;
    std::vector<CodecSetting> m_shownCodecs;  // what the list was opened with
    QStringList m_filters;
    std::vector<Message> m_messages;
};

QCheckBox* Box(MainDialog& dlg, const char* name) {
    return dlg.findChild<QCheckBox*>(QString::fromLatin1(name));
}

QPushButton* Button(MainDialog& dlg, const char* name) {
    return dlg.findChild<QPushButton*>(QString::fromLatin1(name));
}

// Clicks a box on its indicator, where a check box takes clicks.
void Click(QCheckBox* box) {
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(4, box->height() / 2));
}

// The context menu's item of that text, or null.
QAction* ActionOf(MainDialog& dlg, const QString& text) {
    for (QAction* action : dlg.actions()) {
        if (action->text() == text) return action;
    }
    return nullptr;
}

QLineEdit* Quality(MainDialog& dlg) {
    return dlg.findChild<QLineEdit*>(QStringLiteral("qualityEdit"));
}

// A bitmap whose left half is red and right half blue.
QString WriteBitmap(const QTemporaryDir& dir, const QString& name, int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::blue);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width / 2; ++x) {
            image.setPixelColor(x, y, Qt::red);
        }
    }
    const QString path = dir.filePath(name);
    if (!image.save(path, "BMP")) {
        qFatal("cannot write %s", qPrintable(path));
    }
    return path;
}

// Types `text` over the whole quality field, one key at a time.
void RetypeQuality(MainDialog& dlg, const QString& text) {
    QLineEdit* quality = Quality(dlg);
    quality->setFocus();
    quality->selectAll();
    QTest::keyClick(quality, Qt::Key_Backspace);
    QTest::keyClicks(quality, text);
}

struct ExpectedControl {
    const char* name;
    const char* className;
    const char* text;
    QRect rect;
};

// The dialog template as the user sees it.
const ExpectedControl kExpected[] = {
    {"fileNameEdit", "QLineEdit", "", {13, 18, 93, 14}},
    {"browseButton", "QPushButton", "...", {109, 18, 20, 14}},
    {"preview", "tallox::PreviewFrame", "", {13, 35, 116, 80}},
    {"jpegBox", "QCheckBox", "JPEG GDI+ Library", {13, 136, 75, 10}},
    {"qualityEdit", "QLineEdit", "50", {101, 134, 20, 12}},
    {"intelJpegBox", "QCheckBox", "Intel Jpeg Library", {13, 147, 72, 10}},
    {"rleBox", "QCheckBox", "RLE (Run Length Encoding)", {13, 178, 111, 10}},
    {"huffmanBox", "QCheckBox", "Huffman Encoding", {13, 189, 116, 10}},
    {"riceBox", "QCheckBox", "Rice Coding", {13, 200, 118, 10}},
    {"lz77Box", "QCheckBox", "Lempel-Ziv Compression (LZx)", {13, 211, 113, 10}},
    {"lz77FastBox", "QCheckBox", "Fast Lempel-Ziv Compression", {13, 222, 117, 10}},
    {"fastMeteringBox", "QCheckBox", "Fast Metering", {13, 253, 108, 10}},
    {"accurateMeteringBox", "QCheckBox", "Accurate Metering", {13, 263, 75, 10}},
    {"startButton", "QPushButton", "Start", {44, 279, 50, 14}},
    {"reportEdit", "QPlainTextEdit", "", {141, 7, 279, 294}},
    {"progressBar", "QProgressBar", "", {7, 304, 414, 11}},
};

QString TextOf(QWidget* widget) {
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) return edit->text();
    if (auto* report = qobject_cast<QPlainTextEdit*>(widget)) return report->toPlainText();
    return QString();
}

}  // namespace

class MainDialogTest : public QObject {
    Q_OBJECT
private slots:
    void freshDialogState();
    void dialogUnitsRoundToNearestPixel();
    void controlsLieAtTheirTemplatePositions();
    void reportColumnsLineUp();
    void accurateClickedTwiceStaysTicked();
    void codecBoxFlipsItsMember_data();
    void codecBoxFlipsItsMember();
    void browseShowsNameAndKeepsPreviewAcrossRepaints();
    void cancelledBrowseShowsMessageAndKeepsFile();
    void unloadableImageClearsPreviewSilently();
    void startWithoutFileChangesNothing();
    void qualityIsStoredBeforeItIsRangeChecked();
    void refusedQualityStopsTheExchange();
    void enterValidatesBeforeClosing();
    void fullRunWithRleFillsTheReport();
    void savedReportsHoldTheRunsRecords();
    void runFailureIsShownInAMessageBox();
    void f1OpensTheAboutBox();
    void droppedFileIsChosenAsBrowseChoosesIt();
    void showChartDrawsTheLastRun();
    void moreCodecsAddRowsAfterTheSix();
};

void MainDialogTest::freshDialogState() {
    RecordingPrompts prompts;
    MainDialog dlg(prompts);

    QCOMPARE(dlg.windowTitle(), QStringLiteral("KANDRA Image Compression Benchmark"));
    QVERIFY(!dlg.windowIcon().isNull());
    QCOMPARE(dlg.minimumSize(), dlg.maximumSize());

    const BenchmarkSettings& settings = dlg.settings;
    const std::vector<int32_t> members = {dlg.fastMetering,
                                          dlg.accurateMetering,
                                          settings.iterations,
                                          settings.jpegQuality,
                                          settings.Selected("jpeg"),
                                          settings.Selected("rle"),
                                          settings.Selected("huffman"),
                                          settings.Selected("rice"),
                                          settings.Selected("lz77"),
                                          settings.Selected("lz77fast")};
    QCOMPARE(members, (std::vector<int32_t>{1, 0, 25, 50, 1, 1, 1, 1, 0, 0}));
    QVERIFY(settings.fileName.empty() && settings.filePath.empty() && dlg.report.empty());

    for (const ExpectedControl& control : kExpected) {
        QWidget* widget = dlg.findChild<QWidget*>(QString::fromLatin1(control.name));
        QVERIFY2(widget != nullptr, control.text);
        QCOMPARE(widget->metaObject()->className(), control.className);
        QCOMPARE(TextOf(widget), QString::fromLatin1(control.text));
    }
    // name, ticked, enabled
    const std::tuple<const char*, bool, bool> boxes[] = {{"jpegBox", true, true},
                                                         {"rleBox", true, true},
                                                         {"huffmanBox", true, true},
                                                         {"riceBox", true, true},
                                                         {"lz77Box", false, false},
                                                         {"lz77FastBox", false, false},
                                                         {"intelJpegBox", false, false},
                                                         {"fastMeteringBox", true, true},
                                                         {"accurateMeteringBox", false, true}};
    for (const auto& [name, ticked, enabled] : boxes) {
        QVERIFY2(Box(dlg, name)->isChecked() == ticked, name);
        QVERIFY2(Box(dlg, name)->isEnabled() == enabled, name);
    }

    QStringList groups;
    for (QGroupBox* group : dlg.findChildren<QGroupBox*>()) groups << group->title();
    QCOMPARE(groups, (QStringList{"Input Image", "Lossy Compression", "Lossless Compression",
                                  "Benchmark"}));
    QCOMPARE(dlg.findChild<QLabel*>()->text(), QStringLiteral("%"));

    // The progress bar starts as an untouched control: 0 of 0 to 100, no text.
    auto* bar = dlg.findChild<QProgressBar*>(QStringLiteral("progressBar"));
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 100);
    QCOMPARE(bar->value(), 0);
    QVERIFY(!bar->isTextVisible());
}

void MainDialogTest::dialogUnitsRoundToNearestPixel() {
    // 113 * 7 / 4 = 197.75, 35 * 14 / 8 = 61.25, 1 * 6 / 4 = 1.5 (halves round up).
    QCOMPARE(MapDialogRect(QRect(113, 35, 1, 8), QSize(7, 14)), QRect(198, 61, 2, 14));
    QCOMPARE(MapDialogRect(QRect(0, 0, 428, 322), QSize(6, 13)).size(), QSize(642, 523));
}

void MainDialogTest::controlsLieAtTheirTemplatePositions() {
    RecordingPrompts prompts;
    MainDialog dlg(prompts);
    const QSize base = DialogBaseUnits(dlg.font());
    QVERIFY(base.width() > 0 && base.height() > 0);
    QCOMPARE(dlg.size(), MapDialogRect(QRect(0, 0, 428, 322), base).size());

    const QImage shot = dlg.grab().toImage();
    QCOMPARE(shot.size() / shot.devicePixelRatio(), dlg.size());
    for (const ExpectedControl& control : kExpected) {
        QWidget* widget = dlg.findChild<QWidget*>(QString::fromLatin1(control.name));
        const QRect expected = MapDialogRect(control.rect, base);
        // Texts may widen their control so that nothing is cut, never move it.
        QCOMPARE(widget->pos(), expected.topLeft());
        QCOMPARE(widget->height(), expected.height());
        QVERIFY2(widget->width() >= expected.width(), control.name);
        if (qobject_cast<QCheckBox*>(widget) != nullptr) {
            QVERIFY2(widget->width() >= widget->sizeHint().width(), control.name);
        }
        QVERIFY2(dlg.rect().contains(expected), control.name);
        QVERIFY(widget->isVisibleTo(&dlg));
        // Something was painted there: the area is not one flat colour.
        const QImage area = shot.copy(expected);
        bool varied = false;
        for (int y = 0; y < area.height() && !varied; ++y) {
            for (int x = 0; x < area.width() && !varied; ++x) {
                varied = area.pixel(x, y) != area.pixel(0, 0);
            }
        }
        QVERIFY2(varied, control.name);
    }
}

// The report's columns line up whatever the digits: the elapsed time, the frame rate and the
// ratio of every row start where the header's titles do.
void MainDialogTest::reportColumnsLineUp() {
    RecordingPrompts prompts;
    MainDialog dlg(prompts);
    std::string report = kReportHeader;
    for (const CodecEntry& codec : DefaultRegistry().Entries()) {
        if (!codec.info.reportRow) {
            continue;
        }
        for (const double seconds : {0.013, 0.2}) {  // four- and three-digit frame rates
            report += MakeRow(codec.info.name, LabelOf(codec, {}), std::vector<int64_t>(25),
                              seconds, 786'486, 777'000)
                          .text;
        }
    }
    dlg.Push(report);
    auto* edit = dlg.findChild<QPlainTextEdit*>();
    // Where `first` (after the label) and `last` start on the line, laid out as the box does.
    const auto columnsOf = [&](const QTextBlock& block, const QString& first, const QString& last) {
        const QString text = block.text();
        QTextLayout layout(text, edit->font());
        QTextOption option;
        option.setTabStopDistance(edit->tabStopDistance());
        layout.setTextOption(option);
        layout.beginLayout();
        const QTextLine line = layout.createLine();
        layout.endLayout();
        const qsizetype tab = text.indexOf(QLatin1Char('\t'));
        return std::pair{line.cursorToX(static_cast<int>(text.indexOf(first, tab))),
                         line.cursorToX(static_cast<int>(text.indexOf(last)))};
    };
    QTextBlock block = edit->document()->findBlockByNumber(4);
    const auto header = columnsOf(block, QStringLiteral("Elapsed"), QStringLiteral("Compression"));
    int rows = 0;
    for (block = block.next().next(); block.isValid() && !block.text().isEmpty();
         block = block.next(), ++rows) {
        const auto row = columnsOf(block, QStringLiteral("0."), QStringLiteral("1 : "));
        QVERIFY2(row == header, qPrintable(block.text()));
    }
    QCOMPARE(rows, 12);
}

void MainDialogTest::accurateClickedTwiceStaysTicked() {
    RecordingPrompts prompts;
    MainDialog dlg(prompts);
    for (int click = 0; click < 2; ++click) {
        Click(Box(dlg, "accurateMeteringBox"));
        QVERIFY(dlg.accurateMetering);
        QVERIFY(!dlg.fastMetering);
        QCOMPARE(dlg.settings.iterations, 500);
        QVERIFY(Box(dlg, "accurateMeteringBox")->isChecked());
        QVERIFY(!Box(dlg, "fastMeteringBox")->isChecked());
    }
    Click(Box(dlg, "fastMeteringBox"));
    QCOMPARE(dlg.settings.iterations, 25);
    QVERIFY(Box(dlg, "fastMeteringBox")->isChecked());
    QVERIFY(!Box(dlg, "accurateMeteringBox")->isChecked());
    QVERIFY(prompts.m_messages.empty());
}

void MainDialogTest::codecBoxFlipsItsMember_data() {
    QTest::addColumn<int>("index");
    QTest::newRow("JPEG") << 0;
    QTest::newRow("RLE") << 1;
    QTest::newRow("Huffman") << 2;
    QTest::newRow("Rice") << 3;
}

void MainDialogTest::codecBoxFlipsItsMember() {
    QFETCH(int, index);
    RecordingPrompts prompts;
    MainDialog dlg(prompts);
    BenchmarkSettings& settings = dlg.settings;
    const char* names[] = {"jpegBox", "rleBox", "huffmanBox", "riceBox"};
    const char* codecs[] = {"jpeg", "rle", "huffman", "rice"};
    for (const bool expected : {false, true, false}) {
        Click(Box(dlg, names[index]));
        QCOMPARE(settings.Selected(codecs[index]), expected);
        QCOMPARE(Box(dlg, names[index])->isChecked(), expected);
    }
    // The other selections are left alone.
    QCOMPARE(settings.Selected("jpeg") + settings.Selected("rle") + settings.Selected("huffman") +
                 settings.Selected("rice"),
             3);
    QCOMPARE(settings.Selected("lz77") + settings.Selected("lz77fast"), 0);
}

void MainDialogTest::browseShowsNameAndKeepsPreviewAcrossRepaints() {
    QTemporaryDir dir;
    const QString path = WriteBitmap(dir, QStringLiteral("halves.bmp"), 40, 30);
    RecordingPrompts prompts;
    prompts.m_answers.push_back(path);
    MainDialog dlg(prompts);
    QTest::mouseClick(Button(dlg, "browseButton"), Qt::LeftButton);

    // Bitmaps first, as ever; then every image format the run reads.
    QCOMPARE(prompts.m_filters.size(), 1);
    QVERIFY(
        prompts.m_filters[0].startsWith(QStringLiteral("BMP Image (*.bmp);;Images (*.bmp *.png")));
    QVERIFY(prompts.m_messages.empty());
    QCOMPARE(QString::fromStdString(dlg.settings.fileName), QStringLiteral("halves.bmp"));
    QCOMPARE(QString::fromStdString(dlg.settings.filePath), QFileInfo(path).absoluteFilePath());
    QCOMPARE(dlg.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text(),
             QStringLiteral("halves.bmp"));

    // Stretched into the frame's inner area, one pixel in from each edge, aspect ratio not
    // kept; every paint draws it again.
    auto* preview = dlg.findChild<PreviewFrame*>();
    const QRect inner = preview->InnerRect();
    QCOMPARE(inner, preview->rect().adjusted(1, 1, -1, -1));
    QImage shot;
    for (int paint = 0; paint < 2; ++paint) {
        shot = preview->grab().toImage();
        QCOMPARE(shot.pixelColor(inner.topLeft()), QColor(Qt::red));
        QCOMPARE(shot.pixelColor(inner.bottomLeft()), QColor(Qt::red));
        QCOMPARE(shot.pixelColor(inner.topRight()), QColor(Qt::blue));
        QCOMPARE(shot.pixelColor(inner.bottomRight()), QColor(Qt::blue));
        QVERIFY(shot.pixelColor(0, 0) != QColor(Qt::red));  // the frame's own line
    }

    // `tallox FILE` chooses the file the same way.
    MainDialog chosen(prompts);
    chosen.ChooseFile(path);
    QCOMPARE(chosen.settings.filePath, dlg.settings.filePath);
    QCOMPARE(chosen.settings.fileName, dlg.settings.fileName);
    QCOMPARE(chosen.findChild<PreviewFrame*>()->grab().toImage(), shot);
}

void MainDialogTest::cancelledBrowseShowsMessageAndKeepsFile() {
    QTemporaryDir dir;
    const QString path = WriteBitmap(dir, QStringLiteral("first.bmp"), 8, 8);
    RecordingPrompts prompts;
    prompts.m_answers = {path, QString()};
    MainDialog dlg(prompts);
    auto* browse = Button(dlg, "browseButton");
    QTest::mouseClick(browse, Qt::LeftButton);
    QTest::mouseClick(browse, Qt::LeftButton);

    QCOMPARE(prompts.m_messages.size(), size_t{1});
    QCOMPARE(prompts.m_messages[0].text, QStringLiteral("Open File Error"));
    QCOMPARE(prompts.m_messages[0].icon, QMessageBox::Information);
    QCOMPARE(QString::fromStdString(dlg.settings.fileName), QStringLiteral("first.bmp"));
    QCOMPARE(QString::fromStdString(dlg.settings.filePath), QFileInfo(path).absoluteFilePath());
    QCOMPARE(dlg.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text(),
             QStringLiteral("first.bmp"));
    QVERIFY(dlg.findChild<PreviewFrame*>()->HasImage());
}

void MainDialogTest::unloadableImageClearsPreviewSilently() {
    QTemporaryDir dir;
    const QString good = WriteBitmap(dir, QStringLiteral("good.bmp"), 8, 8);
    const QString bad = dir.filePath(QStringLiteral("bad.bmp"));
    QFile file(bad);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("BM not really a bitmap");
    file.close();

    RecordingPrompts prompts;
    prompts.m_answers = {good, bad};
    MainDialog dlg(prompts);
    auto* browse = Button(dlg, "browseButton");
    QTest::mouseClick(browse, Qt::LeftButton);
    QVERIFY(dlg.findChild<PreviewFrame*>()->HasImage());
    QTest::mouseClick(browse, Qt::LeftButton);
    QVERIFY(!dlg.findChild<PreviewFrame*>()->HasImage());
    QCOMPARE(QString::fromStdString(dlg.settings.fileName), QStringLiteral("bad.bmp"));
    QVERIFY(prompts.m_messages.empty());
}

void MainDialogTest::startWithoutFileChangesNothing() {
    RecordingPrompts prompts;
    MainDialog dlg(prompts);
    dlg.Push("earlier report\r\n");
    dlg.Progress().SetRange(0, 40);
    dlg.Progress().SetPos(7);
    QTest::mouseClick(Button(dlg, "startButton"), Qt::LeftButton);

    QCOMPARE(dlg.report, std::string("earlier report\r\n"));
    QCOMPARE(dlg.findChild<QPlainTextEdit*>()->toPlainText(), QStringLiteral("earlier report\n"));
    QCOMPARE(dlg.Progress().Position(), 7);
    QCOMPARE(dlg.Progress().Maximum(), 40);
    QCOMPARE(dlg.findChild<QProgressBar*>()->value(), 7);
    QVERIFY(prompts.m_messages.empty());
}

void MainDialogTest::qualityIsStoredBeforeItIsRangeChecked() {
    RecordingPrompts prompts;
    MainDialog dlg(prompts);

    // Emptying the field asks for an integer and keeps the member.
    RetypeQuality(dlg, QString());
    QCOMPARE(prompts.m_messages.size(), size_t{1});
    QCOMPARE(prompts.m_messages[0].text, QStringLiteral("Please enter an integer."));
    QCOMPARE(prompts.m_messages[0].icon, QMessageBox::Warning);
    QCOMPARE(dlg.settings.jpegQuality, 50);

    // Every keystroke is read: "1" and "15" pass, "150" is refused but already stored.
    prompts.m_messages.clear();
    QTest::keyClicks(Quality(dlg), QStringLiteral("150"));
    QCOMPARE(prompts.m_messages.size(), size_t{1});
    QCOMPARE(prompts.m_messages[0].text,
             QStringLiteral("Please enter an integer between 1 and 100."));
    QCOMPARE(dlg.settings.jpegQuality, 150);
    QTest::keyClicks(Quality(dlg), QStringLiteral("-x "));  // the field takes digits only
    QCOMPARE(Quality(dlg)->text(), QStringLiteral("150"));

    prompts.m_messages.clear();
    RetypeQuality(dlg, QStringLiteral("0"));
    QCOMPARE(prompts.m_messages.size(), size_t{2});  // the empty field, then 0
    QCOMPARE(dlg.settings.jpegQuality, 0);

    prompts.m_messages.clear();
    RetypeQuality(dlg, QStringLiteral("100"));
    QCOMPARE(prompts.m_messages.size(), size_t{1});  // the empty field only
    QCOMPARE(dlg.settings.jpegQuality, 100);

    // A number past the integer range is refused by range, as the largest integer.
    prompts.m_messages.clear();
    Quality(dlg)->setText(QStringLiteral("99999999999"));
    QCOMPARE(prompts.m_messages.size(), size_t{1});
    QCOMPARE(prompts.m_messages[0].text,
             QStringLiteral("Please enter an integer between 1 and 100."));
    QCOMPARE(dlg.settings.jpegQuality, INT32_MAX);
}

void MainDialogTest::refusedQualityStopsTheExchange() {
    RecordingPrompts prompts;
    MainDialog dlg(prompts);
    dlg.Push("kept\r\n");
    Click(Box(dlg, "rleBox"));                  // RLE off, member and box
    Box(dlg, "huffmanBox")->setChecked(false);  // Huffman box cleared behind the dialog's back
    dlg.findChild<QPlainTextEdit*>()->setPlainText(QStringLiteral("typed by the user"));

    // Members before the quality are read; the report after it is not.
    Quality(dlg)->setText(QStringLiteral("101"));
    QCOMPARE(dlg.settings.jpegQuality, 101);
    QVERIFY(!dlg.settings.Selected("huffman"));
    QCOMPARE(dlg.report, std::string("kept\r\n"));

    // A valid quality reads the report back with its own line ends.
    Quality(dlg)->setText(QStringLiteral("42"));
    QCOMPARE(dlg.settings.jpegQuality, 42);
    QCOMPARE(dlg.report, std::string("typed by the user"));
    dlg.findChild<QPlainTextEdit*>()->setPlainText(QStringLiteral("a\nb"));
    Quality(dlg)->setText(QStringLiteral("43"));
    QCOMPARE(dlg.report, std::string("a\r\nb"));

    // Writing the members out does not count as an edit of the quality field.
    prompts.m_messages.clear();
    dlg.settings.jpegQuality = 500;
    dlg.WriteToControls();
    QCOMPARE(Quality(dlg)->text(), QStringLiteral("500"));
    QVERIFY(prompts.m_messages.empty());
}

void MainDialogTest::enterValidatesBeforeClosing() {
    RecordingPrompts prompts;
    MainDialog dlg(prompts);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    RetypeQuality(dlg, QString());
    prompts.m_messages.clear();

    QTest::keyClick(Quality(dlg), Qt::Key_Return);
    QCOMPARE(prompts.m_messages.size(), size_t{1});
    QVERIFY(dlg.isVisible());

    QTest::keyClicks(Quality(dlg), QStringLiteral("60"));
    QTest::keyClick(Quality(dlg), Qt::Key_Return);
    QVERIFY(!dlg.isVisible());
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(dlg.settings.jpegQuality, 60);
}

void MainDialogTest::fullRunWithRleFillsTheReport() {
    QTemporaryDir dir;
    const QString path = WriteBitmap(dir, QStringLiteral("small.bmp"), 16, 16);
    RecordingPrompts prompts;
    prompts.m_answers.push_back(path);
    MainDialog dlg(prompts);
    QTest::mouseClick(Button(dlg, "browseButton"), Qt::LeftButton);
    for (const char* name : {"jpegBox", "huffmanBox", "riceBox"}) {
        Click(Box(dlg, name));  // leaves RLE alone ticked
    }
    dlg.Push("the previous run\r\n");
    QTest::mouseClick(Button(dlg, "startButton"), Qt::LeftButton);

    const std::string header = kReportHeader;
    QCOMPARE(dlg.report.substr(0, header.size()), header);
    const std::string rows = dlg.report.substr(header.size());
    QVERIFY2(rows.rfind("RLE\t\t", 0) == 0, rows.c_str());
    QVERIFY2(rows.find("\r\n") == rows.size() - 2, rows.c_str());  // exactly one row
    QVERIFY(rows.find("\t\t1 : ") != std::string::npos);
    QCOMPARE(dlg.findChild<QPlainTextEdit*>()->toPlainText(),
             QString::fromStdString(dlg.report).replace("\r\n", "\n"));

    // 25 steps for the one codec; at the end the bar is back at its start, empty.
    auto* bar = dlg.findChild<QProgressBar*>();
    QCOMPARE(dlg.Progress().Maximum(), 25);
    QCOMPARE(bar->maximum(), 25);
    QCOMPARE(bar->value(), bar->minimum());
    QCOMPARE(dlg.Progress().Position(), dlg.Progress().Minimum());
    QVERIFY(prompts.m_messages.empty());
}

// After a run, "Save Report..." writes its records in the format the file name asks for, with
// the context: the run measured on a pinned thread, let go after, and the steal meanwhile.
void MainDialogTest::savedReportsHoldTheRunsRecords() {
    QTemporaryDir dir;
    const QString path = WriteBitmap(dir, QStringLiteral("small.bmp"), 16, 16);
    RecordingPrompts prompts;
    MainDialog dlg(prompts);
    QAction* save = ActionOf(dlg, QStringLiteral("Save Report..."));
    QVERIFY(save != nullptr && !save->isEnabled());  // nothing to save before a run
    dlg.ChooseFile(path);
    for (const char* name : {"jpegBox", "huffmanBox", "riceBox"}) {
        Click(Box(dlg, name));  // RLE alone
    }
    const std::vector<int> before = CallingThreadCpus();
    QTest::mouseClick(Button(dlg, "startButton"), Qt::LeftButton);
    QVERIFY(save->isEnabled());
    QCOMPARE(CallingThreadCpus(), before);

    const struct {
        const char* name;
        const char* expected;  // a line the file holds
    } kFiles[] = {
        {"r.txt", "RLE\t\t"},
        {"r.csv", "memcpy,25,"},
        {"r.md", "| rle | 25 |"},
        {"r.json", "\"codec\": \"rle\""},
        {"r.json", "\"pinning\": \"CPU "},
        {"r.json", "\"steal_share\": "},
        {"r.txt", "\npinning             CPU "},
        {"r.txt", "\nsteal during run    "},
        {"r.md", "\n- Steal during the run: "},
    };
    for (const auto& file : kFiles) {
        prompts.m_answers.push_back(dir.filePath(QString::fromLatin1(file.name)));
        save->trigger();
        QFile saved(dir.filePath(QString::fromLatin1(file.name)));
        QVERIFY2(saved.open(QIODevice::ReadOnly), file.name);
        QVERIFY2(saved.readAll().contains(file.expected), file.name);
    }
    QVERIFY(prompts.m_messages.empty());
    QVERIFY(!dlg.SaveReport(dir.filePath(QStringLiteral("r.xml"))));  // no such format
    QCOMPARE(prompts.m_messages.size(), size_t{1});
}

void MainDialogTest::runFailureIsShownInAMessageBox() {
    QTemporaryDir dir;
    const QString path = WriteBitmap(dir, QStringLiteral("gone.bmp"), 8, 8);
    RecordingPrompts prompts;
    prompts.m_answers.push_back(path);
    MainDialog dlg(prompts);
    QTest::mouseClick(Button(dlg, "browseButton"), Qt::LeftButton);
    Click(Box(dlg, "jpegBox"));  // JPEG off: RLE meets the missing file
    QVERIFY(QFile::remove(path));
    QTest::mouseClick(Button(dlg, "startButton"), Qt::LeftButton);

    QCOMPARE(prompts.m_messages.size(), size_t{1});
    QCOMPARE(prompts.m_messages[0].text, QString::fromLatin1(kOpenFailedMessage));
    QCOMPARE(prompts.m_messages[0].icon, QMessageBox::Warning);
    QCOMPARE(dlg.report, std::string());  // ended before the header
}

void MainDialogTest::f1OpensTheAboutBox() {
    RecordingPrompts prompts;
    MainDialog dlg(prompts);
    QAction* about = ActionOf(dlg, QStringLiteral("&About Tallox..."));
    QVERIFY(about != nullptr);
    QCOMPARE(dlg.contextMenuPolicy(), Qt::ActionsContextMenu);

    dlg.show();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    QString opened;
    QTimer::singleShot(0, [&opened] {
        if (auto* box = qobject_cast<AboutDialog*>(QApplication::activeModalWidget())) {
            opened = box->windowTitle();
            box->accept();
        }
    });
    QTest::keyClick(&dlg, Qt::Key_F1);
    QCOMPARE(opened, QStringLiteral("About Tallox"));
}

void MainDialogTest::droppedFileIsChosenAsBrowseChoosesIt() {
    QTemporaryDir dir;
    // A PNG: the byte codecs take its decoded pixels, not its compressed file.
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::blue);
    const QString path = dir.filePath(QStringLiteral("dropped.png"));
    QVERIFY(image.save(path, "PNG"));
    RecordingPrompts prompts;
    MainDialog dlg(prompts);
    // Offered to the dialog as a drag would be: entered, then dropped. Only one local file is
    // taken; anything else leaves the input alone.
    const auto drop = [&dlg](const QList<QUrl>& urls) {
        QMimeData data;
        data.setUrls(urls);
        const QPoint at(dlg.width() / 2, dlg.height() / 2);
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&dlg, &enter);
        if (!enter.isAccepted()) {
            return false;
        }
        QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&dlg, &dropped);
        return dropped.isAccepted();
    };
    QVERIFY(!drop({QUrl(QStringLiteral("https://example.org/a.bmp"))}));
    QVERIFY(!drop({QUrl::fromLocalFile(path), QUrl::fromLocalFile(path)}));
    QVERIFY(dlg.settings.fileName.empty());

    QVERIFY(drop({QUrl::fromLocalFile(path)}));
    QCOMPARE(QString::fromStdString(dlg.settings.fileName), QStringLiteral("dropped.png"));
    QCOMPARE(QString::fromStdString(dlg.settings.filePath), QFileInfo(path).absoluteFilePath());
    QCOMPARE(dlg.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text(),
             QStringLiteral("dropped.png"));
    QVERIFY(dlg.findChild<PreviewFrame*>()->HasImage());

    // Run as dropped: every codec's record, the yardstick's too, measured the image's pixels.
    QTest::mouseClick(Button(dlg, "startButton"), Qt::LeftButton);
    QVERIFY2(dlg.report.find("RLE\t\t") != std::string::npos, dlg.report.c_str());
    const QString saved = dir.filePath(QStringLiteral("dropped.json"));
    QVERIFY(dlg.SaveReport(saved));
    QFile file(saved);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonArray results =
        QJsonDocument::fromJson(file.readAll())[QStringLiteral("results")].toArray();
    QStringList codecs;
    for (const QJsonValue& result : results) {
        codecs << result[QStringLiteral("codec")].toString();
        QCOMPARE(result[QStringLiteral("basis")].toString(), QStringLiteral("pixels"));
    }
    QCOMPARE(codecs,
             (QStringList{QStringLiteral("memcpy"), QStringLiteral("jpeg"), QStringLiteral("rle"),
                          QStringLiteral("huffman"), QStringLiteral("rice")}));
    QVERIFY(prompts.m_messages.empty());
}

void MainDialogTest::showChartDrawsTheLastRun() {
    QTemporaryDir dir;
    const QString path = WriteBitmap(dir, QStringLiteral("small.bmp"), 16, 16);
    RecordingPrompts prompts;
    MainDialog dlg(prompts);
    QAction* show = ActionOf(dlg, QStringLiteral("Show &Chart..."));
    QVERIFY(show != nullptr);
    QVERIFY(!show->isEnabled());  // nothing to draw before a run

    dlg.ChooseFile(path);
    dlg.settings.Select("jpeg", false);
    dlg.settings.Select("huffman", false);
    dlg.settings.Select("rice", false);
    QTest::mouseClick(Button(dlg, "startButton"), Qt::LeftButton);
    QVERIFY(show->isEnabled());
    show->trigger();
    auto* chart = dlg.findChild<ChartWindow*>();
    QVERIFY(chart != nullptr);
    QVERIFY(chart->isVisible() && chart->isWindow() && !chart->isModal());
    // RLE alone is the front: its marker is drawn in the front's colour.
    const QImage shot = chart->grab().toImage();
    bool front = false;
    for (int y = 0; y < shot.height() && !front; ++y) {
        for (int x = 0; x < shot.width() && !front; ++x) {
            front = shot.pixelColor(x, y) == QColor(0xDD, 0x84, 0x52);
        }
    }
    QVERIFY(front);

    show->trigger();  // the same window again
    QCOMPARE(dlg.findChildren<ChartWindow*>().size(), 1);
    dlg.Push("");  // a new run starts: its rows are not there yet
    QVERIFY(!show->isEnabled());

    // After a sweep of a lossy codec the window opens on a rate-distortion chart; the speed
    // chart stays in its list.
    prompts.m_codecs = {{QStringLiteral("webp"), QStringLiteral("30,90")}};
    ActionOf(dlg, QStringLiteral("More Codecs..."))->trigger();
    QTest::mouseClick(Button(dlg, "startButton"), Qt::LeftButton);
    show->trigger();
    auto* chooser = chart->findChild<QComboBox*>(QStringLiteral("chartChooser"));
    QVERIFY(chooser != nullptr);
    QVERIFY2(chooser->currentText().startsWith(QStringLiteral("Rate-distortion")),
             qPrintable(chooser->currentText()));
    QCOMPARE(chooser->itemText(0), QStringLiteral("Ratio against speed"));
}

// Codecs chosen from "More Codecs..." are measured after the six boxes' rows, at every value
// typed, and stay chosen for the next opening of the list; a value out of range is refused
// with the codec's range.
void MainDialogTest::moreCodecsAddRowsAfterTheSix() {
    QTemporaryDir dir;
    const QString path = WriteBitmap(dir, QStringLiteral("small.bmp"), 16, 16);
    RecordingPrompts prompts;
    MainDialog dlg(prompts);
    QAction* more = ActionOf(dlg, QStringLiteral("More Codecs..."));
    QVERIFY(more != nullptr && more->isEnabled());
    prompts.m_codecs = {{QStringLiteral("zstd"), QStringLiteral("1,19")}};
    more->trigger();
    dlg.ChooseFile(path);
    Click(Box(dlg, "rleBox"));
    Click(Box(dlg, "rleBox"));  // ticked again after the list was chosen: still before it
    QTest::mouseClick(Button(dlg, "startButton"), Qt::LeftButton);
    QVERIFY(prompts.m_messages.empty());
    const std::string rows = dlg.report.substr(std::string(kReportHeader).size());
    std::vector<std::string> labels;
    for (size_t at = 0; at < rows.size(); at = rows.find("\r\n", at) + 2) {
        labels.push_back(rows.substr(at, rows.find('\t', at) - at));
    }
    QVERIFY2(labels == (std::vector<std::string>{"JPEG GDI+", "RLE", "Huffman", "Rice", "zstd -1",
                                                 "zstd -19"}),
             rows.c_str());

    prompts.m_codecs = {{QStringLiteral("zstd"), QStringLiteral("23")}};
    more->trigger();
    QCOMPARE(prompts.m_shownCodecs.size(), 2u);  // the session's choice, shown again
    QCOMPARE(prompts.m_messages.size(), 1);
    QVERIFY2(prompts.m_messages[0].text.contains(QStringLiteral("level 23 is out of range")),
             qPrintable(prompts.m_messages[0].text));
    std::vector<CodecSetting> zstd;  // kept as it was
    std::copy_if(dlg.settings.codecs.begin(), dlg.settings.codecs.end(), std::back_inserter(zstd),
                 [](const CodecSetting& setting) { return setting.name == "zstd"; });
    QCOMPARE(zstd, (std::vector<CodecSetting>{{"zstd", {1}}, {"zstd", {19}}}));
}

QTEST_MAIN(MainDialogTest)
#include "main_dialog_test.moc"
