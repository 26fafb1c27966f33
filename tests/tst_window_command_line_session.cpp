// The session log's and the run report's options on the command line.
#include "main_window/command_line.h"

#include <QtTest>

class TestCommandLineSession : public QObject {
    Q_OBJECT
private slots:
    void accepted_data();
    void accepted();
    void refused_data();
    void refused();
};

void TestCommandLineSession::accepted_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("log");
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<QString>("report");
    const qint64 hundredM = 104857600;
    QTest::newRow("none") << QStringList{} << "" << hundredM << "";
    QTest::newRow("all, with ports")
        << QStringList{"--port", "1=/dev/a", "--log", "logs",           "--log-limit",
                       "2G",     "--report", "r.csv", "--port=2=/dev/b"}
        << "logs" << qint64(2147483648) << "r.csv";
    QTest::newRow("joined forms") << QStringList{"--report=r.csv", "--log-limit=1K", "--log=d"}
                                  << "d" << qint64(1024) << "r.csv";
    QTest::newRow("joined value like an option")
        << QStringList{"--log=--help"} << "--help" << hundredM << "";
}

void TestCommandLineSession::accepted()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, log);
    QFETCH(qint64, limit);
    QFETCH(QString, report);
    const CommandLine line = CommandLine::parse(arguments);
    QVERIFY2(line.action == CommandLine::Action::Run, qPrintable(line.error));
    QCOMPARE(line.logDirectory, log);
    QCOMPARE(qint64(line.logLimit), limit);
    QCOMPARE(line.reportFile, report);
}

void TestCommandLineSession::refused_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("mentions");
    QTest::newRow("log without value") << QStringList{"--log"} << "--log needs a value";
    QTest::newRow("option as value") << QStringList{"--report", "-h"} << "--report needs a value";
    QTest::newRow("empty joined log") << QStringList{"--log="} << "needs a directory";
    QTest::newRow("log twice") << QStringList{"--log", "a", "--log", "b"} << "twice";
    QTest::newRow("report twice") << QStringList{"--report=a", "--report=b"} << "twice";
    QTest::newRow("bad size") << QStringList{"--log", "d", "--log-limit", "10MB"} << "'10MB'";
    QTest::newRow("size below 1K")
        << QStringList{"--log", "d", "--log-limit", "1023"} << "below 1K";
    QTest::newRow("limit twice") << QStringList{"--log", "d",           "--log-limit",
                                                "1M",    "--log-limit", "2M"}
                                 << "twice";
    QTest::newRow("limit without log") << QStringList{"--log-limit", "1M"} << "without --log";
    QTest::newRow("prefix is not the option") << QStringList{"--logs", "d"} << "'--logs'";
}

void TestCommandLineSession::refused()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, mentions);
    const CommandLine line = CommandLine::parse(arguments);
    QCOMPARE(line.action, CommandLine::Action::Refuse);
    QVERIFY2(line.error.contains(mentions), qPrintable(line.error));
}

QTEST_GUILESS_MAIN(TestCommandLineSession)
#include "tst_window_command_line_session.moc"
