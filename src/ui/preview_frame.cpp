#include "ui/preview_frame.h"

#include <QPainter>

#include "platform/imaging.h"

namespace tallox {

PreviewFrame::PreviewFrame(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Box | QFrame::Sunken);
}

void PreviewFrame::SetImage(const Image* image) {
    if (image == nullptr || image->width == 0 || image->height == 0) {
        preview_ = QImage();
    } else {
        // The view borrows the decoded pixels; scaled() makes the copy that is kept.
        const QImage view(image->rgb.data(), static_cast<int>(image->width),
                          static_cast<int>(image->height), static_cast<qsizetype>(image->width) * 3,
                          QImage::Format_RGB888);
        preview_ = view.scaled(kImageRect.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    update();
}

void PreviewFrame::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    if (!preview_.isNull()) {
        QPainter painter(this);
        painter.drawImage(kImageRect.topLeft(), preview_);
    }
}

}  // namespace tallox
