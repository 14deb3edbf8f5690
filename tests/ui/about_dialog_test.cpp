// The About box: what the user reads and where it stands.
#include "ui/about_dialog.h"

#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include "ui/dialog_units.h"

using namespace tallox;

class AboutDialogTest : public QObject {
    Q_OBJECT
private slots:
    void showsVersionIconAndDefaultOk();
};

void AboutDialogTest::showsVersionIconAndDefaultOk() {
    AboutDialog about;
    const QSize base = DialogBaseUnits(about.font());
    QCOMPARE(about.windowTitle(), QStringLiteral("About Tallox"));
    QCOMPARE(about.size(), MapDialogRect(QRect(0, 0, 235, 63), base).size());
    QCOMPARE(about.minimumSize(), about.maximumSize());

    auto* version = about.findChild<QLabel*>(QStringLiteral("version"));
    QCOMPARE(version->text(), QStringLiteral("Tallox Version 1.0.0"));
    QCOMPARE(version->pos(), MapDialogRect(QRect(40, 10, 0, 0), base).topLeft());
    QCOMPARE(about.findChild<QLabel*>(QStringLiteral("authors"))->pos(),
             MapDialogRect(QRect(40, 20, 0, 0), base).topLeft());
    QCOMPARE(about.findChild<QLabel*>(QStringLiteral("web"))->pos(),
             MapDialogRect(QRect(40, 31, 0, 0), base).topLeft());
    QCOMPARE(about.findChild<QLabel*>(QStringLiteral("contact"))->pos(),
             MapDialogRect(QRect(40, 48, 0, 0), base).topLeft());
    for (QLabel* label : about.findChildren<QLabel*>()) {
        QVERIFY2(about.rect().contains(label->geometry()), qPrintable(label->objectName()));
    }

    auto* icon = about.findChild<QLabel*>(QStringLiteral("icon"));
    QVERIFY(!icon->pixmap().isNull());
    QCOMPARE(icon->pos(), MapDialogRect(QRect(7, 7, 0, 0), base).topLeft());

    auto* ok = about.findChild<QPushButton*>(QStringLiteral("1"));
    QCOMPARE(ok->text(), QStringLiteral("OK"));
    QVERIFY(ok->isDefault());
    QCOMPARE(ok->geometry(), MapDialogRect(QRect(178, 7, 50, 16), base));
}

QTEST_MAIN(AboutDialogTest)
#include "about_dialog_test.moc"
