// The command line: --port bindings, help and version, and clear refusals for anything else.
#include "main_window/command_line.h"

#include <QtTest>

class TestCommandLine : public QObject {
    Q_OBJECT
private slots:
    void accepted_data();
    void accepted();
    void refused_data();
    void refused();
};

void TestCommandLine::accepted_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("action");
    QTest::addColumn<QStringList>("bindings"); // "N=DEVICE", in port order
    const int run = int(CommandLine::Action::Run);
    QTest::newRow("none") << QStringList{} << run << QStringList{};
    QTest::newRow("one port") << QStringList{"--port", "1=/dev/ttyUSB0"} << run
                              << QStringList{"1=/dev/ttyUSB0"};
    QTest::newRow("joined form and order")
        << QStringList{"--port=16=/dev/ttyACM0", "--port", "4=/dev/pts/3"} << run
        << QStringList{"4=/dev/pts/3", "16=/dev/ttyACM0"};
    QTest::newRow("device with =")
        << QStringList{"--port", "2=/tmp/a=b"} << run << QStringList{"2=/tmp/a=b"};
    QTest::newRow("help") << QStringList{"--help"} << int(CommandLine::Action::ShowHelp)
                          << QStringList{};
    QTest::newRow("help wins over version")
        << QStringList{"--version", "-h"} << int(CommandLine::Action::ShowHelp) << QStringList{};
    QTest::newRow("version") << QStringList{"--version"} << int(CommandLine::Action::ShowVersion)
                             << QStringList{};
}

void TestCommandLine::accepted()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, action);
    QFETCH(QStringList, bindings);
    const CommandLine line = CommandLine::parse(arguments);
    QCOMPARE(int(line.action), action);
    QStringList seen;
    for (auto it = line.ports.cbegin(); it != line.ports.cend(); ++it)
        seen.append(QStringLiteral("%1=%2").arg(it.key()).arg(it.value()));
    QCOMPARE(seen, bindings);
}

void TestCommandLine::refused_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("mentions");
    QTest::newRow("unknown") << QStringList{"--baud"} << "--baud";
    QTest::newRow("port without value") << QStringList{"--port"} << "N=DEVICE";
    QTest::newRow("port 0") << QStringList{"--port", "0=/dev/x"} << "'0'";
    QTest::newRow("port 17") << QStringList{"--port", "17=/dev/x"} << "'17'";
    QTest::newRow("port not a number") << QStringList{"--port", "a=/dev/x"} << "'a'";
    QTest::newRow("port with sign") << QStringList{"--port", "+1=/dev/x"} << "'+1'";
    QTest::newRow("huge port") << QStringList{"--port", "99999999999999999999=/dev/x"} << "not 1";
    QTest::newRow("no device") << QStringList{"--port", "3="} << "no device";
    QTest::newRow("no equals") << QStringList{"--port", "/dev/ttyUSB0"} << "N=DEVICE";
    QTest::newRow("twice") << QStringList{"--port", "1=/a", "--port", "1=/b"} << "twice";
    QTest::newRow("stray word") << QStringList{"ttyUSB0"} << "ttyUSB0";
}

void TestCommandLine::refused()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, mentions);
    const CommandLine line = CommandLine::parse(arguments);
    QCOMPARE(line.action, CommandLine::Action::Refuse);
    QVERIFY2(line.error.contains(mentions), qPrintable(line.error));
    QVERIFY(line.ports.isEmpty());
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_window_command_line.moc"
