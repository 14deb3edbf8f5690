// A group box drawn as the dialog template's: an etched frame whose top edge runs through the
// middle of the title, so that the controls placed by the template sit inside it.
#pragma once
#include <QGroupBox>

namespace tallox {

class GroupBox final : public QGroupBox {
    Q_OBJECT
public:
    explicit GroupBox(const QString& title, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace tallox
