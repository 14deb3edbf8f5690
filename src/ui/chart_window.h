// A window beside the dialog, not modal: the charts of a run's rows, one at a time, chosen in a
// list above them and scaled to the window with their proportions kept. After a sweep of a
// lossy codec it opens on the first rate-distortion chart.
#pragma once
#include <QString>
#include <QWidget>
#include <vector>

#include "charts/chart.h"
#include "engine/run_host.h"

class QComboBox;

namespace tallox {

class ChartWindow final : public QWidget {
    Q_OBJECT
public:
    explicit ChartWindow(QWidget* parent = nullptr);

    // The charts of `rows`: the speed chart drawn from `summary` (over a folder its SummaryRows;
    // for one file the rows themselves), the others from the rows.
    void SetRows(std::vector<Row> rows, std::vector<Row> summary, const QString& title);

private:
    // The chosen chart, painted.
    class View final : public QWidget {
    public:
        explicit View(const ChartWindow& window) : window_(window) {}

    protected:
        void paintEvent(QPaintEvent* event) override;

    private:
        const ChartWindow& window_;
    };

    std::vector<Row> rows_;
    std::vector<Row> summary_;
    QString title_;
    std::vector<ChartPage> pages_;
    QComboBox* chooser_ = nullptr;
    View* view_ = nullptr;
};

}  // namespace tallox
