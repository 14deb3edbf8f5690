// The About box: the icon, the version and where the project lives.
#pragma once
#include <QDialog>

namespace tallox {

class AboutDialog final : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent = nullptr);
};

}  // namespace tallox
