// The progress control shown in a QProgressBar: the bar follows every message.
#include "ui/progress_bar_control.h"

#include <QProgressBar>
#include <QtTest>
#include <utility>

using namespace tallox;

class ProgressBarControlTest : public QObject {
    Q_OBJECT
private slots:
    void progressBarFollowsTheControl();
    void emptyRangeDrawsAnEmptyBar();
};

void ProgressBarControlTest::progressBarFollowsTheControl() {
    QProgressBar bar;
    ProgressBarControl control(&bar);
    control.SetRange(1, 3);
    QCOMPARE(bar.minimum(), 1);
    QCOMPARE(bar.maximum(), 3);
    QCOMPARE(bar.value(), 1);

    control.SetStep(1);
    control.StepIt();  // every message shows at once
    QCOMPARE(bar.value(), 2);

    control.SetRange(10, 20);  // the position is pulled into the new range
    QCOMPARE(bar.value(), 10);
}

void ProgressBarControlTest::emptyRangeDrawsAnEmptyBar() {
    // No codec chosen gives the range 1 to 0, and 0 to 0 would make a busy indicator.
    for (const auto& [minimum, maximum] : {std::pair{1, 0}, std::pair{0, 0}, std::pair{5, 5}}) {
        QProgressBar bar;
        ProgressBarControl control(&bar);
        control.SetRange(static_cast<uint16_t>(minimum), static_cast<uint16_t>(maximum));
        control.SetPos(1);
        QVERIFY(bar.maximum() > bar.minimum());
        QCOMPARE(bar.value(), bar.minimum());
    }
}

QTEST_MAIN(ProgressBarControlTest)
#include "progress_bar_control_test.moc"
