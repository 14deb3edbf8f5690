#include "ui/about_dialog.h"

#include <QLabel>
#include <QPushButton>

#include "ui/app_icon.h"
#include "ui/dialog_units.h"

namespace tallox {

namespace {

// Template size in dialog units.
constexpr QSize kTemplateSize{235, 63};
// The icon is drawn at its own size, as a system-sized icon.
constexpr int kIconPixels = 32;

struct TextLine {
    const char* objectName;
    const char* text;
    QRect rect;  // dialog units
};

constexpr TextLine kLines[] = {
    {"version", "Tallox Version " TALLOX_VERSION, {40, 10, 130, 8}},
    {"authors", "Copyright (C) the Tallox developers", {40, 20, 130, 8}},
    // Tallox has no web site or address of its own yet: the lines say what holds instead.
    {"web", "Licensed under the Apache License 2.0", {40, 31, 188, 8}},
    {"contact", "Contact: the Tallox developers", {40, 48, 188, 8}},
};

}  // namespace

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About Tallox"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setWindowIcon(ApplicationIcon());
    const QSize base = DialogBaseUnits(font());

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("icon"));
    icon->setPixmap(ApplicationIcon().pixmap(kIconPixels, kIconPixels));
    const QRect iconAt = MapDialogRect(QRect(7, 7, 0, 0), base);
    icon->setGeometry(iconAt.x(), iconAt.y(), kIconPixels, kIconPixels);

    for (const TextLine& line : kLines) {
        auto* label = new QLabel(QString::fromLatin1(line.text), this);
        label->setObjectName(QString::fromLatin1(line.objectName));
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setGeometry(MapDialogRect(line.rect, base));
    }

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    ok->setGeometry(MapDialogRect(QRect(178, 7, 50, 16), base));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    setFixedSize(MapDialogRect(QRect(QPoint(0, 0), kTemplateSize), base).size());
}

}  // namespace tallox
