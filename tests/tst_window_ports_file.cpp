// Network ports on the command line and the --ports file: the address forms, every kind of bad
// line with its file and line number, and --port overriding the file.
#include "main_window/command_line.h"
#include "main_window/ports_file.h"
#include "port_bank/lines/network_address.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& content)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return {};
    return path;
}

QStringList bindingsOf(const QMap<int, QString>& ports)
{
    QStringList seen;
    for (auto it = ports.cbegin(); it != ports.cend(); ++it)
        seen.append(QStringLiteral("%1=%2").arg(it.key()).arg(it.value()));
    return seen;
}

} // namespace

class TestPortsFile : public QObject {
    Q_OBJECT
private slots:
    void addressesAccepted_data();
    void addressesAccepted();
    void addressesRefused_data();
    void addressesRefused();
    void goodFile();
    void badLines_data();
    void badLines();
    void unusableFiles();
    void portOverridesFile();
};

void TestPortsFile::addressesAccepted_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<bool>("rfc2217");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::newRow("rfc2217 name") << "rfc2217://bench-a.lab:4001" << true << "bench-a.lab" << 4001;
    QTest::newRow("tcp ipv4") << "tcp://192.168.1.20:2001" << false << "192.168.1.20" << 2001;
    QTest::newRow("ipv6") << "rfc2217://[2001:db8::7]:4001" << true << "2001:db8::7" << 4001;
    QTest::newRow("ipv6 loopback") << "tcp://[::1]:65535" << false << "::1" << 65535;
    QTest::newRow("scheme in capitals") << "RFC2217://host:1" << true << "host" << 1;
}

void TestPortsFile::addressesAccepted()
{
    QFETCH(QString, device);
    QFETCH(bool, rfc2217);
    QFETCH(QString, host);
    QFETCH(int, port);
    const std::optional<NetworkAddress> address = NetworkAddress::parse(device);
    QVERIFY(address);
    QCOMPARE(address->protocol == NetworkAddress::Protocol::Rfc2217, rfc2217);
    QCOMPARE(address->host, host);
    QCOMPARE(int(address->port), port);
    const CommandLine line = CommandLine::parse({"--port", "7=" + device});
    QCOMPARE(line.action, CommandLine::Action::Run);
    QCOMPARE(line.ports.value(7), device);
}

void TestPortsFile::addressesRefused_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("mentions");
    QTest::newRow("no port") << "tcp://host"
                             << "no :PORT";
    QTest::newRow("empty port") << "tcp://host:"
                                << "not 1 to 65535";
    QTest::newRow("port 0") << "tcp://host:0"
                            << "not 1 to 65535";
    QTest::newRow("port 65536") << "rfc2217://host:65536"
                                << "not 1 to 65535";
    QTest::newRow("port with letters") << "tcp://host:40a1"
                                       << "not 1 to 65535";
    QTest::newRow("signed port") << "tcp://host:+401"
                                 << "not 1 to 65535";
    QTest::newRow("path after port") << "tcp://host:4001/x"
                                     << "not 1 to 65535";
    QTest::newRow("no host") << "tcp://:4001"
                             << "names no host";
    QTest::newRow("bare ipv6") << "tcp://2001:db8::1:4001"
                               << "brackets";
    QTest::newRow("open bracket") << "tcp://[::1:4001"
                                  << "without ']'";
    QTest::newRow("not ipv6 in brackets") << "tcp://[bench]:4001"
                                          << "not an IPv6";
    QTest::newRow("ipv4 in brackets") << "tcp://[10.0.0.1]:4001"
                                      << "not an IPv6";
    // Qt's own address parser forgives blanks and stops at a NUL; the host goes to the
    // connection as it stands, so only an address and nothing around it is taken.
    QTest::newRow("blanks around ipv6") << "tcp://[ ::1 ]:4001"
                                        << "not an IPv6";
    QTest::newRow("line break in ipv6") << "tcp://[::1\n]:4001"
                                        << "not an IPv6";
    QTest::newRow("ipv6 with scope") << "tcp://[fe80::1%eth0]:4001"
                                     << "not an IPv6";
    QTest::newRow("words after ipv6") << "tcp://[::1 bench]:4001"
                                      << "not an IPv6";
    QTest::newRow("nothing after bracket") << "tcp://[::1]4001"
                                           << "no :PORT";
    QTest::newRow("blank in host") << "tcp://bench a:4001"
                                   << "not a host name";
    QTest::newRow("unknown scheme") << "telnet://host:23"
                                    << "unknown scheme 'telnet://'";
    QTest::newRow("empty scheme") << "://host:23"
                                  << "unknown scheme";
}

