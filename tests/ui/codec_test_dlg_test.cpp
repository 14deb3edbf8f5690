// The main dialog driven as a user would: clicks, typing and browsing, with the file chooser
// and the message boxes answered by a recording stand-in.
#include "ui/codec_test_dlg.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <deque>
#include <optional>
#include <tuple>
#include <vector>

#include "bench/report.h"
#include "bench/run.h"
#include "ui/about_dlg.h"
#include "ui/dialog_units.h"
#include "ui/preview_frame.h"

using namespace tallox;

namespace {

class CRecordingPrompts final : public CUserPrompts {
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
        std::optional<QString> answer = m_answers.front();
        m_answers.pop_front();
        return answer;
    }

    void ShowMessageBox(QWidget* /*parent*/, const QString& text, QMessageBox::Icon icon) override {
        m_messages.push_back({text, icon});
    }

    std::deque<std::optional<QString>> m_answers;  // the file dialog's answers, in turn
    QStringList m_filters;
    std::vector<Message> m_messages;
};

QCheckBox* Box(CCodecTestDlg& dlg, int id) {
    return dlg.findChild<QCheckBox*>(QString::number(id));
}

// Clicks a box on its indicator, where a check box takes clicks.
void Click(QCheckBox* box) {
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(4, box->height() / 2));
}

QLineEdit* Quality(CCodecTestDlg& dlg) { return dlg.findChild<QLineEdit*>(QStringLiteral("1015")); }

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
void RetypeQuality(CCodecTestDlg& dlg, const QString& text) {
    QLineEdit* quality = Quality(dlg);
    quality->setFocus();
    quality->selectAll();
    QTest::keyClick(quality, Qt::Key_Backspace);
    QTest::keyClicks(quality, text);
}

struct ExpectedControl {
    int id;
    const char* className;
    const char* text;
    QRect rect;
};

// The dialog template as the user sees it.
const ExpectedControl kExpected[] = {
    {1000, "QLineEdit", "", {13, 18, 93, 14}},
    {1001, "QPushButton", "...", {109, 18, 20, 14}},
    {1012, "tallox::CPreviewFrame", "", {13, 35, 116, 80}},
    {1002, "QCheckBox", "JPEG GDI+ Library", {13, 136, 75, 10}},
    {1015, "QLineEdit", "50", {101, 134, 20, 12}},
    {1008, "QCheckBox", "Intel Jpeg Library", {13, 147, 72, 10}},
    {1003, "QCheckBox", "RLE (Run Length Encoding)", {13, 178, 111, 10}},
    {1004, "QCheckBox", "Huffman Encoding", {13, 189, 116, 10}},
    {1005, "QCheckBox", "Rice Coding", {13, 200, 118, 10}},
    {1006, "QCheckBox", "Lempel-Ziv Compression (LZx)", {13, 211, 113, 10}},
    {1007, "QCheckBox", "Fast Lempel-Ziv Compression", {13, 222, 117, 10}},
    {1009, "QCheckBox", "Fast Metering", {13, 253, 108, 10}},
    {1010, "QCheckBox", "Accurate Metering", {13, 263, 75, 10}},
    {1011, "QPushButton", "Start", {44, 279, 50, 14}},
    {1013, "QPlainTextEdit", "", {141, 7, 279, 294}},
    {1014, "QProgressBar", "", {7, 304, 414, 11}},
};

QString TextOf(QWidget* widget) {
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) return edit->text();
    if (auto* report = qobject_cast<QPlainTextEdit*>(widget)) return report->toPlainText();
    return QString();
}

}  // namespace

class CCodecTestDlgTest : public QObject {
    Q_OBJECT
private slots:
    void freshDialogState();
    void dialogUnitsRoundToNearestPixel();
    void controlsLieAtTheirTemplatePositions();
    void accurateClickedTwiceStaysTicked();
    void codecBoxFlipsItsMember_data();
    void codecBoxFlipsItsMember();
    void memberOtherThanOneShowsClearAndTogglesToOne();
    void browseShowsNameAndKeepsPreviewAcrossRepaints();
    void cancelledBrowseShowsMessageAndKeepsFile();
    void unloadableImageClearsPreviewSilently();
    void startWithoutFileChangesNothing();
    void qualityIsStoredBeforeItIsRangeChecked();
    void refusedQualityStopsTheExchange();
    void enterValidatesBeforeClosing();
    void fullRunWithRleFillsTheReport();
    void runFailureIsShownInAMessageBox();
    void f1OpensTheAboutBox();
};

