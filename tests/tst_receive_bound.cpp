// The receive bound: what a port keeps between two reads, where it cuts when more arrives, and
// what it counts and tells when it does.
#include "port_bank/port_directory.h"
#include "port_bank/port_errors.h"
#include "port_bank/port_traffic.h"
#include "port_bank/receive_ring.h"
#include "port_bank/serial_port.h"
#include "port_bank/wire_text.h"
#include "pty_peer.h"

#include <QMap>
#include <QRegularExpression>
#include <QtTest>

namespace {

class DeviceMap : public PortDirectory {
public:
    QString deviceFor(int portNumber) override { return devices.value(portNumber); }
    QMap<int, QString> devices;
};

// Chinese text only, in two- and four-byte characters, so that a cut anywhere in it would fall
// inside a character more often than not.
QByteArray chineseStream(qsizetype atLeast)
{
    QByteArray out;
    for (int n = 0; out.size() < atLeast; ++n)
        out += n % 3 == 0 ? QByteArray("\x95\x32\x82\x36") : QByteArray("\xba\xc3\xd5\xbc");
    return out;
}

// Writes stream to the peer in pieces and waits until the port has taken all of it.
bool feed(PtyPeer& peer, SerialPort& port, const QByteArray& stream, qsizetype piece)
{
    const std::uint64_t before = port.counters().bytesReceived;
    for (qsizetype at = 0; at < stream.size(); at += piece) {
        if (!peer.write(stream.mid(at, piece)))
            return false;
    }
    return QTest::qWaitFor(
        [&] { return port.counters().bytesReceived == before + std::uint64_t(stream.size()); },
        10000);
}

} // namespace

class TestReceiveBound : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void theRingKeepsTheNewestBytesAcrossItsEnd();
    void theRingCutsOnlyBetweenCharacters();
    void aFloodedPortShowsTheNewestBytesAndCountsTheRest();
    void belowTheBoundNothingIsDropped_data();
    void belowTheBoundNothingIsDropped();

private:
    PtyPeer* peer = nullptr;
    DeviceMap directory;
};

void TestReceiveBound::init()
{
    peer = new PtyPeer;
    QVERIFY(peer->isValid());
    directory.devices = {{1, peer->linkPath()}};
}

void TestReceiveBound::cleanup()
{
    delete peer;
    peer = nullptr;
}

void TestReceiveBound::theRingKeepsTheNewestBytesAcrossItsEnd()
{
    ReceiveRing ring(8);
    QCOMPARE(ring.append("abcdef"), 0);
    // Two over: the two oldest go, and the newest bytes wrap round the end of the storage.
    QCOMPARE(ring.append("ghij"), 2);
    QCOMPARE(ring.size(), 8);
    QCOMPARE(ring.takeAll(), QByteArray("cdefghij"));
    QCOMPARE(ring.size(), 0);
    QCOMPARE(ring.takeAll(), QByteArray());

    // One piece far larger than the ring: only its end is kept.
    QCOMPARE(ring.append("0123456789abcdefghij"), 12);
    QCOMPARE(ring.takeAll(), QByteArray("cdefghij"));
    // Exactly full is not over.
    QCOMPARE(ring.append("ABCDEFGH"), 0);
    QCOMPARE(ring.takeAll(), QByteArray("ABCDEFGH"));
}

void TestReceiveBound::theRingCutsOnlyBetweenCharacters()
{
    {
        // One over inside a four-byte character: the whole character goes, nothing more.
        ReceiveRing ring(6);
        QCOMPARE(ring.append("\x95\x32\x82\x36x\x95\x32\x82\x36"), 4);
        QCOMPARE(WireDecoder().decode(ring.takeAll()), QString::fromUcs4(U"x\U00020000"));
    }
    {
        // A two-byte character whose trail byte looks like a lead byte.
        ReceiveRing ring(4);
        QCOMPARE(ring.append("a\xba\xc3\xba\xc3"), 1);
        QCOMPARE(ring.takeAll(), QByteArray("\xba\xc3\xba\xc3"));
        QCOMPARE(ring.append("\xba\xc3\xba\xc3\xba"), 2);
        QCOMPARE(ring.size(), 3);
    }
    {
        // A character begun before the last take: its trail byte opens the ring, and a cut
        // there takes it as the end of that character, not as the start of one.
        ReceiveRing ring(4);
        WireDecoder decoder;
        QCOMPARE(ring.append("\xba"), 0);
        QCOMPARE(decoder.decode(ring.takeAll()), QString());
        QCOMPARE(ring.append("\xc3\xba\xc3\xba\xc3"), 1);
        QCOMPARE(WireDecoder().decode(ring.takeAll()), QStringLiteral("好好"));
    }
    {
        // Digits 0 and 9 inside four-byte characters (U+3400), the cut one byte in.
        ReceiveRing ring(8);
        QCOMPARE(ring.append("\x81\x39\xee\x39\x81\x30\x81\x30y"), 4);
        QCOMPARE(WireDecoder().decode(ring.takeAll()), QStringLiteral("\u0080y"));
        QCOMPARE(ring.append("\x81\x30\x81\x30\x81\x39\xee\x39y"), 4);
        QCOMPARE(WireDecoder().decode(ring.takeAll()), QStringLiteral("\u3400y"));
    }
    {
        // After clear() the stream starts afresh.
        ReceiveRing ring(4);
        ring.append("\xba");
        ring.clear();
        QCOMPARE(ring.append("\xba\xc3\xba\xc3"
                             "ab"),
                 2);
        QCOMPARE(WireDecoder().decode(ring.takeAll()), QStringLiteral("好ab"));
    }
}

