// What the session log and the run report write, before any file: received bytes made visible
// and cut into lines, timestamps, sizes on the command line and the report's CSV.
#include "session_log/byte_size.h"
#include "session_log/local_timestamp.h"
#include "session_log/received_lines.h"
#include "session_log/run_report.h"
#include "session_log/visible_text.h"

#include <QtTest>
#include <cstdlib>
#include <ctime>

class TestSessionLogText : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void visible_data();
    void visible();
    void visibleWhateverTheCuts();
    void plainBytesAnywhere();
    void visibleEndsHeldBytes();
    void eventTextIsEscaped();
    void linesEndAtLineEnds();
    void lineEndsAcrossArrivals();
    void longLineIsCut();
    void flushKeepsUnfinishedCharacter();
    void timestamps();
    void byteSizes_data();
    void byteSizes();
    void report();
};

void TestSessionLogText::initTestCase()
{
    // Local time is what the log shows; pin it so that the expected texts are literal.
    qputenv("TZ", "Asia/Shanghai");
    ::tzset();
}

void TestSessionLogText::visible_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("shown"); // UTF-8
    QTest::newRow("plain") << QByteArray(":::ZAVB5.") << QByteArray(":::ZAVB5.");
    QTest::newRow("controls") << QByteArray("OK\r\n\t\x1b[0m\x7f\x00", 11)
                              << QByteArray("OK\\r\\n\\t\\x1b[0m\\x7f\\x00");
    QTest::newRow("backslash doubles") << QByteArray("a\\x41\\") << QByteArray("a\\\\x41\\\\");
    QTest::newRow("two-byte chinese") << QByteArray("\xc4\xe3\xba\xc3") << QByteArray("你好");
    QTest::newRow("euro, two bytes") << QByteArray("\xa2\xe3") << QByteArray("€");
    QTest::newRow("four bytes in the BMP") << QByteArray("\x81\x30\x84\x36") << QByteArray("¥");
    QTest::newRow("four bytes beyond the BMP")
        << QByteArray("\x95\x32\x82\x36") << QByteArray("\xf0\xa0\x80\x80");
    QTest::newRow("U+FFFD itself") << QByteArray("\x84\x31\xa4\x37") << QByteArray("\xef\xbf\xbd");
    QTest::newRow("C1 control") << QByteArray("\x81\x30\x81\x30") << QByteArray("\\u0080");
    QTest::newRow("0xFF and 0x80") << QByteArray("A\xff"
                                                 "B\x80"
                                                 "C")
                                   << QByteArray("A\\xffB\\x80C");
    QTest::newRow("lead byte then blank") << QByteArray("\x81 \xc4\xe3") << QByteArray("\\x81 你");
    QTest::newRow("lead byte then CR") << QByteArray("\xc4\r\n") << QByteArray("\\xc4\\r\\n");
    QTest::newRow("four-byte shape, no character")
        << QByteArray("\x84\x31\xa5\x30") << QByteArray("\\x84\\x31\\xa5\\x30");
    QTest::newRow("lead, digit, then no lead") << QByteArray("\x81\x30Z") << QByteArray("\\x810Z");
    QTest::newRow("GB18030 text, CR LF, 0xFF")
        << QByteArray("\xb5\xc6\xc1\xc1 OK\r\n\xff") << QByteArray("灯亮 OK\\r\\n\\xff");
}

void TestSessionLogText::visible()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, shown);
    QCOMPARE(VisibleText::of(bytes), shown);
}

// Every byte value at every place of a text long enough for whole words and a tail: plain is
// printable ASCII without the backslash, and a 0xFF (whose test carries into the next byte)
// before a plain byte does not make it pass.
void TestSessionLogText::plainBytesAnywhere()
{
    for (int at = 0; at < 19; ++at) {
        for (int value = 0; value < 256; ++value) {
            QByteArray text(19, 'a');
            text[at] = char(value);
            const bool plain = value >= 0x20 && value <= 0x7E && value != 0x5C;
            QVERIFY2(VisibleText::isPlain(text) == plain, qPrintable(QString::number(value, 16)));
            if (at > 0) {
                text[at - 1] = char(0xFF);
                QVERIFY(!VisibleText::isPlain(text));
            }
        }
    }
}