void CCodecTestDlgTest::freshDialogState() {
    CRecordingPrompts prompts;
    CCodecTestDlg dlg(prompts);

    QCOMPARE(dlg.windowTitle(), QStringLiteral("KANDRA Image Compression Benchmark"));
    QVERIFY(!dlg.windowIcon().isNull());
    QCOMPARE(dlg.minimumSize(), dlg.maximumSize());

    const std::vector<int32_t> members = {dlg.m_bFastMetering, dlg.m_bAccurateMetering,
                                          dlg.m_nIterations,   dlg.m_nJpegQuality,
                                          dlg.m_bJpeg,         dlg.m_bRle,
                                          dlg.m_bHuffman,      dlg.m_bRice,
                                          dlg.m_bLz77,         dlg.m_bLz77Fast};
    QCOMPARE(members, (std::vector<int32_t>{1, 0, 25, 50, 1, 1, 1, 1, 0, 0}));
    QVERIFY(dlg.m_strFileName.empty() && dlg.m_strFilePath.empty() && dlg.m_strReport.empty());

    for (const ExpectedControl& control : kExpected) {
        QWidget* widget = dlg.findChild<QWidget*>(QString::number(control.id));
        QVERIFY2(widget != nullptr, control.text);
        QCOMPARE(widget->metaObject()->className(), control.className);
        QCOMPARE(TextOf(widget), QString::fromLatin1(control.text));
    }
    // id, ticked, enabled
    const std::tuple<int, bool, bool> boxes[] = {
        {1002, true, true},   {1003, true, true},   {1004, true, true},
        {1005, true, true},   {1006, false, false}, {1007, false, false},
        {1008, false, false}, {1009, true, true},   {1010, false, true}};
    for (const auto& [id, ticked, enabled] : boxes) {
        QVERIFY2(Box(dlg, id)->isChecked() == ticked, qPrintable(QString::number(id)));
        QVERIFY2(Box(dlg, id)->isEnabled() == enabled, qPrintable(QString::number(id)));
    }

    QStringList groups;
    for (QGroupBox* group : dlg.findChildren<QGroupBox*>()) groups << group->title();
    QCOMPARE(groups, (QStringList{"Input Image", "Lossy Compression", "Lossless Compression",
                                  "Benchmark"}));
    QCOMPARE(dlg.findChild<QLabel*>()->text(), QStringLiteral("%"));

    // The progress bar starts as an untouched control: 0 of 0 to 100, no text.
    auto* bar = dlg.findChild<QProgressBar*>(QStringLiteral("1014"));
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 100);
    QCOMPARE(bar->value(), 0);
    QVERIFY(!bar->isTextVisible());
}

void CCodecTestDlgTest::dialogUnitsRoundToNearestPixel() {
    // 113 * 7 / 4 = 197.75, 35 * 14 / 8 = 61.25, 1 * 6 / 4 = 1.5 (halves round up).
    QCOMPARE(MapDialogRect(QRect(113, 35, 1, 8), QSize(7, 14)), QRect(198, 61, 2, 14));
    QCOMPARE(MapDialogRect(QRect(0, 0, 428, 322), QSize(6, 13)).size(), QSize(642, 523));
}

