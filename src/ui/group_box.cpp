#include "ui/group_box.h"

#include <qdrawutil.h>

#include <QPainter>
#include <QStyle>

namespace tallox {

GroupBox::GroupBox(const QString& title, QWidget* parent) : QGroupBox(title, parent) {}

void GroupBox::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    const QFontMetrics metrics(font());
    const QRect frame = rect().adjusted(0, metrics.height() / 2, 0, 0);
    qDrawShadeRect(&painter, frame, palette(), /*sunken=*/true, /*lineWidth=*/1);

    // The title interrupts the top edge, one average character in from the corner.
    const int padding = metrics.averageCharWidth() / 3;
    const QRect titleRect(metrics.averageCharWidth(), 0,
                          metrics.horizontalAdvance(title()) + 2 * padding, metrics.height());
    painter.fillRect(titleRect, palette().window());
    style()->drawItemText(&painter, titleRect, Qt::AlignCenter, palette(), isEnabled(), title(),
                          QPalette::WindowText);
}

}  // namespace tallox
