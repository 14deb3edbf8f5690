// The application: readies the imaging services, runs the main dialog modally for the whole
// life of the program, and releases the services once the dialog has closed.
#pragma once
#include <QApplication>
#include <memory>

namespace tallox {

class ImagingSession;

class CCodecTestApp {
public:
    CCodecTestApp(int& argc, char** argv);
    ~CCodecTestApp();
    CCodecTestApp(const CCodecTestApp&) = delete;
    CCodecTestApp& operator=(const CCodecTestApp&) = delete;

    // Runs the program; returns the application's exit code.
    int Run();

private:
    void InitInstance();
    int ExitInstance(int exitCode);

    QApplication m_app;
    std::unique_ptr<ImagingSession> m_pImaging;
};

}  // namespace tallox
