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
}

// The port is released (its lock file goes), the program ends normally and the report is
// written, where the default action would have killed it with the lock file left behind.
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
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(lockFileOf(pty.slavePath)), 20000);
    QFile::remove(dir.filePath("report.csv"));

    ::kill(pid_t(program.process.processId()), signalNumber);
    QVERIFY(program.process.waitForFinished(20000));
    QCOMPARE(program.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.process.exitCode(), 0);
    QVERIFY(!QFile::exists(lockFileOf(pty.slavePath)));
    const QList<QByteArray> report = contentsOf(dir.filePath("report.csv")).split('\n');
    QCOMPARE(report.size(), 18);
    QVERIFY(report[1].startsWith("1," + pty.slavePath.toUtf8() + ","));
}

QTEST_GUILESS_MAIN(TestSessionProgram)
#include "tst_window_session_program.moc"