void TestPortsFile::addressesRefused()
{
    QFETCH(QString, device);
    QFETCH(QString, mentions);
    QString why;
    QVERIFY(!NetworkAddress::parse(device, &why));
    QVERIFY2(why.contains(mentions), qPrintable(why));
    const CommandLine line = CommandLine::parse({"--port", "3=" + device});
    QCOMPARE(line.action, CommandLine::Action::Refuse);
    QVERIFY2(line.error.contains(mentions), qPrintable(line.error));
    QVERIFY(!line.errorInPortsFile);
}

void TestPortsFile::goodFile()
{
    const QByteArray content = "# bench A: the rack by the window\n"
                               "\n"
                               "1=/dev/ttyUSB0\n"
                               "  2 = rfc2217://bench-a:4001  \r\n"
                               "\t# port 3 is out for repair\n"
                               "16=tcp://[::1]:4016\n"
                               "4=/dev/serial/by-id/usb-FTDI_a=b\n"
                               "   \n";
    const PortsFile file = PortsFile::parse("a.ports", content);
    QCOMPARE(file.error, QString());
    QCOMPARE(bindingsOf(file.ports),
             (QStringList{"1=/dev/ttyUSB0", "2=rfc2217://bench-a:4001",
                          "4=/dev/serial/by-id/usb-FTDI_a=b", "16=tcp://[::1]:4016"}));
    QVERIFY(PortsFile::parse("empty", "").ports.isEmpty());
    QVERIFY(PortsFile::parse("empty", "").error.isEmpty());
    QVERIFY(PortsFile::parse("no final newline", "5=/dev/ttyS0").ports.contains(5));
}

void TestPortsFile::badLines_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("error"); // exactly as printed
    const QByteArray ok = "# ok\n1=/dev/ttyUSB0\n";
    QTest::newRow("no equals") << ok + "/dev/ttyUSB1\n"
                               << "b.ports:3: expected N=DEVICE, for example 1=/dev/ttyUSB0";
    QTest::newRow("port 17") << ok + "17=/dev/x\n"
                             << "b.ports:3: port number '17' is not 1 to 16";
    QTest::newRow("port 0") << QByteArray("0=/dev/x\n")
                            << "b.ports:1: port number '0' is not 1 to 16";
    QTest::newRow("no number") << ok + "=/dev/x\n"
                               << "b.ports:3: port number '' is not 1 to 16";
    QTest::newRow("word") << ok + "one=/dev/x\n"
                          << "b.ports:3: port number 'one' is not 1 to 16";
    QTest::newRow("no device") << ok + "\n\n2=  \n"
                               << "b.ports:5: port 2 names no device";
    QTest::newRow("twice") << ok + "\n1=/dev/ttyUSB1\n"
                           << "b.ports:4: port 1 is given twice (first on line 2)";
    QTest::newRow("bad address") << ok + "2=tcp://bench:70000\n"
                                 << "b.ports:3: 'tcp://bench:70000': port '70000' is not 1 to "
                                    "65535";
    QTest::newRow("unknown scheme") << ok + "2=udp://bench:4001\n"
                                    << "b.ports:3: unknown scheme 'udp://' (rfc2217:// or tcp://)";
    QTest::newRow("nul") << ok + QByteArray("2=/dev/a\0b\n", 11)
                         << "b.ports:3: the device of port 2 contains a NUL character";
    QTest::newRow("not utf-8") << ok + "2=/dev/\xff\xfe\n"
                               << "b.ports:3: not UTF-8 text";
}

