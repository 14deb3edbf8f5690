// The About box: the icon, the version and where the project lives.
#pragma once
#include <QDialog>

namespace tallox {

class CAboutDlg final : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace tallox