// The same stream cut in two at every place shows the same text.
void TestSessionLogText::visibleWhateverTheCuts()
{
    const QByteArray stream("\xc4\xe3"
                            "A\x95\x32\x82\x36\xff\x81\x30\x84\x36\x81"
                            " B\\\r\xa2\xe3");
    const QByteArray shown("你A\xf0\xa0\x80\x80\\xff¥\\x81 B\\\\\\r€");
    QCOMPARE(VisibleText::of(stream), shown);
    for (qsizetype cut = 0; cut <= stream.size(); ++cut) {
        for (qsizetype second = cut; second <= stream.size(); ++second) {
            VisibleText visible;
            QByteArray out;
            visible.append(QByteArrayView(stream).first(cut), out);
            visible.append(QByteArrayView(stream).sliced(cut, second - cut), out);
            visible.append(QByteArrayView(stream).sliced(second), out);
            visible.finish(out);
            QVERIFY2(out == shown, qPrintable(QStringLiteral("cuts at %1 and %2: %3")
                                                  .arg(cut)
                                                  .arg(second)
                                                  .arg(QString::fromUtf8(out))));
        }
    }
}

// Bytes held for a character that never comes are shown as bytes at the end, and what follows
// the lead byte is read as itself.
void TestSessionLogText::visibleEndsHeldBytes()
{
    VisibleText visible;
    QByteArray out;
    visible.append("ok\x81\x30\x81", out);
    QCOMPARE(out, QByteArray("ok"));
    QVERIFY(visible.holdsBytes());
    visible.finish(out);
    QCOMPARE(out, QByteArray("ok\\x810\\x81"));
    QVERIFY(!visible.holdsBytes());
}

void TestSessionLogText::eventTextIsEscaped()
{
    QCOMPARE(VisibleText::ofText(QStringLiteral("opened /dev/a\nb \\ 串口 115200,n,8,1")),
             QByteArray("opened /dev/a\\nb \\\\ 串口 115200,n,8,1"));
}

namespace {

QStringList linesOf(const std::vector<ReceivedLines::Line>& lines)
{
    QStringList out;
    for (const auto& line : lines)
        out << QStringLiteral("%1 %2").arg(line.ms).arg(QString::fromUtf8(line.text));
    return out;
}

} // namespace

void TestSessionLogText::linesEndAtLineEnds()
{
    ReceivedLines received;
    std::vector<ReceivedLines::Line> lines;
    received.add(100, "OK\r\nA\rB\nC\r\r\nrest", lines);
    QCOMPARE(linesOf(lines),
             (QStringList{"100 OK\\r\\n", "100 A\\r", "100 B\\n", "100 C\\r", "100 \\r\\n"}));
    QVERIFY(received.hasUnfinishedText());
    lines.clear();
    received.flush(lines, false);
    QCOMPARE(linesOf(lines), QStringList{"100 rest"});
    QVERIFY(!received.hasUnfinishedText());
}

// A line carries the time its first byte came; CR and LF may come apart.
void TestSessionLogText::lineEndsAcrossArrivals()
{
    ReceivedLines received;
    std::vector<ReceivedLines::Line> lines;
    received.add(100, "\xc4", lines);
    received.add(150, "\xe3OK\r", lines);
    QVERIFY(lines.empty());
    received.add(200, "\nnext\r", lines);
    received.add(250, "after", lines);
    QCOMPARE(linesOf(lines), (QStringList{"100 你OK\\r\\n", "200 next\\r"}));
    QCOMPARE(received.lastArrivalMs(), qint64(250));
    lines.clear();
    received.add(300, "\n", lines);
    QCOMPARE(linesOf(lines), QStringList{"250 after\\n"});
}

void TestSessionLogText::longLineIsCut()
{
    ReceivedLines received;
    std::vector<ReceivedLines::Line> lines;
    const QByteArray flood(ReceivedLines::kMaxLineBytes * 2 + 10, 'x');
    received.add(1, flood, lines);
    QCOMPARE(lines.size(), std::size_t(2));
    QCOMPARE(lines[0].text.size(), 4096);
    QCOMPARE(lines[1].text.size(), 4096);
    lines.clear();
    received.flush(lines, true);
    QCOMPARE(lines.size(), std::size_t(1));
    QCOMPARE(lines[0].text, QByteArray(10, 'x'));
}

