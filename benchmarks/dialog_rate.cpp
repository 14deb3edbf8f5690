// tallox_dialog_rate: the dialog's frames per second as a user gets them. The real MainDialog,
// shown and exposed, is driven through its controls: FILE chosen with "...", JPEG unticked,
// RLE, Huffman and Rice ticked, Accurate metering ticked, then Start clicked RUNS times; each
// run's rates are read from the report's Frames/s column. Prints CSV to stdout, one record per
// run and codec: "run,codec,frames_per_second". To stderr go the Qt platform the dialog ran on
// and how often the progress bar was painted in each run: only a window system that draws (xcb
// under Xvfb, say) makes the bar's repaints cost what they cost a user.
//
//   tallox_dialog_rate FILE [RUNS]
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QWindow>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <utility>

#include "platform/imaging.h"
#include "ui/main_dialog.h"

using namespace tallox;

namespace {

// Answers "..." with the file and reports every message box, which ends the measurement.
class ScriptedPrompts final : public UserPrompts {
public:
    explicit ScriptedPrompts(QString file) : file_(std::move(file)) {}

    std::optional<QString> GetOpenFileName(QWidget* /*parent*/,
                                           const QString& /*filter*/) override {
        return file_;
    }
    std::optional<QString> GetSaveFileName(QWidget* /*parent*/,
                                           const QString& /*filter*/) override {
        return std::nullopt;
    }
    void ShowMessageBox(QWidget* /*parent*/, const QString& text,
                        QMessageBox::Icon /*icon*/) override {
        std::fprintf(stderr, "tallox_dialog_rate: the dialog says: %s\n", qPrintable(text));
        failed = true;
    }

    bool failed = false;

private:
    QString file_;
};

// Counts the paint events a widget receives.
class PaintCounter final : public QObject {
public:
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints;
        }
        return false;
    }
    int paints = 0;
};

template <typename Widget>
Widget* Control(const MainDialog& dialog, const char* name) {
    Widget* widget = dialog.findChild<Widget*>(QString::fromLatin1(name));
    if (widget == nullptr) {
        std::fprintf(stderr, "tallox_dialog_rate: the dialog has no control %s\n", name);
        std::exit(1);
    }
    return widget;
}

// Clicks the box when its tick is not `checked` yet, as a user would.
void Tick(const MainDialog& dialog, const char* name, bool checked) {
    auto* box = Control<QCheckBox>(dialog, name);
    if (box->isChecked() != checked) {
        box->click();
    }
}

// The Frames/s of the report's row labelled `label`: the second number after the label; nothing
// when the report has no such row.
std::optional<double> ReportedRate(const QString& report, const QString& label) {
    for (const QString& line : report.split(QLatin1Char('\n'))) {
        const QStringList fields = line.split(QLatin1Char('\t'), Qt::SkipEmptyParts);
        bool isNumber = false;
        if (fields.size() >= 3 && fields[0] == label) {
            const double rate = fields[2].toDouble(&isNumber);
            if (isNumber) {
                return rate;
            }
        }
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    bool runsValid = arguments.size() == 1;
    const int runs = arguments.size() == 2 ? arguments[1].toInt(&runsValid) : 1;
    if (arguments.isEmpty() || arguments.size() > 2 || !runsValid || runs < 1) {
        std::fputs("Usage: tallox_dialog_rate FILE [RUNS]\n", stderr);
        return 2;
    }

    const ImagingSession imaging;
    ScriptedPrompts prompts(arguments[0]);
    MainDialog dialog(prompts);
    dialog.show();
    // Repaints reach the screen only once the window is exposed.
    const QDeadlineTimer deadline(10'000);
    while (dialog.windowHandle() == nullptr || !dialog.windowHandle()->isExposed()) {
        if (deadline.hasExpired()) {
            std::fputs("tallox_dialog_rate: the dialog's window was never exposed\n", stderr);
            return 1;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    }
    std::fprintf(stderr, "tallox_dialog_rate: Qt platform %s\n",
                 qPrintable(QGuiApplication::platformName()));

    Control<QAbstractButton>(dialog, "browseButton")->click();
    Tick(dialog, "jpegBox", false);
    Tick(dialog, "rleBox", true);
    Tick(dialog, "huffmanBox", true);
    Tick(dialog, "riceBox", true);
    Tick(dialog, "accurateMeteringBox", true);
    const auto* report = Control<QPlainTextEdit>(dialog, "reportEdit");
    auto* start = Control<QAbstractButton>(dialog, "startButton");

    PaintCounter counter;
    Control<QProgressBar>(dialog, "progressBar")->installEventFilter(&counter);

    std::puts("run,codec,frames_per_second");
    for (int run = 1; run <= runs && !prompts.failed; ++run) {
        counter.paints = 0;
        start->click();
        QCoreApplication::processEvents();
        std::fprintf(stderr, "tallox_dialog_rate: run %d painted the progress bar %d times\n", run,
                     counter.paints);
        for (const char* codec : {"RLE", "Huffman", "Rice"}) {
            const std::optional<double> rate =
                ReportedRate(report->toPlainText(), QString::fromLatin1(codec));
            if (!rate) {
                std::fprintf(stderr, "tallox_dialog_rate: the report has no %s row\n", codec);
                return 1;
            }
            std::printf("%d,%s,%.3f\n", run, codec, *rate);
        }
    }
    return prompts.failed ? 1 : 0;
}