void CCodecTestDlgTest::controlsLieAtTheirTemplatePositions() {
    CRecordingPrompts prompts;
    CCodecTestDlg dlg(prompts);
    const QSize base = DialogBaseUnits(dlg.font());
    QVERIFY(base.width() > 0 && base.height() > 0);
    QCOMPARE(dlg.size(), MapDialogRect(QRect(0, 0, 428, 322), base).size());

    const QImage shot = dlg.grab().toImage();
    QCOMPARE(shot.size() / shot.devicePixelRatio(), dlg.size());
    for (const ExpectedControl& control : kExpected) {
        QWidget* widget = dlg.findChild<QWidget*>(QString::number(control.id));
        const QRect expected = MapDialogRect(control.rect, base);
        QCOMPARE(widget->geometry(), expected);
        QVERIFY2(dlg.rect().contains(expected), qPrintable(QString::number(control.id)));
        QVERIFY(widget->isVisibleTo(&dlg));
        // Something was painted there: the area is not one flat colour.
        const QImage area = shot.copy(expected);
        bool varied = false;
        for (int y = 0; y < area.height() && !varied; ++y) {
            for (int x = 0; x < area.width() && !varied; ++x) {
                varied = area.pixel(x, y) != area.pixel(0, 0);
            }
        }
        QVERIFY2(varied, qPrintable(QString::number(control.id)));
    }
}

void CCodecTestDlgTest::accurateClickedTwiceStaysTicked() {
    CRecordingPrompts prompts;
    CCodecTestDlg dlg(prompts);
    for (int click = 0; click < 2; ++click) {
        Click(Box(dlg, 1010));
        QCOMPARE(dlg.m_bAccurateMetering, 1);
        QCOMPARE(dlg.m_bFastMetering, 0);
        QCOMPARE(dlg.m_nIterations, 500);
        QVERIFY(Box(dlg, 1010)->isChecked());
        QVERIFY(!Box(dlg, 1009)->isChecked());
    }
    Click(Box(dlg, 1009));
    QCOMPARE(dlg.m_nIterations, 25);
    QVERIFY(Box(dlg, 1009)->isChecked());
    QVERIFY(!Box(dlg, 1010)->isChecked());
    QVERIFY(prompts.m_messages.empty());
}

void CCodecTestDlgTest::codecBoxFlipsItsMember_data() {
    QTest::addColumn<int>("id");
    QTest::newRow("JPEG") << 1002;
    QTest::newRow("RLE") << 1003;
    QTest::newRow("Huffman") << 1004;
    QTest::newRow("Rice") << 1005;
}

void CCodecTestDlgTest::codecBoxFlipsItsMember() {
    QFETCH(int, id);
    CRecordingPrompts prompts;
    CCodecTestDlg dlg(prompts);
    int32_t* members[] = {&dlg.m_bJpeg, &dlg.m_bRle, &dlg.m_bHuffman, &dlg.m_bRice};
    int32_t& member = *members[id - 1002];
    for (const int expected : {0, 1, 0}) {
        Click(Box(dlg, id));
        QCOMPARE(member, expected);
        QCOMPARE(Box(dlg, id)->isChecked(), expected == 1);
    }
    // The other selections are left alone.
    int32_t total = dlg.m_bJpeg + dlg.m_bRle + dlg.m_bHuffman + dlg.m_bRice;
    QCOMPARE(total, 3);
    QCOMPARE(dlg.m_bLz77 + dlg.m_bLz77Fast, 0);
}

void CCodecTestDlgTest::memberOtherThanOneShowsClearAndTogglesToOne() {
    CRecordingPrompts prompts;
    CCodecTestDlg dlg(prompts);
    dlg.m_bRle = 2;  // not chosen, as far as a run is concerned
    dlg.UpdateData(false);
    QVERIFY(!Box(dlg, 1003)->isChecked());
    Click(Box(dlg, 1003));
    QCOMPARE(dlg.m_bRle, 1);
    QVERIFY(Box(dlg, 1003)->isChecked());
}

