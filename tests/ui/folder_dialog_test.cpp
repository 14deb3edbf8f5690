// A folder measured from the dialog: chosen with "Folder...", run on its own thread while the
// window stays live, its summary in the report and in a saved report, and Stop ending it early.
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <deque>
#include <optional>

#include "ui/folder_run.h"
#include "ui/main_dialog.h"

using namespace tallox;

namespace {

// Answers the folder and save dialogs from a queue; records the message boxes.
class FolderPrompts final : public UserPrompts {
public:
    std::optional<QString> GetOpenFileName(QWidget*, const QString&) override { return Next(); }
    std::optional<QString> GetFolder(QWidget*) override { return Next(); }
    std::optional<QString> GetSaveFileName(QWidget*, const QString&) override { return Next(); }
    std::optional<std::vector<CodecSetting>> ChooseCodecs(
        QWidget*, const CodecRegistry&, const std::vector<CodecSetting>&) override {
        return std::nullopt;
    }
    void ShowMessageBox(QWidget*, const QString& text, QMessageBox::Icon) override {
        messages << text;
    }

    std::optional<QString> Next() {
        if (answers.empty()) {
            return std::nullopt;
        }
        const QString answer = answers.front();
        answers.pop_front();
        return answer;
    }

    std::deque<QString> answers;
    QStringList messages;
};

// A folder of `count` images of `size` pixels square, named 00.bmp, 01.bmp, ...
void WriteImages(const QTemporaryDir& dir, int count, int size) {
    QImage image(size, size, QImage::Format_RGB32);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            image.setPixel(x, y, qRgb(x * 7 % 256, y * 3 % 256, (x ^ y) % 256));
        }
    }
    for (int i = 0; i < count; ++i) {
        const QString path = dir.filePath(QStringLiteral("%1.bmp").arg(i, 2, 10, QLatin1Char('0')));
        if (!image.save(path, "BMP")) {
            qFatal("cannot write %s", qPrintable(path));
        }
    }
}

QPushButton* Button(MainDialog& dlg, const char* name) {
    return dlg.findChild<QPushButton*>(QString::fromLatin1(name));
}

QString Report(MainDialog& dlg) {
    return dlg.findChild<QPlainTextEdit*>(QStringLiteral("reportEdit"))->toPlainText();
}

bool Finished(MainDialog& dlg) { return dlg.findChild<FolderRun*>() == nullptr; }

}  // namespace

class FolderDialogTest : public QObject {
    Q_OBJECT
private slots:
    void folderRunShowsEachFileAndTheSummary();
    void stopEndsTheRunEarly();
};

