#include "ui/dialog_units.h"

#include <QFontMetrics>

namespace tallox {

namespace {

// a * b / c rounded half away from zero, for the non-negative values of a template.
int MulDiv(int a, int b, int c) { return static_cast<int>((int64_t{a} * b + c / 2) / c); }

}  // namespace

QSize DialogBaseUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int alphabetWidth = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    // The average over 52 letters, rounded to the nearest pixel.
    return QSize((alphabetWidth / 26 + 1) / 2, metrics.height());
}

QRect MapDialogRect(const QRect& dialogUnits, QSize baseUnits) {
    return QRect(MulDiv(dialogUnits.x(), baseUnits.width(), 4),
                 MulDiv(dialogUnits.y(), baseUnits.height(), 8),
                 MulDiv(dialogUnits.width(), baseUnits.width(), 4),
                 MulDiv(dialogUnits.height(), baseUnits.height(), 8));
}

}  // namespace tallox