void CCodecTestDlgTest::browseShowsNameAndKeepsPreviewAcrossRepaints() {
    QTemporaryDir dir;
    const QString path = WriteBitmap(dir, QStringLiteral("halves.bmp"), 40, 30);
    CRecordingPrompts prompts;
    prompts.m_answers.push_back(path);
    CCodecTestDlg dlg(prompts);
    QTest::mouseClick(dlg.findChild<QPushButton*>(QStringLiteral("1001")), Qt::LeftButton);

    QCOMPARE(prompts.m_filters, QStringList{QStringLiteral("BMP Image (*.bmp)")});
    QVERIFY(prompts.m_messages.empty());
    QCOMPARE(QString::fromStdString(dlg.m_strFileName), QStringLiteral("halves.bmp"));
    QCOMPARE(QString::fromStdString(dlg.m_strFilePath), QFileInfo(path).absoluteFilePath());
    QCOMPARE(dlg.findChild<QLineEdit*>(QStringLiteral("1000"))->text(),
             QStringLiteral("halves.bmp"));

    // Stretched into 171 x 128 at (1, 1), aspect ratio not kept; every paint draws it again.
    QCOMPARE(dlg.m_pPreviewWnd->ScaledImage().size(), QSize(171, 128));
    for (int paint = 0; paint < 2; ++paint) {
        const QImage shot = dlg.m_pPreviewWnd->grab().toImage();
        QCOMPARE(shot.pixelColor(5, 5), QColor(Qt::red));
        QCOMPARE(shot.pixelColor(165, 120), QColor(Qt::blue));
        QCOMPARE(shot.pixelColor(1, 128), QColor(Qt::red));
        QCOMPARE(shot.pixelColor(171, 1), QColor(Qt::blue));
        QVERIFY(shot.pixelColor(172, 129) != QColor(Qt::blue));
    }
}

void CCodecTestDlgTest::cancelledBrowseShowsMessageAndKeepsFile() {
    QTemporaryDir dir;
    const QString path = WriteBitmap(dir, QStringLiteral("first.bmp"), 8, 8);
    CRecordingPrompts prompts;
    prompts.m_answers = {path, std::nullopt};
    CCodecTestDlg dlg(prompts);
    auto* browse = dlg.findChild<QPushButton*>(QStringLiteral("1001"));
    QTest::mouseClick(browse, Qt::LeftButton);
    QTest::mouseClick(browse, Qt::LeftButton);

    QCOMPARE(prompts.m_messages.size(), size_t{1});
    QCOMPARE(prompts.m_messages[0].text, QStringLiteral("Open File Error"));
    QCOMPARE(prompts.m_messages[0].icon, QMessageBox::Information);
    QCOMPARE(QString::fromStdString(dlg.m_strFileName), QStringLiteral("first.bmp"));
    QCOMPARE(QString::fromStdString(dlg.m_strFilePath), QFileInfo(path).absoluteFilePath());
    QCOMPARE(dlg.findChild<QLineEdit*>(QStringLiteral("1000"))->text(),
             QStringLiteral("first.bmp"));
    QVERIFY(!dlg.m_pPreviewWnd->ScaledImage().isNull());
}

void CCodecTestDlgTest::unloadableImageClearsPreviewSilently() {
    QTemporaryDir dir;
    const QString good = WriteBitmap(dir, QStringLiteral("good.bmp"), 8, 8);
    const QString bad = dir.filePath(QStringLiteral("bad.bmp"));
    QFile file(bad);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("BM not really a bitmap");
    file.close();

    CRecordingPrompts prompts;
    prompts.m_answers = {good, bad};
    CCodecTestDlg dlg(prompts);
    auto* browse = dlg.findChild<QPushButton*>(QStringLiteral("1001"));
    QTest::mouseClick(browse, Qt::LeftButton);
    QVERIFY(!dlg.m_pPreviewWnd->ScaledImage().isNull());
    QTest::mouseClick(browse, Qt::LeftButton);
    QVERIFY(dlg.m_pPreviewWnd->ScaledImage().isNull());
    QCOMPARE(QString::fromStdString(dlg.m_strFileName), QStringLiteral("bad.bmp"));
    QVERIFY(prompts.m_messages.empty());
}

void CCodecTestDlgTest::startWithoutFileChangesNothing() {
    CRecordingPrompts prompts;
    CCodecTestDlg dlg(prompts);
    dlg.Push("earlier report\r\n");
    dlg.m_progress.SetRange(0, 40);
    dlg.m_progress.SetPos(7);
    QTest::mouseClick(dlg.findChild<QPushButton*>(QStringLiteral("1011")), Qt::LeftButton);

    QCOMPARE(dlg.m_strReport, std::string("earlier report\r\n"));
    QCOMPARE(dlg.findChild<QPlainTextEdit*>()->toPlainText(), QStringLiteral("earlier report\n"));
    QCOMPARE(dlg.m_progress.Position(), 7);
    QCOMPARE(dlg.m_progress.Maximum(), 40);
    QCOMPARE(dlg.findChild<QProgressBar*>()->value(), 7);
    QVERIFY(prompts.m_messages.empty());
}

