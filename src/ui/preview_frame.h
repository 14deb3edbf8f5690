// The preview frame: an etched frame that shows the chosen image stretched into a fixed area.
#pragma once
#include <QFrame>
#include <QImage>

namespace tallox {

struct Image;

class PreviewFrame final : public QFrame {
    Q_OBJECT
public:
    // The area the image is stretched into, inset by one pixel from the frame's corner.
    static constexpr QRect kImageRect{1, 1, 171, 128};

    explicit PreviewFrame(QWidget* parent = nullptr);

    // Shows `image` stretched into kImageRect; null clears the preview.
    void SetImage(const Image* image);
    const QImage& ScaledImage() const { return preview_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Kept scaled so that every repaint draws it again at no cost.
    QImage preview_;
};

}  // namespace tallox
