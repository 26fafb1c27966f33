// GB18030 on the wire: commands encode byte for byte, received bytes decode the same however
// the driver's reads cut them, a character split between reads included, and the one rule of
// where characters begin is the one Qt's converter follows.
#include "port_bank/gb18030.h"
#include "port_bank/wire_text.h"

#include <QtTest>

class TestWireText : public QObject {
    Q_OBJECT
private slots:
    void decodesTheSameHoweverTheBytesAreCut_data();
    void decodesTheSameHoweverTheBytesAreCut();
    void commandsEncodeByteForByte();
    void unitsAreWhatTheConverterReads();
};

namespace {

// Windows converts by its code page 54936; wine has none and converts by 936, which lacks the
// four-byte characters and reads stray bytes its own way.
bool convertsAllOfGb18030()
{
    return encodeForWire(QString::fromUcs4(U"\U00020000")) == QByteArray("\x95\x32\x82\x36");
}

constexpr char kOnly936[] = "this system converts by code page 936 (wine), not GB18030";

} // namespace

void TestWireText::decodesTheSameHoweverTheBytesAreCut_data()
{
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QString>("text"); // empty: whatever the whole decodes to (invalid bytes)
    QTest::newRow("ASCII") << QByteArray("OK 1\r\n") << QStringLiteral("OK 1\r\n");
    QTest::newRow("two-byte characters") << QByteArray("\xb4\xae\xbf\xda"
                                                       "1")
                                         << QStringLiteral("串口1");
    QTest::newRow("four-byte character")
        << QByteArray("\x95\x32\x82\x36") << QString::fromUcs4(U"\U00020000");
    // A stray lead byte before a digit: once lost the byte after it when fed one by one.
    QTest::newRow("lead, digit, digit") << QByteArray("\x81\x39\x31") << QString();
    QTest::newRow("lead, digit, then a real character")
        << QByteArray("\x81\x30\x81\x40") << QString();
    QTest::newRow("lead, digit, 0xFF") << QByteArray("\x81\x30\xff") << QString();
    QTest::newRow("lone 0x80 and 0xFF") << QByteArray("a\x80"
                                                      "b\xff"
                                                      "c")
                                        << QString();
}

void TestWireText::decodesTheSameHoweverTheBytesAreCut()
{
    QFETCH(QByteArray, wire);
    QFETCH(QString, text);
    if (!convertsAllOfGb18030() && !QByteArrayView(QTest::currentDataTag()).contains("two-byte") &&
        QByteArrayView(QTest::currentDataTag()) != "ASCII")
        QSKIP(kOnly936);
    const QString whole = WireDecoder().decode(wire + "!");
    if (!text.isEmpty())
        QCOMPARE(whole, text + "!");
    for (int piece = 1; piece <= 3; ++piece) {
        WireDecoder decoder;
        QString joined;
        for (qsizetype at = 0; at < wire.size(); at += piece)
            joined +=
                decoder.decode(QByteArrayView(wire).sliced(at, qMin(piece, wire.size() - at)));
        joined += decoder.decode("!"); // the next read completes whatever was held back
        QCOMPARE(joined, whole);
    }
}

void TestWireText::commandsEncodeByteForByte()
{
    QCOMPARE(encodeForWire(QStringLiteral(":::ZAVB0-9999(EFG).")),
             QByteArray(":::ZAVB0-9999(EFG)."));
    QCOMPARE(encodeForWire(QStringLiteral(" 全开 ")), QByteArray(" \xc8\xab\xbf\xaa "));
    QCOMPARE(encodeForWire(QString()), QByteArray());
    // A surrogate without its pair becomes SUB wherever it stands, the end included.
    const QChar lone(0xD800);
    QCOMPARE(encodeForWire(QStringLiteral(":::ZAVA.") + lone), QByteArray(":::ZAVA.\x1a"));
    QCOMPARE(encodeForWire(QString(lone) + "7"), QByteArray("\x1a"
                                                            "7"));
    QCOMPARE(encodeForWire(QString(QChar(0xDC00))), QByteArray("\x1a"));
    if (!convertsAllOfGb18030())
        QSKIP(kOnly936);
    QCOMPARE(encodeForWire(QString::fromUcs4(U"\U00020000")), QByteArray("\x95\x32\x82\x36"));
}

void TestWireText::unitsAreWhatTheConverterReads()
{
    // Every string of up to four bytes from the bytes where the rule's cases part: decoded
    // whole, it reads as its units decoded one by one, a unit that is no character as U+FFFD.
    const QByteArray alphabet("\x00\x30\x39\x3a\x40\x7e\x7f\x80\x81\xa1\xfe\xff", 12);
    QStringDecoder qt("GB18030", QStringConverter::Flag::Stateless);
    if (!qt.isValid())
        QSKIP("Qt has no GB18030 converter of its own here (no ICU)");
    for (int length = 1; length <= 4; ++length) {
        int count = 1;
        for (int i = 0; i < length; ++i)
            count *= int(alphabet.size());
        for (int n = 0; n < count; ++n) {
            QByteArray bytes;
            for (int i = 0, rest = n; i < length; ++i, rest /= int(alphabet.size()))
                bytes.append(alphabet[rest % alphabet.size()]);
            bytes.append('!');
            QString byUnits;
            for (qsizetype at = 0; at < bytes.size();) {
                const Gb18030::Unit unit = Gb18030::unitAt(QByteArrayView(bytes).sliced(at));
                QVERIFY(unit.length > 0);
                byUnits += unit.character ? QString(qt.decode(bytes.mid(at, unit.length)))
                                          : QStringLiteral("\uFFFD");
                at += unit.length;
            }
            QCOMPARE(byUnits, qt.decode(bytes));
        }
    }
}

QTEST_GUILESS_MAIN(TestWireText)
#include "tst_wire_text.moc"
