// The timer layer: an interval and an on/off switch that are independent, no ticks at interval
// 0, no burst after a busy spell, and bounded nesting when a handler yields.
#include "main_window/window_timer.h"

#include <QElapsedTimer>
#include <QtTest>
#include <thread>

namespace {
// Ticks seen while the event loop runs for ms: only used where no tick may come, so a busy
// machine cannot make it fail.
int ticksDuring(WindowTimer& timer, int ms)
{
    int ticks = 0;
    auto connection = QObject::connect(&timer, &WindowTimer::timeout, [&] { ++ticks; });
    QTest::qWait(ms);
    QObject::disconnect(connection);
    return ticks;
}

// Whether the timer ticks at least `wanted` times within a generous deadline, and never faster
// than its interval allows (a late tick is not made up for, so ticks can only fall behind).
bool keepsTicking(WindowTimer& timer, int wanted, int interval)
{
    int ticks = 0;
    auto connection = QObject::connect(&timer, &WindowTimer::timeout, [&] { ++ticks; });
    QElapsedTimer clock;
    clock.start();
    const bool reached = QTest::qWaitFor([&] { return ticks >= wanted; }, 10000);
    const qint64 elapsed = clock.elapsed();
    QObject::disconnect(connection);
    if (!reached || ticks > elapsed / interval + 2) {
        qWarning("%d ticks of %d ms in %lld ms", ticks, interval, qlonglong(elapsed));
        return false;
    }
    return true;
}
} // namespace

class TestWindowTimer : public QObject {
    Q_OBJECT
private slots:
    void ticksOnlyWhenOnWithANonZeroInterval_data();
    void ticksOnlyWhenOnWithANonZeroInterval();
    void intervalIsClampedToWhatTheWindowAccepts();
    void newIntervalAppliesToTheFollowingTicks();
    void missedTicksAreNotFiredInABurst();
    void aYieldingHandlerNestsOnlyBoundedly();
};

void TestWindowTimer::ticksOnlyWhenOnWithANonZeroInterval_data()
{
    QTest::addColumn<int>("interval");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("ticks");
    QTest::newRow("on, 20 ms") << 20 << true << true;
    QTest::newRow("on, 0 ms") << 0 << true << false;
    QTest::newRow("on, negative") << -5 << true << false;
    QTest::newRow("off, 20 ms") << 20 << false << false;
}

void TestWindowTimer::ticksOnlyWhenOnWithANonZeroInterval()
{
    QFETCH(int, interval);
    QFETCH(bool, enabled);
    QFETCH(bool, ticks);
    WindowTimer timer(interval, enabled);
    if (ticks)
        QVERIFY(keepsTicking(timer, 5, interval));
    else
        QCOMPARE(ticksDuring(timer, 300), 0);
    // Interval 0 leaves the switch as it was.
    QCOMPARE(timer.isEnabled(), enabled);
}

void TestWindowTimer::intervalIsClampedToWhatTheWindowAccepts()
{
    WindowTimer timer(200, false);
    timer.setInterval(-1);
    QCOMPARE(timer.interval(), 0);
    timer.setInterval(70000);
    QCOMPARE(timer.interval(), 65535);
    timer.setInterval(std::numeric_limits<int>::min());
    QCOMPARE(timer.interval(), 0);
}

void TestWindowTimer::newIntervalAppliesToTheFollowingTicks()
{
    WindowTimer timer(0, true);
    QCOMPARE(ticksDuring(timer, 100), 0);
    timer.setInterval(10);
    QVERIFY(keepsTicking(timer, 5, 10));
    timer.setInterval(0);
    QCOMPARE(ticksDuring(timer, 100), 0);
    timer.setEnabled(false);
    timer.setInterval(10);
    QCOMPARE(ticksDuring(timer, 100), 0);
    timer.setEnabled(true);
    QVERIFY(keepsTicking(timer, 5, 10));
}

void TestWindowTimer::missedTicksAreNotFiredInABurst()
{
    WindowTimer timer(5, true);
    int ticks = 0;
    connect(&timer, &WindowTimer::timeout, [&] { ++ticks; });
    // A busy spell of forty intervals without any event processing...
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    // ...is followed by at most one tick right away, not forty.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    QVERIFY2(ticks <= 1, qPrintable(QString::number(ticks)));
}

void TestWindowTimer::aYieldingHandlerNestsOnlyBoundedly()
{
    WindowTimer timer(1, true);
    int depth = 0;
    int deepest = 0;
    int ticks = 0;
    connect(&timer, &WindowTimer::timeout, [&] {
        ++ticks;
        ++depth;
        deepest = std::max(deepest, depth);
        // A handler that yields for longer than the interval, like an opening pass.
        QElapsedTimer spell;
        spell.start();
        while (spell.elapsed() < 20)
            QCoreApplication::processEvents();
        --depth;
    });
    // Poll until a tick has come in during another's yield.
    QVERIFY(QTest::qWaitFor([&] { return deepest >= 2 && ticks > 10; }, 10000));
    timer.setEnabled(false);
    QVERIFY(ticks > 1);
    QVERIFY2(deepest <= WindowTimer::kMaxNesting, qPrintable(QString::number(deepest)));
    QVERIFY(deepest >= 2); // nesting itself is allowed
}

QTEST_MAIN(TestWindowTimer)
#include "tst_window_timer.moc"
