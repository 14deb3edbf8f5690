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
    control.SetRange(1, 9);
    QCOMPARE(bar.minimum(), 1);
    QCOMPARE(bar.maximum(), 9);
    QCOMPARE(bar.value(), 1);

    // A step is drawn only once a whole interval has passed since the last drawing, so that
    // the timed loops do not measure the bar; the control itself is exact at every step.
    control.SetStep(1);
    control.StepIt();
    QCOMPARE(control.Position(), 2);
    QCOMPARE(bar.value(), 1);
    QTest::qWait(DrawThrottle::kIntervalNanoseconds / 1'000'000 + 20);
    control.StepIt();
    QCOMPARE(bar.value(), 3);
    control.StepIt();
    QCOMPARE(bar.value(), 3);
    control.Draw();
    QCOMPARE(bar.value(), 4);

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
