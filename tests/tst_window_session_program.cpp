// The real program with --log and --report, driven from outside as an engineer runs it on a
// bench: ptys as the controllers, signals to end it.
#include "raw_pty.h"

#include <QtTest>
#include <csignal>
#include <unistd.h>

namespace {

QByteArray contentsOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The one log file in directory/logs (the one port's), as it stands.
QByteArray portLog(const QString& directory)
{
    const QDir logs(directory + "/logs");
    const QStringList files = logs.entryList(QDir::Files);
    return files.size() == 1 ? contentsOf(logs.filePath(files[0])) : QByteArray();
}

// QSerialPort's lock file for a device: "/dev/pts/3" is "/var/lock/LCK..pts_3". It is there
// while the program has the port open, and removed when the port is closed.
QString lockFileOf(const QString& device)
{
    QString name = device;
    name.remove(0, 5).replace(QLatin1Char('/'), QLatin1Char('_'));
    return QStringLiteral("/var/lock/LCK..") + name;
}

struct Program {
    QProcess process;

    void start(const QStringList& arguments, const QString& workingDirectory)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(workingDirectory);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(qEnvironmentVariable("LIGHTBENCH_PROGRAM"), arguments);
    }

    ~Program()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
};

} // namespace

class TestSessionProgram : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void signalEndsAsExitButton_data();
    void signalEndsAsExitButton();
    void killedProgramLeavesCompleteReport();
};

void TestSessionProgram::initTestCase()
{
    QVERIFY2(QFileInfo(qEnvironmentVariable("LIGHTBENCH_PROGRAM")).isExecutable(),
             "LIGHTBENCH_PROGRAM names no program");
}

void TestSessionProgram::signalEndsAsExitButton_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGHUP") << SIGHUP;
}

// The port is released (its lock file goes), the program ends normally, the log is flushed (a
// line without its end included) and the report written with the last bytes counted, where the
// default action would have killed the program with the lock file left behind.
void TestSessionProgram::signalEndsAsExitButton()
{
    QFETCH(int, signalNumber);
    QTemporaryDir dir;
    RawPty pty;
    QVERIFY(openRawPty(pty));
    const auto closeMaster = qScopeGuard([&] { ::close(pty.master); });

    Program program;
    program.start({"--port", "1=" + pty.slavePath, "--log", "logs", "--report", "report.csv"},
                  dir.path());
    QVERIFY(program.process.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(portLog(dir.path()).contains(" -- opened "), 20000);
    // Where lock files can be made (as root, or in the uucp group) the port holds one.
    const bool locked = QFile::exists(lockFileOf(pty.slavePath));
    QVERIFY(locked || ::geteuid() != 0);
    QCOMPARE(::write(pty.master, "hello\r\nbye", 10), ssize_t(10));
    QTRY_VERIFY_WITH_TIMEOUT(portLog(dir.path()).contains(" RX hello\\r\\n\n"), 10000);

    ::kill(pid_t(program.process.processId()), signalNumber);
    QVERIFY(program.process.waitForFinished(20000));
    QCOMPARE(program.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.process.exitCode(), 0);
    if (locked)
        QVERIFY(!QFile::exists(lockFileOf(pty.slavePath)));
    QVERIFY2(portLog(dir.path()).endsWith(" RX bye\n"), portLog(dir.path()).constData());
    const QList<QByteArray> report = contentsOf(dir.filePath("report.csv")).split('\n');
    QCOMPARE(report.size(), 18);
    QVERIFY2(report[1].startsWith("1," + pty.slavePath.toUtf8() + ",open,0,0,10,0,0,0,2"),
             report[1].constData());
}

// A crash (SIGKILL) leaves the last report written, whole; the next one was not due yet.
void TestSessionProgram::killedProgramLeavesCompleteReport()
{
    QTemporaryDir dir;
    RawPty pty;
    QVERIFY(openRawPty(pty));
    const auto closeMaster = qScopeGuard([&] { ::close(pty.master); });

    Program program;
    program.start({"--report", "report.csv", "--port", "3=" + pty.slavePath, "--log", "logs"},
                  dir.path());
    QVERIFY(program.process.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(portLog(dir.path()).contains(" -- opened "), 20000);
    QCOMPARE(::write(pty.master, "ready\r\n", 7), ssize_t(7));
    // The report every 10 s picks the bytes up.
    const QByteArray row = "3," + pty.slavePath.toUtf8() + ",open,0,0,7,0,0,0,2";
    QTRY_VERIFY_WITH_TIMEOUT(contentsOf(dir.filePath("report.csv")).contains(row), 30000);
    QCOMPARE(::write(pty.master, "more", 4), ssize_t(4));
    QTest::qWait(200);

    ::kill(pid_t(program.process.processId()), SIGKILL);
    QVERIFY(program.process.waitForFinished(20000));
    QCOMPARE(program.process.exitStatus(), QProcess::CrashExit);
    const QList<QByteArray> report = contentsOf(dir.filePath("report.csv")).split('\n');
    QCOMPARE(report.size(), 18);
    QVERIFY(report[0].startsWith("port,device,status,"));
    QVERIFY2(report[3].startsWith(row), report[3].constData());
    QCOMPARE(report[16], QByteArray("16,,absent,0,0,0,0,0,0,,,,,,,,"));
}

QTEST_GUILESS_MAIN(TestSessionProgram)
#include "tst_window_session_program.moc"