void CCodecTestDlgTest::qualityIsStoredBeforeItIsRangeChecked() {
    CRecordingPrompts prompts;
    CCodecTestDlg dlg(prompts);

    // Emptying the field asks for an integer and keeps the member.
    RetypeQuality(dlg, QString());
    QCOMPARE(prompts.m_messages.size(), size_t{1});
    QCOMPARE(prompts.m_messages[0].text, QStringLiteral("Please enter an integer."));
    QCOMPARE(prompts.m_messages[0].icon, QMessageBox::Warning);
    QCOMPARE(dlg.m_nJpegQuality, 50);

    // Every keystroke is read: "1" and "15" pass, "150" is refused but already stored.
    prompts.m_messages.clear();
    QTest::keyClicks(Quality(dlg), QStringLiteral("150"));
    QCOMPARE(prompts.m_messages.size(), size_t{1});
    QCOMPARE(prompts.m_messages[0].text,
             QStringLiteral("Please enter an integer between 1 and 100."));
    QCOMPARE(dlg.m_nJpegQuality, 150);
    QTest::keyClicks(Quality(dlg), QStringLiteral("-x "));  // the field takes digits only
    QCOMPARE(Quality(dlg)->text(), QStringLiteral("150"));

    prompts.m_messages.clear();
    RetypeQuality(dlg, QStringLiteral("0"));
    QCOMPARE(prompts.m_messages.size(), size_t{2});  // the empty field, then 0
    QCOMPARE(dlg.m_nJpegQuality, 0);

    prompts.m_messages.clear();
    RetypeQuality(dlg, QStringLiteral("100"));
    QCOMPARE(prompts.m_messages.size(), size_t{1});  // the empty field only
    QCOMPARE(dlg.m_nJpegQuality, 100);

    // A number past the integer range is refused by range, as the largest integer.
    prompts.m_messages.clear();
    Quality(dlg)->setText(QStringLiteral("99999999999"));
    QCOMPARE(prompts.m_messages.size(), size_t{1});
    QCOMPARE(prompts.m_messages[0].text,
             QStringLiteral("Please enter an integer between 1 and 100."));
    QCOMPARE(dlg.m_nJpegQuality, INT32_MAX);
}

void CCodecTestDlgTest::refusedQualityStopsTheExchange() {
    CRecordingPrompts prompts;
    CCodecTestDlg dlg(prompts);
    dlg.Push("kept\r\n");
    Click(Box(dlg, 1003));              // RLE off, member and box
    Box(dlg, 1004)->setChecked(false);  // Huffman box cleared behind the dialog's back
    dlg.findChild<QPlainTextEdit*>()->setPlainText(QStringLiteral("typed by the user"));

    // Members before the quality are read; the report after it is not.
    Quality(dlg)->setText(QStringLiteral("101"));
    QCOMPARE(dlg.m_nJpegQuality, 101);
    QCOMPARE(dlg.m_bHuffman, 0);
    QCOMPARE(dlg.m_strReport, std::string("kept\r\n"));

    // A valid quality reads the report back with its own line ends.
    Quality(dlg)->setText(QStringLiteral("42"));
    QCOMPARE(dlg.m_nJpegQuality, 42);
    QCOMPARE(dlg.m_strReport, std::string("typed by the user"));
    dlg.findChild<QPlainTextEdit*>()->setPlainText(QStringLiteral("a\nb"));
    Quality(dlg)->setText(QStringLiteral("43"));
    QCOMPARE(dlg.m_strReport, std::string("a\r\nb"));

    // Writing the members out does not count as an edit of the quality field.
    prompts.m_messages.clear();
    dlg.m_nJpegQuality = 500;
    dlg.UpdateData(false);
    QCOMPARE(Quality(dlg)->text(), QStringLiteral("500"));
    QVERIFY(prompts.m_messages.empty());
}

