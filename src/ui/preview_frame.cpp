#include "ui/preview_frame.h"

#include <QPainter>

#include "platform/imaging.h"

namespace tallox {

PreviewFrame::PreviewFrame(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Box | QFrame::Sunken);
}

void PreviewFrame::SetImage(const Image* image) {
    if (image == nullptr || image->width == 0 || image->height == 0) {
        source_ = QImage();
    } else {
        // The view borrows the decoded pixels; copy() makes the image that is kept.
        source_ = QImage(image->rgb.data(), static_cast<int>(image->width),
                         static_cast<int>(image->height), static_cast<qsizetype>(image->width) * 3,
                         QImage::Format_RGB888)
                      .copy();
    }
    scaled_ = QImage();
    update();
}

void PreviewFrame::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    if (source_.isNull()) {
        return;
    }
    const QRect inner = InnerRect();
    if (scaled_.size() != inner.size()) {
        scaled_ = source_.scaled(inner.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    QPainter painter(this);
    painter.drawImage(inner.topLeft(), scaled_);
}

}  // namespace tallox
