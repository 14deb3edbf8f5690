#include "ui/codec_test_dlg.h"

#include <QAction>
#include <QCheckBox>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScopedValueRollback>
#include <algorithm>
#include <climits>
#include <memory>

#include "bench/run.h"
#include "platform/imaging.h"
#include "ui/about_dlg.h"
#include "ui/app_icon.h"
#include "ui/dialog_units.h"
#include "ui/group_box.h"
#include "ui/preview_frame.h"

namespace tallox {

namespace {

enum class Kind { GroupBox, Edit, NumberEdit, Button, Preview, Check, Static, Report, Progress };

struct ControlTemplate {
    int id;  // -1 for the decorations that nothing refers to
    Kind kind;
    const char* text;
    QRect rect;  // dialog units
    bool disabled;
};

// The template, in tab order.
constexpr ControlTemplate kControls[] = {
    {-1, Kind::GroupBox, "Input Image", {7, 7, 129, 115}, false},
    {1000, Kind::Edit, "", {13, 18, 93, 14}, false},
    {1001, Kind::Button, "...", {109, 18, 20, 14}, false},
    {1012, Kind::Preview, "", {13, 35, 116, 80}, false},
    {-1, Kind::GroupBox, "Lossy Compression", {7, 125, 129, 36}, false},
    {1002, Kind::Check, "JPEG GDI+ Library", {13, 136, 75, 10}, false},
    {1015, Kind::NumberEdit, "", {101, 134, 20, 12}, false},
    {-1, Kind::Static, "%", {123, 136, 8, 8}, false},
    {1008, Kind::Check, "Intel Jpeg Library", {13, 147, 72, 10}, true},
    {-1, Kind::GroupBox, "Lossless Compression", {7, 166, 129, 71}, false},
    {1003, Kind::Check, "RLE (Run Length Encoding)", {13, 178, 111, 10}, false},
    {1004, Kind::Check, "Huffman Encoding", {13, 189, 116, 10}, false},
    {1005, Kind::Check, "Rice Coding", {13, 200, 118, 10}, false},
    {1006, Kind::Check, "Lempel-Ziv Compression (LZx)", {13, 211, 113, 10}, true},
    {1007, Kind::Check, "Fast Lempel-Ziv Compression", {13, 222, 117, 10}, true},
    {-1, Kind::GroupBox, "Benchmark", {7, 241, 129, 61}, false},
    {1009, Kind::Check, "Fast Metering", {13, 253, 108, 10}, false},
    {1010, Kind::Check, "Accurate Metering", {13, 263, 75, 10}, false},
    {1011, Kind::Button, "Start", {44, 279, 50, 14}, false},
    {1013, Kind::Report, "", {141, 7, 279, 294}, false},
    {1014, Kind::Progress, "", {7, 304, 414, 11}, false},
};

// The selections against the boxes 1007 down to 1002, the order in which they are exchanged.
constexpr int32_t BenchmarkSettings::*kSelections[6] = {
    &BenchmarkSettings::m_bLz77Fast, &BenchmarkSettings::m_bLz77, &BenchmarkSettings::m_bRice,
    &BenchmarkSettings::m_bHuffman,  &BenchmarkSettings::m_bRle,  &BenchmarkSettings::m_bJpeg,
};
constexpr int kFirstSelectionId = 1007;

constexpr char kParseIntMessage[] = "Please enter an integer.";
constexpr char kQualityRangeMessage[] = "Please enter an integer between 1 and 100.";
constexpr int kMinimumQuality = 1;
constexpr int kMaximumQuality = 100;
// Tab stops of a multi-line edit lie every 32 horizontal dialog units.
constexpr int kTabStopUnits = 32;

QWidget* CreateControl(const ControlTemplate& control, QWidget* parent) {
    const QString text = QString::fromLatin1(control.text);
    switch (control.kind) {
        case Kind::GroupBox:
            return new CGroupBox(text, parent);
        case Kind::Edit:
            return new QLineEdit(parent);
        case Kind::NumberEdit: {
            auto* edit = new QLineEdit(parent);
            edit->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            edit->setValidator(new QRegularExpressionValidator(
                QRegularExpression(QStringLiteral("[0-9]*")), edit));
            return edit;
        }
        case Kind::Button:
            return new QPushButton(text, parent);
        case Kind::Preview:
            return new CPreviewFrame(parent);
        case Kind::Check:
            return new QCheckBox(text, parent);
        case Kind::Static: {
            auto* label = new QLabel(text, parent);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            return label;
        }
        case Kind::Report: {
            auto* report = new QPlainTextEdit(parent);
            report->setLineWrapMode(QPlainTextEdit::NoWrap);
            return report;
        }
        case Kind::Progress: {
            auto* bar = new QProgressBar(parent);
            bar->setTextVisible(false);
            return bar;
        }
    }
    return nullptr;
}

// The report keeps "\r\n" line ends; the text box shows plain "\n".
QString ToDisplay(const std::string& text) {
    return QString::fromLocal8Bit(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
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

CCodecTestDlg::CCodecTestDlg(CUserPrompts& prompts, QWidget* parent)
    : QDialog(parent), m_hIcon(ApplicationIcon()), m_prompts(prompts) {
    setWindowTitle(QStringLiteral("KANDRA Image Compression Benchmark"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    CreateControls();
    OnInitDialog();
}

void CCodecTestDlg::CreateControls() {
    const QSize base = DialogBaseUnits(font());
    for (const ControlTemplate& control : kControls) {
        QWidget* widget = CreateControl(control, this);
        if (control.id >= 0) {
            widget->setObjectName(QString::number(control.id));
        }
        widget->setGeometry(MapDialogRect(control.rect, base));
        widget->setEnabled(!control.disabled);
    }
    setFixedSize(MapDialogRect(QRect(QPoint(0, 0), kTemplateSize), base).size());

    const auto control = [this](int id) {
        return findChild<QWidget*>(QString::number(id), Qt::FindDirectChildrenOnly);
    };
    m_pFileName = static_cast<QLineEdit*>(control(1000));
    m_pFastMetering = static_cast<QCheckBox*>(control(1009));
    m_pAccurateMetering = static_cast<QCheckBox*>(control(1010));
    for (int i = 0; i < 6; ++i) {
        m_pSelections[i] = static_cast<QCheckBox*>(control(kFirstSelectionId - i));
    }
    m_pJpegQuality = static_cast<QLineEdit*>(control(1015));
    m_pReport = static_cast<QPlainTextEdit*>(control(1013));
    m_pReport->setTabStopDistance(MapDialogRect(QRect(0, 0, kTabStopUnits, 0), base).width());
    m_pProgress = static_cast<QProgressBar*>(control(1014));
    m_pPreviewWnd = static_cast<CPreviewFrame*>(control(1012));

    const auto onClick = [&](int id, auto handler) {
        connect(static_cast<QAbstractButton*>(control(id)), &QAbstractButton::clicked, this,
                handler);
    };
    onClick(1001, [this] { OnBrowse(); });
    onClick(1009, [this] { OnFastMetering(); });
    onClick(1010, [this] { OnAccurateMetering(); });
    for (int i = 0; i < 6; ++i) {
        onClick(kFirstSelectionId - i, [this, i] { OnToggle(kSelections[i]); });
    }
    onClick(1011, [this] { OnStart(); });
    connect(m_pJpegQuality, &QLineEdit::textChanged, this, [this] { OnUpdateJpegQuality(); });
}

void CCodecTestDlg::OnInitDialog() {
    UpdateData(false);

    // X11 and Wayland give a dialog no system menu: its item lives in the context menu, and
    // F1 reaches it too.
    auto* about = new QAction(QStringLiteral("&About Tallox..."), this);
    about->setShortcut(QKeySequence(Qt::Key_F1));
    connect(about, &QAction::triggered, this, [this] { OnAbout(); });
    addAction(about);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    setWindowIcon(m_hIcon);
    m_nIterations = m_bAccurateMetering == 1 ? 500 : 25;
}

bool CCodecTestDlg::UpdateData(bool bSaveAndValidate) {
    const QScopedValueRollback<bool> lockout(m_bLockoutNotify, true);
    m_progress.Attach(m_pProgress);
    if (!bSaveAndValidate) {
        SetTextIfChanged(m_pFileName, QString::fromLocal8Bit(m_strFileName));
        // A box shows ticked exactly when the run would count its member as chosen.
        m_pFastMetering->setChecked(m_bFastMetering == 1);
        m_pAccurateMetering->setChecked(m_bAccurateMetering == 1);
        for (int i = 0; i < 6; ++i) {
            m_pSelections[i]->setChecked(this->*kSelections[i] == 1);
        }
        SetTextIfChanged(m_pJpegQuality, QString::number(m_nJpegQuality));
        const QString report = ToDisplay(m_strReport);
        if (m_pReport->toPlainText() != report) {
            m_pReport->setPlainText(report);
        }
        return true;
    }

    m_strFileName = m_pFileName->text().toLocal8Bit().toStdString();
    m_bFastMetering = m_pFastMetering->isChecked() ? 1 : 0;
    m_bAccurateMetering = m_pAccurateMetering->isChecked() ? 1 : 0;
    for (int i = 0; i < 6; ++i) {
        this->*kSelections[i] = m_pSelections[i]->isChecked() ? 1 : 0;
    }
    // A refused value stops the exchange there, with the field focused for correction.
    const auto fail = [this](const char* message) {
        m_prompts.ShowMessageBox(this, QString::fromLatin1(message), QMessageBox::Warning);
        m_pJpegQuality->setFocus();
        m_pJpegQuality->selectAll();
        return false;
    };
    bool isInteger = false;
    const qlonglong quality = m_pJpegQuality->text().trimmed().toLongLong(&isInteger);
    if (!isInteger) {
        return fail(kParseIntMessage);
    }
    // The number is stored before it is checked, so a refused quality is still the one a later
    // run uses.
    m_nJpegQuality = static_cast<int32_t>(std::clamp<qlonglong>(quality, INT_MIN, INT_MAX));
    if (m_nJpegQuality < kMinimumQuality || m_nJpegQuality > kMaximumQuality) {
        return fail(kQualityRangeMessage);
    }
    m_strReport = FromDisplay(m_pReport->toPlainText());
    return true;
}

void CCodecTestDlg::Push(const std::string& report) {
    m_strReport = report;
    UpdateData(false);
}

void CCodecTestDlg::Repaint() { repaint(); }

ProgressControl& CCodecTestDlg::Progress() { return m_progress; }

void CCodecTestDlg::ShowMessage(const std::string& text) {
    m_prompts.ShowMessageBox(this, QString::fromLocal8Bit(text), QMessageBox::Warning);
}

void CCodecTestDlg::keyPressEvent(QKeyEvent* event) {
    // Enter on anything but a push button is the dialog's OK, which checks the fields first.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && event->modifiers() == Qt::NoModifier &&
        qobject_cast<QPushButton*>(focusWidget()) == nullptr) {
        OnOK();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CCodecTestDlg::OnOK() {
    if (UpdateData(true)) {
        accept();
    }
}

void CCodecTestDlg::OnAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CCodecTestDlg::OnBrowse() {
    const std::optional<QString> path =
        m_prompts.GetOpenFileName(this, QStringLiteral("BMP Image (*.bmp)"));
    if (!path) {
        m_prompts.ShowMessageBox(this, QStringLiteral("Open File Error"), QMessageBox::Information);
        return;
    }
    const QFileInfo file(*path);
    m_strFilePath = file.absoluteFilePath().toLocal8Bit().toStdString();
    m_strFileName = file.fileName().toLocal8Bit().toStdString();
    UpdateData(false);

    const std::unique_ptr<Image> image = PlatformImaging().LoadImageFromFile(m_strFilePath);
    m_pPreviewWnd->SetImage(image.get());
}

void CCodecTestDlg::OnFastMetering() {
    m_bFastMetering = 1;
    m_bAccurateMetering = 0;
    m_nIterations = 25;
    UpdateData(false);
}

void CCodecTestDlg::OnAccurateMetering() {
    m_bFastMetering = 0;
    m_bAccurateMetering = 1;
    m_nIterations = 500;
    UpdateData(false);
}

void CCodecTestDlg::OnToggle(int32_t BenchmarkSettings::*selection) {
    this->*selection = this->*selection != 1;
    UpdateData(false);
}

void CCodecTestDlg::OnStart() { RunBenchmark(*this, *this); }

void CCodecTestDlg::OnUpdateJpegQuality() {
    if (!m_bLockoutNotify) {
        UpdateData(true);
    }
}

}  // namespace tallox