void TestPortsFile::badLines()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, error);
    const PortsFile file = PortsFile::parse("b.ports", content);
    QCOMPARE(file.error, error);
    QVERIFY(file.ports.isEmpty());

    // Through the command line: refused, and the message stands as it is.
    QTemporaryDir dir;
    const QString path = writeFile(dir, "b.ports", content);
    const CommandLine line = CommandLine::parse({"--port", "9=/dev/ttyS1", "--ports", path});
    QCOMPARE(line.action, CommandLine::Action::Refuse);
    QVERIFY(line.errorInPortsFile);
    QCOMPARE(line.error, QString(error).replace("b.ports", path));
}

void TestPortsFile::unusableFiles()
{
    QTemporaryDir dir;
    const QString missing = dir.filePath("missing.ports");
    CommandLine line = CommandLine::parse({"--ports", missing});
    QCOMPARE(line.action, CommandLine::Action::Refuse);
    QVERIFY2(line.error.startsWith(missing + ": cannot read: "), qPrintable(line.error));
    // A refused line binds nothing, not even what --port gave.
    line = CommandLine::parse({"--port", "16=/dev/ttyUSB0", "--ports", missing});
    QCOMPARE(line.action, CommandLine::Action::Refuse);
    QVERIFY(line.ports.isEmpty());

    line = CommandLine::parse({"--ports", dir.path()});
    QCOMPARE(line.action, CommandLine::Action::Refuse);
    QVERIFY2(line.error.startsWith(dir.path() + ": cannot read"), qPrintable(line.error));

    const QString huge = writeFile(dir, "huge", QByteArray(PortsFile::kSizeLimit + 1, '#'));
    line = CommandLine::parse({"--ports", huge});
    QCOMPARE(line.action, CommandLine::Action::Refuse);
    QVERIFY2(line.error.contains("larger than"), qPrintable(line.error));

    const QString good = writeFile(dir, "good", "1=/dev/ttyS0\n");
    QCOMPARE(CommandLine::parse({"--ports", good, "--ports", good}).error,
             QString("--ports is given twice"));
    QCOMPARE(CommandLine::parse({"--ports"}).action, CommandLine::Action::Refuse);
    QCOMPARE(CommandLine::parse({"--ports="}).action, CommandLine::Action::Refuse);
    // An option after --ports is a slip, not a file name: help must not be swallowed as one.
    line = CommandLine::parse({"--ports", "-h", "--version"});
    QCOMPARE(line.action, CommandLine::Action::Refuse);
    QCOMPARE(line.error, QString("--ports needs FILE after it"));
    // Help needs no file, even a missing one.
    QCOMPARE(CommandLine::parse({"--ports", missing, "--help"}).action,
             CommandLine::Action::ShowHelp);
}

void TestPortsFile::portOverridesFile()
{
    QTemporaryDir dir;
    const QString path =
        writeFile(dir, "bench.ports", "1=/dev/ttyUSB0\n2=rfc2217://bench-a:4002\n3=/dev/ttyS2\n");
    // --port wins for its number, before or after --ports; the other numbers come from the file.
    const QStringList expected{"1=/dev/ttyUSB0", "2=tcp://other:5002", "3=/dev/ttyS2",
                               "12=/dev/ttyACM0"};
    for (const QStringList& arguments :
         {QStringList{"--port", "2=tcp://other:5002", "--ports", path, "--port=12=/dev/ttyACM0"},
          QStringList{"--ports=" + path, "--port=2=tcp://other:5002", "--port",
                      "12=/dev/ttyACM0"}}) {
        const CommandLine line = CommandLine::parse(arguments);
        QCOMPARE(line.action, CommandLine::Action::Run);
        QCOMPARE(bindingsOf(line.ports), expected);
        QCOMPARE(line.portsFile, path);
    }
    // A file with no line in it still means an explicit mapping: no port names a device.
    const QString empty = writeFile(dir, "empty.ports", "# nothing here yet\n");
    const CommandLine line = CommandLine::parse({"--ports", empty});
    QCOMPARE(line.action, CommandLine::Action::Run);
    QVERIFY(line.ports.isEmpty());
    QCOMPARE(line.portsFile, empty);
}

QTEST_GUILESS_MAIN(TestPortsFile)
#include "tst_window_ports_file.moc"
