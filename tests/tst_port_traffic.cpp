// What passes through each port and what it counts and tells an observer: commands sent by a
// broadcast, on the wire and counted, bytes as they arrive, and the opening pass's events
// (opened, in use, lost, returned).
#include "port_bank/broadcast.h"
#include "port_bank/explicit_port_directory.h"
#include "port_bank/opening_pass.h"
#include "port_bank/port_bank.h"
#include "port_bank/port_observer.h"
#include "pty_peer.h"

#include <QDateTime>
#include <QtTest>

#include <algorithm>

namespace {

struct Recorder : PortObserver {
    QStringList events; // "index event detail"
    QList<QPair<int, QByteArray>> sent;
    QMap<int, QByteArray> received;

    void commandSent(int index, const QByteArray& bytes) override { sent.append({index, bytes}); }
    void bytesReceived(int index, const QByteArray& bytes) override { received[index] += bytes; }
    void portEvent(int index, Event event, const QString& detail) override
    {
        static const char* const names[] = {"Opened",   "InUse",   "Lost",
                                            "Returned", "Dropped", "Discarded"};
        events.append(QStringLiteral("%1 %2 %3").arg(index).arg(names[int(event)], detail));
    }
};

struct QuietView : OpeningPassView {
    QString settingsText() override { return QStringLiteral("9600,n,8,1"); }
    void showCaption(int, const QString&) override {}
    void showColour(int, std::uint32_t) override {}
    bool yieldAfterPort() override { return true; }
};

// Port 1 on a pty, opened, its traffic recorded.
struct OnePort {
    PtyPeer one;
    ExplicitPortDirectory directory{{{1, one.linkPath()}}};
    PortBank bank{directory};
    Recorder recorder;
    QuietView view;

    OnePort()
    {
        bank.addObserver(&recorder);
        runOpeningPass(bank, view);
    }
};

} // namespace

class TestPortTraffic : public QObject {
    Q_OBJECT
private slots:
    void aBroadcastCountsOneCommandOnEachOpenPort();
    void aBurstBeyondWhatTheDeviceTakesArrivesWholeAndInOrder();
    void aCloseCountsWhatReachedTheFarEndAndReportsTheRest();
    void commandsOfOneTurnGoTogetherAndBeforeTheClose();
    void receivedBytesAreCountedAndToldRawAsTheyArrive();
    void openingInUseLossAndReturnAreToldOnceEach();
};