void CCodecTestDlgTest::enterValidatesBeforeClosing() {
    CRecordingPrompts prompts;
    CCodecTestDlg dlg(prompts);
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
    QCOMPARE(dlg.m_nJpegQuality, 60);
}

void CCodecTestDlgTest::fullRunWithRleFillsTheReport() {
    QTemporaryDir dir;
    const QString path = WriteBitmap(dir, QStringLiteral("small.bmp"), 16, 16);
    CRecordingPrompts prompts;
    prompts.m_answers.push_back(path);
    CCodecTestDlg dlg(prompts);
    QTest::mouseClick(dlg.findChild<QPushButton*>(QStringLiteral("1001")), Qt::LeftButton);
    for (const int id : {1002, 1004, 1005}) {
        Click(Box(dlg, id));  // leaves RLE alone ticked
    }
    dlg.Push("the previous run\r\n");
    QTest::mouseClick(dlg.findChild<QPushButton*>(QStringLiteral("1011")), Qt::LeftButton);

    const std::string header = kReportHeader;
    QCOMPARE(dlg.m_strReport.substr(0, header.size()), header);
    const std::string rows = dlg.m_strReport.substr(header.size());
    QVERIFY2(rows.rfind("RLE\t\t", 0) == 0, rows.c_str());
    QVERIFY2(rows.find("\r\n") == rows.size() - 2, rows.c_str());  // exactly one row
    QVERIFY(rows.find("\t\t1 : ") != std::string::npos);
    QCOMPARE(dlg.findChild<QPlainTextEdit*>()->toPlainText(),
             QString::fromStdString(dlg.m_strReport).replace("\r\n", "\n"));

    // 25 steps for the one codec; at the end the bar is back at its start, empty.
    auto* bar = dlg.findChild<QProgressBar*>();
    QCOMPARE(dlg.m_progress.Maximum(), 25);
    QCOMPARE(bar->maximum(), 25);
    QCOMPARE(bar->value(), bar->minimum());
    QCOMPARE(dlg.m_progress.Position(), dlg.m_progress.Minimum());
    QVERIFY(prompts.m_messages.empty());
}

void CCodecTestDlgTest::runFailureIsShownInAMessageBox() {
    QTemporaryDir dir;
    const QString path = WriteBitmap(dir, QStringLiteral("gone.bmp"), 8, 8);
    CRecordingPrompts prompts;
    prompts.m_answers.push_back(path);
    CCodecTestDlg dlg(prompts);
    QTest::mouseClick(dlg.findChild<QPushButton*>(QStringLiteral("1001")), Qt::LeftButton);
    Click(Box(dlg, 1002));  // JPEG off: RLE meets the missing file
    QVERIFY(QFile::remove(path));
    QTest::mouseClick(dlg.findChild<QPushButton*>(QStringLiteral("1011")), Qt::LeftButton);

    QCOMPARE(prompts.m_messages.size(), size_t{1});
    QCOMPARE(prompts.m_messages[0].text, QString::fromLatin1(kOpenFailedMessage));
    QCOMPARE(prompts.m_messages[0].icon, QMessageBox::Warning);
    QCOMPARE(dlg.m_strReport, std::string(kReportHeader));
}

void CCodecTestDlgTest::f1OpensTheAboutBox() {
    CRecordingPrompts prompts;
    CCodecTestDlg dlg(prompts);
    QAction* about = nullptr;
    for (QAction* action : dlg.actions()) {
        if (action->text() == QStringLiteral("&About Tallox...")) about = action;
    }
    QVERIFY(about != nullptr);
    QCOMPARE(dlg.contextMenuPolicy(), Qt::ActionsContextMenu);

    dlg.show();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    QString opened;
    QTimer::singleShot(0, [&opened] {
        if (auto* box = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget())) {
            opened = box->windowTitle();
            box->accept();
        }
    });
    QTest::keyClick(&dlg, Qt::Key_F1);
    QCOMPARE(opened, QStringLiteral("About Tallox"));
}

QTEST_MAIN(CCodecTestDlgTest)
#include "codec_test_dlg_test.moc"
