// The simulated controllers' lines with the test as their client: the lightbench-sim program
// run as a process (which controllers its faults act on) and, in this process where the test
// can wait for the port to notice a close, what a line keeps between clients and how much of
// the answers waits out a reply delay.
#include "simulator/simulated_port.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

const QByteArray kAllOff = "G:" + QByteArray(32, 'B') + "\r\n";

// The simulator with ARGUMENTS and its links in a private folder, ended on destruction.
struct Simulator {
    explicit Simulator(const QStringList& arguments)
    {
        process.start(
            qEnvironmentVariable("LIGHTBENCH_SIM_PROGRAM"),
            QStringList{QStringLiteral("--headless"), QStringLiteral("--link"), folder.path()} +
                arguments);
    }
    ~Simulator()
    {
        process.terminate();
        process.waitForFinished(5000);
    }
    QString link(int number) const { return folder.filePath(QStringLiteral("port%1").arg(number)); }

    QTemporaryDir folder;
    QProcess process;
};

// A client of one controller's line, as a serial program opens it.
struct Client {
    explicit Client(const QString& path)
        : fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC))
    {
        if (fd < 0)
            qWarning("open %s: %s", qPrintable(path), std::strerror(errno));
    }
    ~Client()
    {
        if (fd >= 0)
            ::close(fd);
    }
    bool send(const QByteArray& bytes) const
    {
        return ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }
    // Reads until `until` has arrived (or the deadline has passed) and returns all that came.
    QByteArray readUntil(const QByteArray& until, int timeoutMs = 5000) const
    {
        QByteArray got;
        QElapsedTimer clock;
        clock.start();
        while (!got.contains(until) && clock.elapsed() < timeoutMs) {
            QCoreApplication::processEvents(); // for the ports in this process
            pollfd ready{fd, POLLIN, 0};
            if (::poll(&ready, 1, 10) <= 0)
                continue;
            char buffer[4096];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            got.append(buffer, n);
        }
        return got;
    }

    qsizetype unread() const
    {
        int count = -1;
        return ::ioctl(fd, FIONREAD, &count) == 0 ? count : -1;
    }

    int fd;
};

// One controller of 32 channels in this process, as lightbench-sim runs it.
struct Line {
    explicit Line(int replyDelayMs) : port(1, SimulatedController::Options{}, {}, replyDelayMs)
    {
        if (!port.open())
            qWarning("simulated port: %s", qPrintable(port.error()));
    }
    SimulatedPort port;
};

} // namespace

class TestSimLines : public QObject {
    Q_OBJECT
private slots:
    void faultsActOnTheFaultyControllersOnly();
    void theNextClientFindsNothingOfTheLast();
    void answersWaitingOutTheDelayAreBounded();
};

void TestSimLines::faultsActOnTheFaultyControllersOnly()
{
    Simulator simulator({QStringLiteral("--controllers"), QStringLiteral("3"),
                         QStringLiteral("--drop"), QStringLiteral("100"),
                         QStringLiteral("--reply-delay"), QStringLiteral("60000"),
                         QStringLiteral("--vanish"), QStringLiteral("0.5"),
                         QStringLiteral("--faulty"), QStringLiteral("2-3")});
    QByteArray printed; // the controllers' lines
    QTRY_VERIFY_WITH_TIMEOUT(
        (printed += simulator.process.readAllStandardOutput()).count('\n') == 3, 10000);
    // Controller 1 neither drops nor delays.
    {
        const Client client(simulator.link(1));
        QVERIFY(client.send(":::G"));
        QCOMPARE(client.readUntil(kAllOff), kAllOff);
    }
    // 2 and 3 go (2 after 1, 3 after 2, in one pass), and 1 stays and still answers.
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo(simulator.link(3)).isSymLink(), 10000);
    QVERIFY(!QFileInfo(simulator.link(2)).isSymLink());
    QVERIFY(QFileInfo(simulator.link(1)).isSymLink());
    const Client client(simulator.link(1));
    QVERIFY(client.send(":::ZAVB5.:::G"));
    const QByteArray five = "G:BBBBBA" + QByteArray(26, 'B') + "\r\n";
    QCOMPARE(client.readUntil(five), five);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(simulator.link(3)).isSymLink(), 10000);
}

void TestSimLines::theNextClientFindsNothingOfTheLast()
{
    const QByteArray five = "G:BBBBBA" + QByteArray(26, 'B') + "\r\n";
    // Left unread at the close.
    {
        Line line(0);
        {
            const Client first(line.port.devicePath());
            QVERIFY(first.send(":::G"));
            QTRY_COMPARE_WITH_TIMEOUT(first.unread(), 36, 5000);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!line.port.hasClient(), 5000);
        const Client next(line.port.devicePath());
        QVERIFY(next.send(":::ZAVB5.:::G"));
        QCOMPARE(next.readUntil(five), five);
    }
    // Due while nobody had the line open.
    Line line(200);
    {
        const Client first(line.port.devicePath());
        QVERIFY(first.send(":::G"));
        QTRY_COMPARE_WITH_TIMEOUT(line.port.controller().accepted(), 1, 5000);
    }
    QTRY_COMPARE_WITH_TIMEOUT(line.port.lostReplyBytes(), 36, 5000);
    const Client next(line.port.devicePath());
    QVERIFY(next.send(":::ZAVB5.:::G"));
    QCOMPARE(next.readUntil(five), five);
}

void TestSimLines::answersWaitingOutTheDelayAreBounded()
{
    // 3000 status answers of 36 bytes: 1820 of them fit into 64 KiB, the rest are lost whole.
    Line line(60000);
    const Client client(line.port.devicePath());
    QTRY_VERIFY_WITH_TIMEOUT(line.port.hasClient(), 5000);
    for (int sent = 100; sent <= 3000; sent += 100) {
        QVERIFY(client.send(QByteArray(":::G").repeated(100)));
        QTRY_COMPARE_WITH_TIMEOUT(line.port.controller().accepted(), sent, 5000);
    }
    QCOMPARE(line.port.delayedBytes(), 1820 * 36);
    QCOMPARE(line.port.lostReplyBytes(), 1180 * 36);
}

QTEST_GUILESS_MAIN(TestSimLines)
#include "tst_sim_lines.moc"
