// The main window: every option of a run as a member, the input's preview, the report and the
// progress bar. The run goes through the dialog itself, as its settings and as its host.
#pragma once
#include <QDialog>
#include <QIcon>
#include <cstdint>
#include <string>

#include "bench/benchmark_settings.h"
#include "bench/run_host.h"
#include "ui/progress_bar_control.h"
#include "ui/user_prompts.h"

class QAbstractButton;
class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;

namespace tallox {

class CPreviewFrame;

class CCodecTestDlg final : public QDialog, public BenchmarkSettings, public RunHost {
    Q_OBJECT
public:
    // Template size in dialog units.
    static constexpr QSize kTemplateSize{428, 322};

    explicit CCodecTestDlg(CUserPrompts& prompts = StandardPrompts(), QWidget* parent = nullptr);

    // Moves every exchanged member to its control (false) or back from it (true, validating the
    // quality). False when a value was refused; its message has then been shown.
    bool UpdateData(bool bSaveAndValidate = true);

    // The host of a run.
    void Push(const std::string& report) override;
    void Repaint() override;
    ProgressControl& Progress() override;
    void ShowMessage(const std::string& text) override;

    QIcon m_hIcon;
    CPreviewFrame* m_pPreviewWnd = nullptr;
    int32_t m_bFastMetering = 1;
    int32_t m_bAccurateMetering = 0;
    std::string m_strReport;
    CProgressBarControl m_progress;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void CreateControls();
    void OnInitDialog();
    void OnOK();

    void OnAbout();
    void OnBrowse();
    void OnFastMetering();
    void OnAccurateMetering();
    void OnToggle(int32_t BenchmarkSettings::*selection);
    void OnStart();
    void OnUpdateJpegQuality();

    CUserPrompts& m_prompts;
    // Control notifications are not handled while the members are being exchanged.
    bool m_bLockoutNotify = false;

    QLineEdit* m_pFileName = nullptr;
    QCheckBox* m_pFastMetering = nullptr;
    QCheckBox* m_pAccurateMetering = nullptr;
    // The six selections in exchange order: LZ77 Fast, LZ77, Rice, Huffman, RLE, JPEG.
    QCheckBox* m_pSelections[6] = {};
    QLineEdit* m_pJpegQuality = nullptr;
    QPlainTextEdit* m_pReport = nullptr;
    QProgressBar* m_pProgress = nullptr;
};

}  // namespace tallox
