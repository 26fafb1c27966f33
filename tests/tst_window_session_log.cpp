// The window's bank watched by the session log and the run report, on real ptys and real
// files: what the two log files say after a preset, a sweep step, replies and a lost device,
// and the report's rows against what the peers received.
#include "main_window/command_button.h"
#include "main_window/form1.h"
#include "main_window/text_box.h"
#include "pty_peer.h"
#include "session_log/output_paths.h"
#include "session_log/session_recording.h"
#include "window_bench.h"

#include <QtTest>

namespace {

QByteArray contentsOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The lines of a log file without their times, which are checked for their shape and order.
QStringList linesWithoutTimes(const QString& path)
{
    const QByteArray text = contentsOf(path);
    if (!text.endsWith('\n'))
        return {QStringLiteral("(the file does not end with a line end)")};
    QStringList lines;
    QString previousTime;
    const QRegularExpression time("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} ");
    for (const QByteArray& line : text.chopped(1).split('\n')) {
        const QString text = QString::fromUtf8(line);
        if (!time.match(text).hasMatch())
            return {QStringLiteral("(no time on the line) ") + text};
        if (text.left(23) < previousTime)
            return {QStringLiteral("(times out of order) ") + text};
        previousTime = text.left(23);
        lines << text.mid(24);
    }
    return lines;
}

} // namespace

class TestWindowSessionLog : public QObject {
    Q_OBJECT
private slots:
    void twoPortsLogAndReport();
    void repliesThePollReadsItselfAreLoggedAsTheyCame();
};

void TestWindowSessionLog::twoPortsLogAndReport()
{
    QTemporaryDir dir;
    PtyPeer one, two, held;
    QVERIFY(one.isValid() && two.isValid() && held.isValid());
    ForeignHolder holder(held.slavePath(), ForeignHolder::Hold::Flock);
    QVERIFY(holder.isHolding());
    WindowBench bench({{1, one.linkPath()},
                       {2, two.linkPath()},
                       {4, held.linkPath()},
                       {5, dir.filePath("absent")}});
    Form1& form = bench.form;
    PortBank& bank = form.portBank();
    const QString reportPath = dir.filePath("report.csv");
    QCOMPARE(prepareLogDirectory(dir.filePath("logs")), QString()); // as the program does at start
    SessionRecording recording(bank, {dir.filePath("logs"), 1 << 20, reportPath},
                               QDateTime::currentMSecsSinceEpoch());

    form.Timer3_Timer();
    QVERIFY(bank.port(0).isOpen() && bank.port(1).isOpen());

    // A preset, then a step of the timed sweep (its first cycle begins at channel 1).
    form.Text1[0]->setText(QStringLiteral(":::ZAVB5."));
    form.Command1[0]->click();
    form.Timer1_Timer();
    const QByteArray sent(":::ZAVB5.:::::::::::ZAVB1.");
    QCOMPARE(one.readExactly(sent.size()), sent);
    QCOMPARE(two.readExactly(sent.size()), sent);

    // Replies: GB18030 text, CR LF, a byte that is no text, a line with no end yet.
    QVERIFY(one.write("OK\r\n\xb5\xc6\xc1\xc1\xff\r\n"));
    QVERIFY(two.write("OK\r\nwait"));
    QTRY_COMPARE(bank.port(0).counters().bytesReceived, quint64(11));
    QTRY_COMPARE(bank.port(1).counters().bytesReceived, quint64(8));
    form.Timer2_Timer();

    // Port 2's device goes away and is not there at the next pass.
    two.closeMaster();
    two.removeLink();
    QTRY_COMPARE(bank.port(1).counters().losses, quint64(1));
    form.Timer3_Timer();

    recording.finish();
    const QString logs = dir.filePath("logs");
    const QStringList files = QDir(logs).entryList(QDir::Files);
    QCOMPARE(files.size(), 3);
    QVERIFY2(files[0].endsWith("_port01.log") && files[1].endsWith("_port02.log") &&
                 files[2].endsWith("_port04.log"),
             qPrintable(files.join(' ')));
    // Held elsewhere on both passes: said once.
    QCOMPARE(linesWithoutTimes(logs + "/" + files[2]), QStringList{"-- in use " + held.linkPath()});
    QCOMPARE(files[0].left(19), files[1].left(19)); // one run, one start time
    QCOMPARE(linesWithoutTimes(logs + "/" + files[0]),
             (QStringList{"-- opened " + one.linkPath() + " 115200,n,8,1", "TX :::ZAVB5.",
                          "TX :::::::::::ZAVB1.", "RX OK\\r\\n", "RX 灯亮\\xff\\r\\n"}));
    QCOMPARE(linesWithoutTimes(logs + "/" + files[1]),
             (QStringList{"-- opened " + two.linkPath() + " 115200,n,8,1", "TX :::ZAVB5.",
                          "TX :::::::::::ZAVB1.", "RX OK\\r\\n", "RX wait",
                          "-- lost " + two.linkPath()}));

    const QList<QByteArray> report = contentsOf(reportPath).split('\n');
    QCOMPARE(report.size(), 18);
    QCOMPARE(report[0], QByteArray("port,device,status,commands_sent,bytes_sent,bytes_received,"
                                   "bytes_dropped,losses,returns,last_received,log_lines_lost,"
                                   "written_at,checks,missed,differed,answer_ms_p50,answer_ms_p99,"
                                   "answer_ms_max,verdict"));
    const QString time = "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}";
    // No verdict without a run record: its columns stay empty.
    const QRegularExpression row1("^1," + QRegularExpression::escape(one.linkPath()) +
                                  ",open,2,26,11,0,0,0," + time + ",0," + time +
                                  "[+-]\\d\\d:\\d\\d,,,,,,,$");
    QVERIFY2(row1.match(QString::fromUtf8(report[1])).hasMatch(), report[1].constData());
    QVERIFY2(report[2].startsWith("2," + two.linkPath().toUtf8() + ",absent,2,26,8,0,1,0,2"),
             report[2].constData());
    const QByteArray writtenAt = report[1].split(',').at(11); // the same on all
    const QByteArray tail = ",0," + writtenAt + ",,,,,,,";
    QCOMPARE(report[3], "3,,absent,0,0,0,0,0,0," + tail);
    QCOMPARE(report[4], "4," + held.linkPath().toUtf8() + ",in_use,0,0,0,0,0,0," + tail);
    QCOMPARE(report[5], "5," + dir.filePath("absent").toUtf8() + ",absent,0,0,0,0,0,0," + tail);
    QCOMPARE(report[16], "16,,absent,0,0,0,0,0,0," + tail);
    QVERIFY(bank.observers().isEmpty()); // the bank is no longer watched
}

