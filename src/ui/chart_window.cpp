#include "ui/chart_window.h"

#include <QComboBox>
#include <QPainter>
#include <QVBoxLayout>
#include <algorithm>

namespace tallox {

ChartWindow::ChartWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(QStringLiteral("Tallox Chart"));
    chooser_ = new QComboBox(this);
    chooser_->setObjectName(QStringLiteral("chartChooser"));
    view_ = new View(*this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(chooser_, 0, Qt::AlignLeft);
    layout->addWidget(view_, 1);
    connect(chooser_, &QComboBox::currentIndexChanged, view_, [this] { view_->update(); });
    setMinimumSize(kChartSize / 2);
    resize(kChartSize.width(), kChartSize.height() + chooser_->sizeHint().height() + 16);
}

void ChartWindow::SetRows(std::vector<Row> rows, std::vector<Row> summary, const QString& title) {
    rows_ = std::move(rows);
    summary_ = std::move(summary);
    title_ = title;
    pages_ = ChartPages(rows_);
    const QSignalBlocker blocker(chooser_);
    chooser_->clear();
    for (const ChartPage& page : pages_) {
        chooser_->addItem(page.name);
    }
    const auto rd = std::find_if(pages_.begin(), pages_.end(), [](const ChartPage& page) {
        return page.kind == ChartKind::RateDistortion;
    });
    chooser_->setCurrentIndex(rd == pages_.end() ? 0 : static_cast<int>(rd - pages_.begin()));
    view_->update();
}

void ChartWindow::View::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    const int index = window_.chooser_->currentIndex();
    if (index < 0) {
        return;
    }
    const double scale =
        std::min(width() / double(kChartSize.width()), height() / double(kChartSize.height()));
    painter.translate((width() - scale * kChartSize.width()) / 2,
                      (height() - scale * kChartSize.height()) / 2);
    painter.scale(scale, scale);
    const ChartPage& page = window_.pages_[static_cast<size_t>(index)];
    PaintChart(painter, page, page.kind == ChartKind::Speed ? window_.summary_ : window_.rows_,
               window_.title_);
}

}  // namespace tallox
