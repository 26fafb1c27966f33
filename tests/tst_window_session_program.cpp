// The real program with --log and --report, driven from outside as an engineer runs it on a
// bench: ptys as the controllers, signals to end it.
#include "raw_pty.h"

#include <QtTest>
#include <csignal>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>
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

// A signal sent to the process and not yet taken by any of its threads.
bool signalPending(pid_t pid, int signalNumber)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("SigPnd:") || line.startsWith("ShdPnd:")) {
            if ((line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signalNumber - 1)) & 1)
                return true;
        }
    }
    return false;
}

struct Program {
    QProcess process;

    // captureErrors: stderr is kept for errors() instead of passed on.
    void start(const QStringList& arguments, const QString& workingDirectory,
               bool captureErrors = false)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(workingDirectory);
        process.setProcessChannelMode(captureErrors ? QProcess::SeparateChannels
                                                    : QProcess::ForwardedErrorChannel);
        process.start(qEnvironmentVariable("LIGHTBENCH_PROGRAM"), arguments);
    }
    QString errors()
    {
        errorText += QString::fromLocal8Bit(process.readAllStandardError());
        return errorText;
    }
    QString errorText;

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
    void secondSignalLeavesTheReportOfTheEnd();
    void incompleteEvidenceEndsWithStatus3_data();
    void incompleteEvidenceEndsWithStatus3();
    void refusedLineLeavesEverythingAsItWas_data();
    void refusedLineLeavesEverythingAsItWas();
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
    QTest::newRow("SIGHUP") << SIGHUP; // the ssh session of an overnight run drops
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
    QVERIFY2(report[16].startsWith("16,,absent,0,0,0,0,0,0,,0,"), report[16].constData());
}

// Ctrl+C twice in a row: the program dies of the second, as asked, but the report on disk is the
// one of the moment it was asked to end, not the one from start-up.
void TestSessionProgram::secondSignalLeavesTheReportOfTheEnd()
{
    QTemporaryDir dir;
    RawPty pty;
    QVERIFY(openRawPty(pty));
    const auto closeMaster = qScopeGuard([&] { ::close(pty.master); });
    Program program;
    program.start({"--port", "2=" + pty.slavePath, "--log", "logs", "--report", "report.csv"},
                  dir.path());
    QVERIFY(program.process.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(portLog(dir.path()).contains(" -- opened "), 20000);
    QCOMPARE(::write(pty.master, "hello\r\n", 7), ssize_t(7));
    QTRY_VERIFY_WITH_TIMEOUT(portLog(dir.path()).contains(" RX hello\\r\\n\n"), 10000);

    // The second comes as soon as the first has been taken (two pending ones would be one), well
    // within the time the program takes to end.
    const auto pid = pid_t(program.process.processId());
    ::kill(pid, SIGINT);
    const QDeadlineTimer deadline(10000);
    while (signalPending(pid, SIGINT) && !deadline.hasExpired()) {
    }
    ::kill(pid, SIGINT);
    QVERIFY(program.process.waitForFinished(20000));
    const QList<QByteArray> report = contentsOf(dir.filePath("report.csv")).split('\n');
    QCOMPARE(report.size(), 18);
    QVERIFY2(report[2].startsWith("2," + pty.slavePath.toUtf8() + ",open,0,0,7,0,0,0,2"),
             report[2].constData());
}

struct Trouble {
    std::function<bool(const QString& dir)> make; // once the program has started
    QString said;                                 // on stderr
};
Q_DECLARE_METATYPE(Trouble)

void TestSessionProgram::incompleteEvidenceEndsWithStatus3_data()
{
    QTest::addColumn<Trouble>("trouble");
    // The disk fills up (a file-size limit, which the program inherits, plays it) and stays full
    // to the end: the lines lost in an outage still going on at exit.
    QTest::newRow("log lines lost")
        << Trouble{[](const QString&) {
                       rlimit limit{};
                       ::getrlimit(RLIMIT_FSIZE, &limit);
                       limit.rlim_cur = std::min<rlim_t>(4096, limit.rlim_max);
                       return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
                   },
                   QStringLiteral("port 1: %1 session log lines lost (")};
    // Something that cannot be replaced stands where the report's temporary file goes.
    QTest::newRow("last report unwritten")
        << Trouble{[](const QString& dir) { return QDir(dir).mkdir("report.csv.tmp"); },
                   QStringLiteral("the last run report could not be written")};
}

// Lost log lines are counted on stderr and in the report; a last report that could not be
// written leaves one that says when it was written. Either way the run ends with status 3.
void TestSessionProgram::incompleteEvidenceEndsWithStatus3()
{
    QFETCH(Trouble, trouble);
    const bool linesLost = QTest::currentDataTag() == QByteArray("log lines lost");
    QTemporaryDir dir;
    RawPty pty;
    QVERIFY(openRawPty(pty));
    const auto closeMaster = qScopeGuard([&] { ::close(pty.master); });
    Program program;
    if (linesLost) {
        std::signal(SIGXFSZ, SIG_IGN);
        QVERIFY(trouble.make(dir.path()));
    }
    program.start({"--port", "1=" + pty.slavePath, "--log", "logs", "--report", "report.csv"},
                  dir.path(), true);
    QVERIFY(program.process.waitForStarted());
    if (linesLost) {
        rlimit limit{};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = limit.rlim_max;
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &limit) == 0);
    }
    QTRY_VERIFY_WITH_TIMEOUT(portLog(dir.path()).contains(" -- opened "), 20000);
    const QByteArray startReport = contentsOf(dir.filePath("report.csv"));
    // written_at is the twelfth column, the same on every row.
    const QList<QByteArray> startRow = startReport.split('\n').value(1).split(',');
    const QByteArray startWrittenAt = startRow.value(11);
    if (!linesLost) {
        QVERIFY2(startWrittenAt.size() > 20, startReport.constData());
        QVERIFY(trouble.make(dir.path()));
    }
    const int lines = linesLost ? 200 : 1;
    for (int i = 0; i < lines; ++i) {
        const QByteArray line = QByteArray::number(i).rightJustified(40, '.') + "\r\n";
        QCOMPARE(::write(pty.master, line.constData(), size_t(line.size())), ssize_t(line.size()));
    }
    QTRY_VERIFY_WITH_TIMEOUT(!linesLost || program.errors().contains("session log of port 1"),
                             10000);
    QTRY_VERIFY_WITH_TIMEOUT(linesLost || portLog(dir.path()).contains("....0\\r\\n"), 10000);

    ::kill(pid_t(program.process.processId()), SIGTERM);
    QVERIFY(program.process.waitForFinished(20000));
    const QString errors = program.errors();
    QCOMPARE(program.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.process.exitCode(), 3);
    QVERIFY2(errors.contains("the evidence of this run is incomplete"), qPrintable(errors));
    const QList<QByteArray> report = contentsOf(dir.filePath("report.csv")).split('\n');
    QCOMPARE(report.size(), 18);
    if (linesLost) {
        const int written = int(portLog(dir.path()).count("RX "));
        const int lost = lines - written;
        QVERIFY(written > 0 && lost > 0);
        QVERIFY2(errors.contains(trouble.said.arg(lost)), qPrintable(errors));
        QVERIFY2(report[1].contains(",open,0,0," + QByteArray::number(lines * 42) + ",0,0,0,"),
                 report[1].constData());
        QVERIFY2(report[1].contains("," + QByteArray::number(lost) + ",2"), report[1].constData());
    } else {
        // The start-up report stays, and says when it was written: the same time on every row.
        QVERIFY2(errors.contains(trouble.said), qPrintable(errors));
        QCOMPARE(contentsOf(dir.filePath("report.csv")), startReport);
        for (int row = 1; row <= 16; ++row)
            QVERIFY2(report[row].split(',').value(11) == startWrittenAt, report[row].constData());
    }
}

