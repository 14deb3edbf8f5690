// The preview frame: a sunken frame that shows the chosen image stretched into its inner area,
// one pixel in from each edge.
#pragma once
#include <QFrame>
#include <QImage>

namespace tallox {

struct Image;

class PreviewFrame final : public QFrame {
    Q_OBJECT
public:
    explicit PreviewFrame(QWidget* parent = nullptr);

    // Shows `image` stretched into the inner area, its aspect ratio not kept; null clears it.
    void SetImage(const Image* image);
    bool HasImage() const { return !source_.isNull(); }
    QRect InnerRect() const { return rect().adjusted(1, 1, -1, -1); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage source_;
    // Kept at the inner area's size, so that a repaint draws it again at no cost.
    QImage scaled_;
};

}  // namespace tallox
