#include "app/codec_test_app.h"

#include <QTimer>

#include "platform/imaging.h"
#include "ui/codec_test_dlg.h"

namespace tallox {

CCodecTestApp::CCodecTestApp(int& argc, char** argv) : m_app(argc, argv) {
    // The settings scope is the company's; nothing is ever stored under it.
    QCoreApplication::setOrganizationName(QStringLiteral("Mirovan"));
}

CCodecTestApp::~CCodecTestApp() = default;

int CCodecTestApp::Run() {
    // The dialog runs from inside the application's event loop, so that the loop's exit code
    // (0 unless something asks the application to quit with another) is the program's.
    QTimer::singleShot(0, [this] {
        InitInstance();
        QCoreApplication::quit();
    });
    return ExitInstance(QApplication::exec());
}

void CCodecTestApp::InitInstance() {
    m_pImaging = std::make_unique<ImagingSession>();
    CCodecTestDlg dialog;
    dialog.exec();
}

int CCodecTestApp::ExitInstance(int exitCode) {
    m_pImaging.reset();
    return exitCode;
}

}  // namespace tallox