// Replies still in the driver when a poll comes are read by the poll itself, one after the other
// into the same read buffer: each must be logged as it came, not as the next one left the buffer.
void TestWindowSessionLog::repliesThePollReadsItselfAreLoggedAsTheyCame()
{
    QTemporaryDir dir;
    PtyPeer one;
    QVERIFY(one.isValid());
    WindowBench bench({{1, one.linkPath()}});
    Form1& form = bench.form;
    PortBank& bank = form.portBank();
    QCOMPARE(prepareLogDirectory(dir.filePath("logs")), QString());
    SessionRecording recording(bank, {dir.filePath("logs"), 1 << 20, QString()},
                               QDateTime::currentMSecsSinceEpoch());
    form.Timer3_Timer();
    QVERIFY(bank.port(0).isOpen());

    const QList<QByteArray> replies{"first\r\n", "SECOND\r\n", "3rd\r\n"};
    for (const QByteArray& reply : replies) {
        QVERIFY(one.write(reply));
        QVERIFY(one.waitUntilUnreadAtSlave(reply.size())); // no event loop: the poll reads it
        form.Timer2_Timer();
    }
    QCOMPARE(bank.port(0).counters().bytesReceived, quint64(5 + 2 + 6 + 2 + 3 + 2));

    recording.finish();
    const QStringList files = QDir(dir.filePath("logs")).entryList(QDir::Files);
    QCOMPARE(files.size(), 1);
    QCOMPARE(linesWithoutTimes(dir.filePath("logs") + "/" + files[0]),
             (QStringList{"-- opened " + one.linkPath() + " 115200,n,8,1", "RX first\\r\\n",
                          "RX SECOND\\r\\n", "RX 3rd\\r\\n"}));
}

QTEST_MAIN(TestWindowSessionLog)
#include "tst_window_session_log.moc"