// A flush before a command keeps a character's first byte for its second; a final one shows it.
void TestSessionLogText::flushKeepsUnfinishedCharacter()
{
    ReceivedLines received;
    std::vector<ReceivedLines::Line> lines;
    received.add(10, "ab\xba", lines);
    received.flush(lines, false);
    received.add(20, "\xc3\n", lines);
    QCOMPARE(linesOf(lines), (QStringList{"10 ab", "10 好\\n"}));
    lines.clear();
    received.add(30, "z\xba", lines);
    received.flush(lines, true);
    QCOMPARE(linesOf(lines), QStringList{"30 z\\xba"});
}

void TestSessionLogText::timestamps()
{
    LocalTimestamp timestamp;
    // 2026-12-07 01:30:00.123 UTC is 09:30 in Shanghai.
    QCOMPARE(timestamp.text(1796607000123), QByteArray("2026-12-07 09:30:00.123"));
    QCOMPARE(timestamp.text(1796607000999), QByteArray("2026-12-07 09:30:00.999"));
    QCOMPARE(timestamp.text(1796607001005), QByteArray("2026-12-07 09:30:01.005"));
    QCOMPARE(timestamp.text(-1), QByteArray("1970-01-01 07:59:59.999"));
}

void TestSessionLogText::byteSizes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("bytes"); // -1: refused
    QTest::newRow("plain") << "65536" << qint64(65536);
    QTest::newRow("K") << "500K" << qint64(512000);
    QTest::newRow("m lower case") << "100m" << qint64(104857600);
    QTest::newRow("G") << "2G" << qint64(2147483648);
    QTest::newRow("largest") << "8589934591G" << qint64(9223372035781033984);
    QTest::newRow("too large") << "8589934592G" << qint64(-1);
    QTest::newRow("too many digits") << "99999999999999999999" << qint64(-1);
    QTest::newRow("suffix only") << "M" << qint64(-1);
    QTest::newRow("two suffixes") << "1KB" << qint64(-1);
    QTest::newRow("fraction") << "1.5G" << qint64(-1);
    QTest::newRow("sign") << "-1M" << qint64(-1);
}

void TestSessionLogText::byteSizes()
{
    QFETCH(QString, text);
    QFETCH(qint64, bytes);
    const std::optional<std::int64_t> size = parseByteSize(text);
    QCOMPARE(size.has_value() ? qint64(*size) : qint64(-1), bytes);
}

void TestSessionLogText::report()
{
    ReportRows rows;
    rows[0] =
        ReportRow{"/dev/ttyUSB0", "open", PortCounters{12, 120, 4000, 16, 1, 1, 1796607000123}};
    rows[3] = ReportRow{"/tmp/a,\"b\"", "in_use", PortCounters{}};
    rows[15] = ReportRow{"/dev/ttyS0", "absent", PortCounters{}, 258539};
    rows[0].verdict = VerdictColumns{true, 12, 1, 2, 1500, 12000, 20049, false};
    rows[15].verdict = VerdictColumns{true, 3, 0, 0, -1, -1, -1, true};
    const QList<QByteArray> lines = runReportCsv(rows, 1796607010456).split('\n');
    QCOMPARE(lines.size(), 18);
    QCOMPARE(lines[0], QByteArray("port,device,status,commands_sent,bytes_sent,bytes_received,"
                                  "bytes_dropped,losses,returns,last_received,log_lines_lost,"
                                  "written_at,checks,missed,differed,answer_ms_p50,answer_ms_p99,"
                                  "answer_ms_max,verdict"));
    QCOMPARE(lines[1], QByteArray("1,/dev/ttyUSB0,open,12,120,4000,16,1,1,2026-12-07 09:30:00.123,"
                                  "0,2026-12-07 09:30:10.456+08:00,12,1,2,1.5,12.0,20.0,fail"));
    QCOMPARE(lines[2], QByteArray("2,,,0,0,0,0,0,0,,0,2026-12-07 09:30:10.456+08:00,,,,,,,"));
    QCOMPARE(lines[4], QByteArray("4,\"/tmp/a,\"\"b\"\"\",in_use,0,0,0,0,0,0,,0,"
                                  "2026-12-07 09:30:10.456+08:00,,,,,,,"));
    // Bound, checked, never answered: no answer times.
    QCOMPARE(lines[16], QByteArray("16,/dev/ttyS0,absent,0,0,0,0,0,0,,258539,"
                                   "2026-12-07 09:30:10.456+08:00,3,0,0,,,,pass"));
    QCOMPARE(lines[17], QByteArray()); // the last row ends its line
}

QTEST_GUILESS_MAIN(TestSessionLogText)
#include "tst_session_log_text.moc"