void TestPortTraffic::aBroadcastCountsOneCommandOnEachOpenPort()
{
    PtyPeer one, three, four;
    ExplicitPortDirectory directory(
        {{1, one.linkPath()}, {3, three.linkPath()}, {4, four.linkPath()}});
    PortBank bank(directory);
    // Two observers (the log and the status check, say) hear the same calls.
    Recorder recorder, second;
    bank.addObserver(&recorder);
    bank.addObserver(&second);
    QuietView view;
    runOpeningPass(bank, view);

    // "全部亮" is six bytes in GB18030.
    sendToAllPorts(bank, QStringLiteral(":::ZAVB5."));
    sendToAllPorts(bank, QStringLiteral("全部亮"));
    const QByteArray wire = QByteArray(":::ZAVB5.") + "\xc8\xab\xb2\xbf\xc1\xc1";
    for (PtyPeer* peer : {&one, &three, &four})
        QCOMPARE(peer->readExactly(wire.size()), wire);
    for (int index : {0, 2, 3}) {
        QCOMPARE(bank.port(index).counters().commandsSent, 2u);
        QCOMPARE(bank.port(index).counters().bytesSent, 15u);
    }
    QCOMPARE(bank.port(1).counters(), PortCounters());
    // Each port's commands in their order; ports may be told one after another.
    const auto byPort = [](QList<QPair<int, QByteArray>> sent) {
        std::stable_sort(sent.begin(), sent.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        return sent;
    };
    const QList<QPair<int, QByteArray>> expected = {
        {0, ":::ZAVB5."}, {0, "\xc8\xab\xb2\xbf\xc1\xc1"},
        {2, ":::ZAVB5."}, {2, "\xc8\xab\xb2\xbf\xc1\xc1"},
        {3, ":::ZAVB5."}, {3, "\xc8\xab\xb2\xbf\xc1\xc1"}};
    QCOMPARE(byPort(recorder.sent), expected);
    QCOMPARE(byPort(second.sent), expected);
    QCOMPARE(second.events, recorder.events);

    // An empty command puts nothing on the wire and counts nothing.
    sendToAllPorts(bank, QString());
    QCOMPARE(bank.port(0).counters().commandsSent, 2u);
    QCOMPARE(recorder.sent.size(), 6);

    // Without an observer the counting goes on; a removed one hears nothing more.
    bank.removeObserver(&recorder);
    sendToAllPorts(bank, QStringLiteral("x"));
    QTRY_COMPARE(second.sent.size(), 9); // once the device took it
    QCOMPARE(recorder.sent.size(), 6);
    bank.removeObserver(&second);
    sendToAllPorts(bank, QStringLiteral("x"));
    QTRY_COMPARE(bank.port(3).counters().commandsSent, 4u);
    QCOMPARE(second.sent.size(), 9);
}

void TestPortTraffic::aBurstBeyondWhatTheDeviceTakesArrivesWholeAndInOrder()
{
    // The far end reads nothing until the burst is out: the device takes the first commands
    // at once, the port queues the rest, and each command is cut somewhere between the two.
    PtyPeer one;
    ExplicitPortDirectory directory({{1, one.linkPath()}});
    PortBank bank(directory);
    QuietView view;
    runOpeningPass(bank, view);
    QByteArray expected;
    bank.lastError().code = PortError::None;
    for (int n = 0; n < 40; ++n) {
        const QString command = QStringLiteral("%1:").arg(n, 4, 10, QLatin1Char('0')) +
                                QString(995, QLatin1Char('a' + n % 26));
        sendToAllPorts(bank, command);
        QCOMPARE(bank.lastError().code, PortError::None);
        expected += command.toLatin1();
    }
    QVERIFY(bank.port(0).pendingOutput() > 0);
    QCOMPARE(one.readExactly(expected.size(), 10000), expected);
    QTRY_COMPARE(bank.port(0).pendingOutput(), 0);
    QCOMPARE(bank.port(0).counters().commandsSent, 40u);
    QCOMPARE(bank.port(0).counters().bytesSent, std::uint64_t(expected.size()));
}

// The program ends in the middle of a burst: the command the device has begun taking is
// finished, what the close throws away is one Discarded event with its size, and only the
// commands the far end gets are counted and told as sent.
void TestPortTraffic::aCloseCountsWhatReachedTheFarEndAndReportsTheRest()
{
    OnePort port;
    auto& [one, directory, bank, recorder, view] = port;
    for (int n = 0; n < 60; ++n)
        sendToAllPorts(bank, QStringLiteral("%1:").arg(n, 4, 10, QLatin1Char('0')) +
                                 QString(995, QLatin1Char('a' + n % 26)));
    QVERIFY(bank.port(0).pendingOutput() > 0);
    // The far end reads what the device holds, without the event loop handing it more.
    QByteArray arrived = one.readAvailable();
    bank.shutDown();

    for (QByteArray more; !(more = one.readAvailable(1000)).isEmpty();)
        arrived += more;
    QCOMPARE(arrived.size() % 1000, 0);
    const int whole = int(arrived.size() / 1000);
    QVERIFY2(whole < 60, "nothing was left to discard");
    QCOMPARE(bank.port(0).counters().commandsSent, std::uint64_t(whole));
    QCOMPARE(bank.port(0).counters().bytesSent, std::uint64_t(whole) * 1000);
    QCOMPARE(recorder.sent.size(), whole);
    QCOMPARE(recorder.sent.last().second, arrived.mid((whole - 1) * 1000, 1000));
    QCOMPARE(recorder.events.last(), QStringLiteral("0 Discarded %1 bytes of %2 commands")
                                         .arg(60000 - arrived.size())
                                         .arg(60 - whole));
}

// Short commands wait for the end of the event loop's turn and go to the device together;
// they count once it took them, and a close hands over what is still held.
void TestPortTraffic::commandsOfOneTurnGoTogetherAndBeforeTheClose()
{
    OnePort port;
    auto& [one, directory, bank, recorder, view] = port;
    sendToAllPorts(bank, QStringLiteral("A1."));
    sendToAllPorts(bank, QStringLiteral("B2."));
    QCOMPARE(one.readAvailable(), QByteArray()); // held until the turn ends
    QCOMPARE(bank.port(0).counters().commandsSent, 0u);
    QTRY_COMPARE(bank.port(0).counters().commandsSent, 2u);
    QCOMPARE(one.readExactly(6), QByteArray("A1.B2."));

    sendToAllPorts(bank, QStringLiteral("C3."));
    bank.shutDown();
    QCOMPARE(one.readExactly(3), QByteArray("C3."));
    QCOMPARE(bank.port(0).counters().commandsSent, 3u);
    QCOMPARE(recorder.sent.size(), 3);
    QVERIFY(recorder.events.filter(QStringLiteral("Discarded")).isEmpty());
}

void TestPortTraffic::receivedBytesAreCountedAndToldRawAsTheyArrive()
{
    PtyPeer two;
    ExplicitPortDirectory directory({{2, two.linkPath()}});
    PortBank bank(directory);
    Recorder recorder;
    bank.addObserver(&recorder);
    QuietView view;
    runOpeningPass(bank, view);
    QCOMPARE(bank.port(1).counters().lastReceivedMs, -1);

    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    // A character split over two writes reaches the observer as the two raw pieces.
    QVERIFY(two.write("OK \xba"));
    QTRY_COMPARE(bank.port(1).counters().bytesReceived, 4u);
    QVERIFY(two.write("\xc3\r\n"));
    QTRY_COMPARE(bank.port(1).counters().bytesReceived, 7u);
    QCOMPARE(recorder.received.value(1), QByteArray("OK \xba\xc3\r\n"));
    QVERIFY(bank.port(1).counters().lastReceivedMs >= before);
    QVERIFY(bank.port(1).counters().lastReceivedMs <= QDateTime::currentMSecsSinceEpoch());
    QString text;
    QCOMPARE(bank.port(1).input(text), PortError::None);
    QCOMPARE(text, QStringLiteral("OK 好\r\n"));
    QCOMPARE(bank.port(1).counters().bytesDropped, 0u);
}

void TestPortTraffic::openingInUseLossAndReturnAreToldOnceEach()
{
    PtyPeer one, two;
    ExplicitPortDirectory directory({{1, one.linkPath()}, {2, two.linkPath()}});
    PortBank bank(directory);
    Recorder recorder;
    bank.addObserver(&recorder);
    QuietView view;

    auto holder = std::make_unique<ForeignHolder>(two.linkPath(), ForeignHolder::Hold::Flock);
    QVERIFY(holder->isHolding());
    runOpeningPass(bank, view);
    runOpeningPass(bank, view);
    QCOMPARE(recorder.events, QStringList({"0 Opened " + one.linkPath() + " 9600,n,8,1",
                                           "1 InUse " + two.linkPath()}));
    holder.reset();
    runOpeningPass(bank, view);
    QCOMPARE(recorder.events.size(), 3);
    QCOMPARE(recorder.events.last(), "1 Opened " + two.linkPath() + " 9600,n,8,1");
    recorder.events.clear();

    // Port 1's adapter is pulled, then plugged back under the same name.
    one.closeMaster();
    one.removeLink();
    QTRY_VERIFY(!bank.port(0).isOpen());
    runOpeningPass(bank, view);
    runOpeningPass(bank, view);
    QVERIFY(one.reopen());
    runOpeningPass(bank, view);
    runOpeningPass(bank, view);
    QVERIFY(bank.port(0).isOpen());
    QCOMPARE(recorder.events, QStringList({"0 Lost " + one.linkPath(),
                                           "0 Returned " + one.linkPath() + " 9600,n,8,1"}));
    QCOMPARE(bank.port(0).counters().losses, 1u);
    QCOMPARE(bank.port(0).counters().returns, 1u);
    QCOMPARE(bank.port(1).counters().losses, 0u);
    QCOMPARE(bank.port(1).counters().returns, 0u);

    // Closing by hand is no loss, and the next open is an open, not a return.
    bank.port(0).close();
    QCOMPARE(bank.port(0).open(), PortError::None);
    QCOMPARE(recorder.events.last(), "0 Opened " + one.linkPath() + " 9600,n,8,1");
    QCOMPARE(bank.port(0).counters().losses, 1u);
}

QTEST_GUILESS_MAIN(TestPortTraffic)
#include "tst_port_traffic.moc"
