// tallox: the desktop program. Readies the imaging services, runs the main dialog modally for
// the whole life of the program, and releases the services once the dialog has closed.
#include <QApplication>
#include <QStringList>
#include <cstdio>
#include <string_view>

#include "platform/imaging.h"
#include "ui/main_dialog.h"

namespace {

constexpr char kUsage[] =
    "Usage: tallox [FILE]\n"
    "Tallox image compression benchmark: the desktop program.\n"
    "Opens the benchmark dialog, with FILE chosen as the input when it is given (as if picked\n"
    "with \"...\"). For runs without a window, see tallox-cli.\n"
    "\n"
    "  -h, --help   show this help and exit\n"
    "  --version    show the version and exit\n"
    "Qt's own options (-platform, -style, ...) are accepted too.\n";

}  // namespace

int main(int argc, char** argv) {
    // Answered before any window system is opened, so that they work without a display.
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "-h" || argument == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (argument == "--version") {
            std::puts("tallox " TALLOX_VERSION);
            return 0;
        }
    }
    QApplication application(argc, argv);  // takes Qt's own options out of the arguments
    // The settings scope is the company's; nothing is ever stored under it.
    QCoreApplication::setOrganizationName(QStringLiteral("Mirovan"));
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.size() > 1 || (arguments.size() == 1 && arguments[0].startsWith('-'))) {
        std::fprintf(stderr, "tallox: unexpected argument '%s'\n%s", qPrintable(arguments.back()),
                     kUsage);
        return 2;
    }

    const tallox::ImagingSession imaging;  // ready before the dialog, released after it
    tallox::MainDialog dialog;
    if (!arguments.isEmpty()) {
        dialog.ChooseFile(arguments[0]);
    }
    dialog.exec();
    return 0;
}