void FolderDialogTest::folderRunShowsEachFileAndTheSummary() {
    QTemporaryDir dir;
    WriteImages(dir, 2, 24);
    QFile broken(dir.filePath(QStringLiteral("02.png")));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write("\x89PNG\r\n\x1a\n", 8);  // a signature and nothing after it
    broken.close();
    QFile(dir.filePath(QStringLiteral("notes.txt"))).open(QIODevice::WriteOnly);  // not an image
    FolderPrompts prompts;
    prompts.answers = {dir.path(), dir.filePath(QStringLiteral("folder.csv"))};
    MainDialog dlg(prompts);
    dlg.show();

    QTest::mouseClick(Button(dlg, "folderButton"), Qt::LeftButton);
    QCOMPARE(dlg.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text(),
             QFileInfo(dir.path()).fileName());
    QTest::mouseClick(Button(dlg, "startButton"), Qt::LeftButton);
    QVERIFY(!Button(dlg, "startButton")->isEnabled());
    QVERIFY(Button(dlg, "stopButton")->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(Finished(dlg), 30000);

    const QString report = Report(dlg);
    for (const char* name : {"00.bmp", "01.bmp", "02.png"}) {
        QVERIFY2(report.contains(dir.filePath(QString::fromLatin1(name)) + QLatin1Char('\n')),
                 qPrintable(report));
    }
    QVERIFY(!report.contains(QStringLiteral("notes.txt")));
    QVERIFY2(report.contains(QStringLiteral("error: ")), qPrintable(report));  // the broken file
    // The summary per codec, the yardstick none: RLE over its two files, and one failure.
    const qsizetype summary = report.indexOf(QStringLiteral("\nSummary\n"));
    QVERIFY2(summary > 0, qPrintable(report));
    QVERIFY2(report.indexOf(QRegularExpression(QStringLiteral("\nRLE[^\n]*\t2\t1\t")), summary) > 0,
             qPrintable(report));
    // Then JPEG's quality figures spread over the two images.
    const qsizetype rd = report.indexOf(QStringLiteral("Rate-distortion against jpeg"), summary);
    QVERIFY2(rd > 0, qPrintable(report));
    QCOMPARE(report.mid(summary, rd - summary).count(QLatin1Char('\n')), 10);  // a line per codec
    QVERIFY(Button(dlg, "startButton")->isEnabled());
    QVERIFY(!Button(dlg, "stopButton")->isEnabled());
    QVERIFY(prompts.messages.isEmpty());

    // Saved as CSV: a record per file and codec naming its file, then the summaries.
    QAction* save = nullptr;
    for (QAction* action : dlg.actions()) {
        if (action->text() == QStringLiteral("Save Report...")) save = action;
    }
    QVERIFY(save->isEnabled());
    save->trigger();
    QFile csv(dir.filePath(QStringLiteral("folder.csv")));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QString saved = QString::fromUtf8(csv.readAll());
    for (const char* name : {"00.bmp", "01.bmp", "02.png"}) {
        QCOMPARE(saved.count(dir.filePath(QString::fromLatin1(name)) + QStringLiteral(",rle,")), 1);
    }
    QVERIFY2(saved.contains(QStringLiteral("\n\n")), qPrintable(saved));  // the summary table

    // The folder's charts, its summary's speed chart first.
    QAction* show = nullptr;
    for (QAction* action : dlg.actions()) {
        if (action->text() == QStringLiteral("Show &Chart...")) show = action;
    }
    QVERIFY(show->isEnabled());
    show->trigger();
    auto* chooser = dlg.findChild<QComboBox*>(QStringLiteral("chartChooser"));
    QVERIFY(chooser != nullptr);
    QCOMPARE(chooser->itemText(0), QStringLiteral("Ratio against speed"));
}

void FolderDialogTest::stopEndsTheRunEarly() {
    QTemporaryDir dir;
    constexpr int kFiles = 20;
    WriteImages(dir, kFiles, 256);
    FolderPrompts prompts;
    MainDialog dlg(prompts);
    dlg.show();
    dlg.ChooseFolder(dir.path());
    // Calls enough for minutes a codec: the stop must come after the call under way.
    dlg.settings.iterations = 1'000'000;
    QTest::mouseClick(Button(dlg, "startButton"), Qt::LeftButton);
    auto* run = dlg.findChild<FolderRun*>();
    QVERIFY(run != nullptr);
    // Stop as the first file starts: the call under way ends its codec, no later file starts.
    connect(run, &FolderRun::fileStarted, &dlg, [&dlg](int file) {
        if (file == 0) QTest::mouseClick(Button(dlg, "stopButton"), Qt::LeftButton);
    });
    QTRY_VERIFY_WITH_TIMEOUT(Finished(dlg), 60000);
    const QString report = Report(dlg);
    QVERIFY2(report.contains(dir.filePath(QStringLiteral("00.bmp"))), qPrintable(report));
    QVERIFY2(!report.contains(dir.filePath(QStringLiteral("%1.bmp").arg(kFiles - 1))),
             qPrintable(report));
    QVERIFY2(report.contains(QStringLiteral("\nSummary\n")), qPrintable(report));
    QVERIFY(Button(dlg, "startButton")->isEnabled());
}

QTEST_MAIN(FolderDialogTest)
#include "folder_dialog_test.moc"