void TestSessionProgram::refusedLineLeavesEverythingAsItWas_data()
{
    QTest::addColumn<QString>("report"); // made in the directory before the run
    QTest::addColumn<QString>("said");
    QTest::newRow("report in a missing directory") << "missing/r.csv"
                                                   << "does not exist";
    QTest::newRow("report is a pipe") << "fifo"
                                      << "not a regular file";
    QTest::newRow("report is a symbolic link") << "link"
                                               << "not a regular file";
}

// A refused command line ends with status 2 and creates nothing, replaces nothing.
void TestSessionProgram::refusedLineLeavesEverythingAsItWas()
{
    QFETCH(QString, report);
    QFETCH(QString, said);
    QTemporaryDir dir;
    QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath("fifo")).constData(), 0644), 0);
    QFile target(dir.filePath("target"));
    QVERIFY(target.open(QIODevice::WriteOnly) && target.write("kept\n") == 5);
    target.close();
    QVERIFY(QFile::link(dir.filePath("target"), dir.filePath("link")));
    const QStringList before =
        QDir(dir.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System);

    Program program;
    program.start({"--log", "a/b/c", "--report", report}, dir.path(), true);
    QVERIFY(program.process.waitForFinished(20000));
    const QString errors = program.errors();
    QCOMPARE(program.process.exitCode(), 2);
    QVERIFY2(errors.contains(said), qPrintable(errors));
    QCOMPARE(QDir(dir.path())
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System),
             before);
    QVERIFY(QFileInfo(dir.filePath("fifo")).isSymLink() == false &&
            QFileInfo(dir.filePath("link")).isSymLink());
    QCOMPARE(contentsOf(dir.filePath("target")), QByteArray("kept\n"));
}

QTEST_GUILESS_MAIN(TestSessionProgram)
#include "tst_window_session_program.moc"
