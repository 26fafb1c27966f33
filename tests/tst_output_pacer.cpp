// Pacing of the back-to-back sweep: wait for ports that drain, not for ports that are stuck.
#include "port_bank/output_pacer.h"

#include <QtTest>

namespace {
using Pending = std::array<qint64, OutputPacer::kPortCount>;

Pending allClosed()
{
    Pending pending;
    pending.fill(OutputPacer::kClosed);
    return pending;
}
} // namespace

class TestOutputPacer : public QObject {
    Q_OBJECT
private slots:
    void waitsOnlyWhileAnOpenPortIsAboveTheLowWaterMark();
    void aPortThatStopsDrainingNoLongerHoldsTheOthersBack();
    void aStuckPortThatDrainsAgainIsWaitedForAgain();
};

void TestOutputPacer::waitsOnlyWhileAnOpenPortIsAboveTheLowWaterMark()
{
    OutputPacer pacer;
    Pending pending = allClosed();
    QVERIFY(!pacer.mustWait(pending, 0)); // nothing open: nothing paces
    pending[0] = OutputPacer::kLowWater;
    pending[3] = 10;
    QVERIFY(!pacer.mustWait(pending, 1));
    pending[3] = OutputPacer::kLowWater + 1;
    QVERIFY(pacer.mustWait(pending, 2));
    pending[3] = 0;
    QVERIFY(!pacer.mustWait(pending, 3));
}

void TestOutputPacer::aPortThatStopsDrainingNoLongerHoldsTheOthersBack()
{
    OutputPacer pacer;
    Pending pending = allClosed();
    pending[5] = 5000;
    QVERIFY(pacer.mustWait(pending, 0));
    QVERIFY(pacer.mustWait(pending, OutputPacer::kStallMs - 1));
    QVERIFY(!pacer.mustWait(pending, OutputPacer::kStallMs));
    // More output piling up on it is no progress either.
    pending[5] = 6000;
    QVERIFY(!pacer.mustWait(pending, OutputPacer::kStallMs + 500));
    // A healthy port above the mark is still waited for.
    pending[1] = 3000;
    QVERIFY(pacer.mustWait(pending, OutputPacer::kStallMs + 600));
}

void TestOutputPacer::aStuckPortThatDrainsAgainIsWaitedForAgain()
{
    OutputPacer pacer;
    Pending pending = allClosed();
    pending[0] = 8000;
    pacer.mustWait(pending, 0);
    QVERIFY(!pacer.mustWait(pending, 5000));
    pending[0] = 7000; // it moves again
    QVERIFY(pacer.mustWait(pending, 5001));
}

QTEST_GUILESS_MAIN(TestOutputPacer)
#include "tst_output_pacer.moc"
