// Dialog templates are laid out in dialog units, which scale with the dialog's font: a
// horizontal unit is a quarter of the font's average character width, a vertical unit an eighth
// of its character height. These helpers turn a template rectangle into pixels.
#pragma once
#include <QFont>
#include <QRect>
#include <QSize>

namespace tallox {

// The font's base units: its average character width (over the 52 Latin letters, rounded half
// up to a whole pixel) and its character height, in pixels.
QSize DialogBaseUnits(const QFont& font);

// `dialogUnits` (x, y, width, height) in pixels for the given base units, each value rounded to
// the nearest pixel.
QRect MapDialogRect(const QRect& dialogUnits, QSize baseUnits);

}  // namespace tallox
