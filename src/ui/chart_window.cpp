#include "ui/chart_window.h"

#include <QPainter>
#include <algorithm>

#include "charts/chart.h"

namespace tallox {

ChartWindow::ChartWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(QStringLiteral("Tallox Chart"));
    setMinimumSize(kChartSize / 2);
    resize(kChartSize);
}

void ChartWindow::SetRows(std::vector<Row> rows, const QString& title) {
    rows_ = std::move(rows);
    title_ = title;
    update();
}

void ChartWindow::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    const double scale =
        std::min(width() / double(kChartSize.width()), height() / double(kChartSize.height()));
    painter.translate((width() - scale * kChartSize.width()) / 2,
                      (height() - scale * kChartSize.height()) / 2);
    painter.scale(scale, scale);
    PaintSpeedChart(painter, rows_, title_);
}

}  // namespace tallox