void TestReceiveBound::aFloodedPortShowsTheNewestBytesAndCountsTheRest()
{
    SerialPort port(directory);
    QCOMPARE(port.open(), PortError::None);
    const qsizetype bound = PortTraffic::kReceiveBound;
    // The flood ends with the lead byte of a character: the read keeps it back for its trail.
    const QByteArray stream = chineseStream(3 * bound + 11) + "\xba";

    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression("^port 1: more than 65536 bytes .* dropped"));
    QVERIFY(feed(*peer, port, stream, 1000));
    QString text;
    QCOMPARE(port.input(text), PortError::None);
    const QByteArray shown = encodeForWire(text);
    QVERIFY2(shown.size() <= bound && shown.size() > bound - 5, QByteArray::number(shown.size()));
    QVERIFY(!text.contains(QChar::ReplacementCharacter));
    QCOMPARE(shown, stream.chopped(1).right(shown.size()));
    QCOMPARE(port.counters().bytesReceived, std::uint64_t(stream.size()));
    const qsizetype firstDrop = stream.size() - shown.size() - 1;
    QCOMPARE(port.counters().bytesDropped, std::uint64_t(firstDrop));

    // A second flood drops that trail byte with the oldest of its own: the held lead byte goes
    // with it, not into the first character shown. It counts again but warns no more.
    QTest::failOnWarning(QRegularExpression("dropped"));
    const QByteArray more = "\xc3" + chineseStream(2 * bound);
    QVERIFY(feed(*peer, port, more, 4096));
    QCOMPARE(port.input(text), PortError::None);
    QVERIFY(!text.contains(QChar::ReplacementCharacter));
    const QByteArray shownAgain = encodeForWire(text);
    QCOMPARE(shownAgain, more.right(shownAgain.size()));
    QCOMPARE(port.counters().bytesDropped,
             std::uint64_t(firstDrop + 1 + more.size() - shownAgain.size()));
    QCOMPARE(port.input(text), PortError::None);
    QCOMPARE(text, QString());
}

void TestReceiveBound::belowTheBoundNothingIsDropped_data()
{
    QTest::addColumn<qsizetype>("piece");
    QTest::newRow("3-byte writes") << qsizetype(3);
    QTest::newRow("100-byte writes") << qsizetype(100);
    QTest::newRow("4 KiB writes") << qsizetype(4096);
    QTest::newRow("one write") << PortTraffic::kReceiveBound;
}

void TestReceiveBound::belowTheBoundNothingIsDropped()
{
    QFETCH(qsizetype, piece);
    SerialPort port(directory);
    QCOMPARE(port.open(), PortError::None);
    QTest::failOnWarning(QRegularExpression("dropped"));
    // Exactly the bound, with a character split at the end of most pieces.
    const QByteArray stream =
        chineseStream(PortTraffic::kReceiveBound).left(PortTraffic::kReceiveBound);
    QVERIFY(feed(*peer, port, stream, piece));
    QString text;
    QCOMPARE(port.input(text), PortError::None);
    QCOMPARE(encodeForWire(text), stream);
    QCOMPARE(port.counters().bytesDropped, 0u);
    QCOMPARE(port.counters().bytesReceived, std::uint64_t(stream.size()));
}

QTEST_GUILESS_MAIN(TestReceiveBound)
#include "tst_receive_bound.moc"
