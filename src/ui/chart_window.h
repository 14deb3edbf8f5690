// A window beside the dialog, not modal: the ratio-against-speed chart of a run's rows, scaled
// to the window with its proportions kept.
#pragma once
#include <QString>
#include <QWidget>
#include <vector>

#include "engine/run_host.h"

namespace tallox {

class ChartWindow final : public QWidget {
    Q_OBJECT
public:
    explicit ChartWindow(QWidget* parent = nullptr);

    void SetRows(std::vector<Row> rows, const QString& title);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<Row> rows_;
    QString title_;
};

}  // namespace tallox
