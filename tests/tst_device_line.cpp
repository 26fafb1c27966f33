// The line to a device of this machine, driven through the serial-port object against real
// pseudo-terminals: opening and the ways a device can be in use, bytes out and in, line
// settings on the driver, a device that goes away, output that waits for the line, and a close
// that drops it. What the port keeps of its own (the output bound, reads that join a character
// cut between them) is in tst_serial_port.
#include "port_bank/port_directory.h"
#include "port_bank/port_errors.h"
#include "port_bank/serial_port.h"
#include "pty_peer.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cerrno>
#include <ctime>
#include <dlfcn.h>
#include <fcntl.h>
#include <malloc.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

// What the code under test asks of a line's driver. A pty keeps neither parity enable nor the
// character size it is given, so those are seen here, on their way to the driver (Qt sets one
// field at a time, each time on what it read back), while the rest is read back from the line.
namespace {
struct LineRequests {
    int count = 0;
    bool parityEnabled = false; // in any request
    bool otherThan8Bits = false;
};
LineRequests lineRequests;
} // namespace

extern "C" int tcsetattr(int fd, int action, const termios* settings)
{
    using Real = int (*)(int, int, const termios*);
    static const Real real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "tcsetattr"));
    if (settings) {
        ++lineRequests.count;
        lineRequests.parityEnabled |= (settings->c_cflag & PARENB) != 0;
        lineRequests.otherThan8Bits |= (settings->c_cflag & CSIZE) != CS8;
    }
    return real(fd, action, settings);
}

namespace {

class DeviceMap : public PortDirectory {
public:
    QString deviceFor(int portNumber) override { return devices.value(portNumber); }
    QMap<int, QString> devices;
};

bool setLineSpeed(const QString& path, speed_t speed)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    termios tio;
    const bool ok = ::tcgetattr(fd, &tio) == 0 && ::cfsetspeed(&tio, speed) == 0 &&
                    ::tcsetattr(fd, TCSANOW, &tio) == 0;
    ::close(fd);
    return ok;
}

// Whether another program could take the flock that tio and picocom take.
bool othersCanFlock(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return locked;
}

long firstNumberIn(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    return QString::fromLatin1(file.read(64)).simplified().section(u' ', 0, 0).toLong();
}

// Lock files in /var/lock that name this process: what minicom and Qt programs see of us.
QStringList ourLockFiles()
{
    QStringList ours;
    const QDir lockDir(QStringLiteral("/var/lock"));
    const QStringList names = lockDir.entryList({QStringLiteral("LCK..*")}, QDir::Files);
    for (const QString& name : names) {
        if (firstNumberIn(lockDir.filePath(name)) == ::getpid())
            ours.append(name);
    }
    return ours;
}

bool writeLockFile(const QString& path, long pid)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return false;
    const QByteArray text = QByteArray::number(qlonglong(pid)).rightJustified(10, ' ') + '\n';
    return file.write(text) == text.size();
}

// The PID of a process that has come and gone.
long deadPid()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    if (child < 0 || ::waitpid(child, nullptr, 0) != child)
        return -1;
    return child;
}

double cpuSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

} // namespace

class TestDeviceLine : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void openedPortIsInUseEverywhere();
    void missingDevices_data();
    void missingDevices();
    void heldByAnotherProgram_data();
    void heldByAnotherProgram();
    void lockFilesOfOthers_data();
    void lockFilesOfOthers();
    void lockFileOfAnotherUsersLiveProcess();

    void outputArrivesByteExact_data();
    void outputArrivesByteExact();
    void inputReturnsEverythingPending();
    void manySmallRepliesBetweenTwoReadsHoldLittleMemory();

    void settingsReachTheLine_data();
    void settingsReachTheLine();
    void refusedSettingsKeepThePrevious();

    void lostDeviceClosesAndComesBack();
    void aRetiredPortDropsWhatWaitsAndFreesTheDevice();

private:
    std::unique_ptr<PtyPeer> peer;
    DeviceMap directory;
};

void TestDeviceLine::init()
{
    peer = std::make_unique<PtyPeer>();
    QVERIFY(peer->isValid());
    directory.devices = {{1, peer->linkPath()}};
}

void TestDeviceLine::cleanup()
{
    peer.reset();
    // Whatever a test did, no lock of ours may outlive the port objects.
    QCOMPARE(ourLockFiles(), QStringList());
}

void TestDeviceLine::openedPortIsInUseEverywhere()
{
    SerialPort port(directory);
    QCOMPARE(port.open(), PortError::None);
    QVERIFY(port.isOpen());
    QCOMPARE(port.devicePath(), peer->linkPath());

    // Another port object, by the device's own path and by the link: both see it in use.
    DeviceMap sameDevice;
    sameDevice.devices = {{1, peer->slavePath()}, {2, peer->linkPath()}};
    SerialPort other(sameDevice);
    QCOMPARE(other.open(), PortError::AlreadyOpen);
    QCOMPARE(other.setCommPort(2), PortError::None);
    QCOMPARE(other.open(), PortError::AlreadyOpen);
    QVERIFY(!other.isOpen());

    // Other programs see it in use too: the flock is taken, and there is a lock file.
    QVERIFY(!othersCanFlock(peer->slavePath()));
    QCOMPARE(ourLockFiles().size(), 1);

    port.close();
    QVERIFY(!port.isOpen());
    QVERIFY(othersCanFlock(peer->slavePath()));
    QCOMPARE(ourLockFiles(), QStringList());
    QCOMPARE(other.open(), PortError::None);
}

void TestDeviceLine::missingDevices_data()
{
    QTest::addColumn<int>("portNumber");
    QTest::newRow("device path missing") << 2;
    QTest::newRow("dangling link") << 3;
}

void TestDeviceLine::missingDevices()
{
    QFETCH(int, portNumber);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString dangling = folder.filePath(QStringLiteral("ttyGONE"));
    QVERIFY(QFile::link(folder.filePath(QStringLiteral("nothing")), dangling));
    directory.devices[2] = QStringLiteral("/dev/ttyLIGHTBENCH-none");
    directory.devices[3] = dangling;

    SerialPort port(directory);
    QCOMPARE(port.setCommPort(portNumber), PortError::None);
    QCOMPARE(port.open(), PortError::NoSuchPort);
    QVERIFY(!port.isOpen());
}

void TestDeviceLine::heldByAnotherProgram_data()
{
    QTest::addColumn<ForeignHolder::Hold>("hold");
    QTest::newRow("flock, as tio and picocom") << ForeignHolder::Hold::Flock;
    QTest::newRow("lock file, as minicom") << ForeignHolder::Hold::LockFile;
}

void TestDeviceLine::heldByAnotherProgram()
{
    QFETCH(ForeignHolder::Hold, hold);

    // The other program runs its line at 1200 baud; our attempt must not change that.
    QVERIFY(setLineSpeed(peer->slavePath(), B1200));
    ForeignHolder holder(peer->slavePath(), hold);
    QVERIFY(holder.isHolding());

    SerialPort port(directory);
    QCOMPARE(port.open(), PortError::AlreadyOpen);
    QVERIFY(!port.isOpen());
    QCOMPARE(port.open(), PortError::AlreadyOpen);
    const std::optional<termios> line = peer->slaveSettings();
    QVERIFY(line.has_value());
    QCOMPARE(cfgetospeed(&*line), speed_t(B1200));

    holder.release();
    QCOMPARE(port.open(), PortError::None);
    QVERIFY(port.isOpen());
}

void TestDeviceLine::lockFilesOfOthers_data()
{
    QTest::addColumn<bool>("qtName");
    QTest::addColumn<bool>("ownerAlive");

    // minicom names the file after the device's base name, Qt after its path below /dev.
    QTest::newRow("minicom name, live owner") << false << true;
    QTest::newRow("Qt name, live owner") << true << true;
    QTest::newRow("minicom name, dead owner") << false << false;
    QTest::newRow("Qt name, dead owner") << true << false;
}

void TestDeviceLine::lockFilesOfOthers()
{
    QFETCH(bool, qtName);
    QFETCH(bool, ownerAlive);

    const QString device = peer->slavePath(); // /dev/pts/N
    const QString name = qtName ? device.mid(5).replace(u'/', u'_') : device.section(u'/', -1);
    const QString lockFile = QStringLiteral("/var/lock/LCK..") + name;
    const long owner = ownerAlive ? long(::getppid()) : deadPid();
    QVERIFY(owner > 1);
    QVERIFY2(writeLockFile(lockFile, owner), qPrintable(lockFile));
    const auto removeLockFile = qScopeGuard([&] { QFile::remove(lockFile); });

    SerialPort port(directory);
    if (ownerAlive) {
        QCOMPARE(port.open(), PortError::AlreadyOpen);
        // Still there, and still the owner's: it was neither stolen nor replaced.
        QCOMPARE(firstNumberIn(lockFile), owner);
    } else {
        QCOMPARE(port.open(), PortError::None);
        QVERIFY(firstNumberIn(lockFile) != owner);
        port.close();
        QVERIFY(!QFile::exists(lockFile));
    }
}

void TestDeviceLine::lockFileOfAnotherUsersLiveProcess()
{
    // A lock file whose owner runs as another user: kill() cannot signal it (EPERM), yet it is
    // alive and its lock stands. Root may signal anyone, so the test looks as a third user.
    if (::geteuid() != 0)
        QSKIP("needs root, to run the lock's owner as one user and look at it as another");
    constexpr uid_t kOwner = 65534; // nobody
    constexpr uid_t kOurs = 65533;

    int ready[2];
    QVERIFY(::pipe2(ready, O_CLOEXEC) == 0);
    const pid_t owner = ::fork();
    QVERIFY(owner >= 0);
    if (owner == 0) {
        if (::setgid(kOwner) != 0 || ::setuid(kOwner) != 0 || ::write(ready[1], "u", 1) != 1)
            ::_exit(1);
        for (;;)
            ::pause();
    }
    ::close(ready[1]);
    const auto stopOwner = qScopeGuard([&] {
        ::kill(owner, SIGKILL);
        ::waitpid(owner, nullptr, 0);
    });
    char dropped = 0;
    QVERIFY2(::read(ready[0], &dropped, 1) == 1, "the lock's owner could not change user");
    ::close(ready[0]);

    const QString device = peer->slavePath();
    const QString lockFile = QStringLiteral("/var/lock/LCK..") + device.section(u'/', -1);
    QVERIFY2(writeLockFile(lockFile, owner), qPrintable(lockFile));
    const auto removeLockFile = qScopeGuard([&] { QFile::remove(lockFile); });
    // Ours to remove and the device ours to open, were the lock taken for stale.
    QVERIFY(::chown(QFile::encodeName(lockFile).constData(), kOurs, kOurs) == 0);
    QVERIFY(::chmod(QFile::encodeName(device).constData(), 0666) == 0);

    DeviceMap byDevice;
    byDevice.devices = {{1, device}};
    SerialPort port(byDevice);
    std::int32_t result = -1;
    int signalError = 0;
    {
        QVERIFY(::seteuid(kOurs) == 0);
        const auto back = qScopeGuard([] {
            if (::seteuid(0) != 0)
                qFatal("cannot become root again");
        });
        signalError = ::kill(owner, 0) == 0 ? 0 : errno;
        result = port.open();
    }
    QCOMPARE(signalError, EPERM);
    QCOMPARE(result, PortError::AlreadyOpen);
    QVERIFY(!port.isOpen());
    QCOMPARE(firstNumberIn(lockFile), long(owner));
}

void TestDeviceLine::outputArrivesByteExact_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("command") << ":::ZAVB5." << QByteArray(":::ZAVB5.");
    QTest::newRow("line ends kept as given") << "A\r\nB" << QByteArray("A\r\nB");
    QTest::newRow("two-byte characters")
        << QString::fromUtf8("灯光") << QByteArray::fromHex("b5c6b9e2");
    QTest::newRow("mixed") << QString::fromUtf8("串口1") << QByteArray::fromHex("b4aebfda31");
    QTest::newRow("four-byte character")
        << QString::fromUtf8("😀") << QByteArray::fromHex("9439fc36");
}

void TestDeviceLine::outputArrivesByteExact()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);

    SerialPort port(directory);
    QCOMPARE(port.open(), PortError::None);
    QCOMPARE(port.output(text), PortError::None);
    QCOMPARE(peer->readExactly(bytes.size()), bytes);
    // Nothing added after it.
    QCOMPARE(peer->readAvailable(100), QByteArray());
}

void TestDeviceLine::inputReturnsEverythingPending()
{
    SerialPort port(directory);
    QCOMPARE(port.open(), PortError::None);
    QString received;
    QCOMPARE(port.input(received), PortError::None);
    QCOMPARE(received, QString());

    QByteArray sent;
    for (int i = 0; i < 5000; ++i)
        sent.append(char('a' + i % 26));
    // The first part is taken from the driver by the event loop, the rest still waits in the
    // driver when the read comes: one read returns both.
    QVERIFY(peer->write(sent.left(3000)));
    QVERIFY(peer->waitUntilUnreadAtSlave(3000));
    QVERIFY(QTest::qWaitFor([&] { return peer->unreadAtSlave() == 0; }, 10000));
    QVERIFY(peer->write(sent.mid(3000)));
    QVERIFY(peer->waitUntilUnreadAtSlave(2000));
    QCOMPARE(port.input(received), PortError::None);
    QCOMPARE(received.size(), sent.size());
    QCOMPARE(received, QString::fromLatin1(sent));

    QCOMPARE(port.input(received), PortError::None);
    QCOMPARE(received, QString());

    // What the driver holds counts too, though no event has let Qt read it yet.
    QVERIFY(peer->write("late"));
    QVERIFY(peer->waitUntilUnreadAtSlave(4));
    QCOMPARE(port.input(received), PortError::None);
    QCOMPARE(received, QStringLiteral("late"));
    QVERIFY(port.isOpen());
}

void TestDeviceLine::manySmallRepliesBetweenTwoReadsHoldLittleMemory()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("the sanitizer's allocator keeps its own books");
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    QSKIP("the sanitizer's allocator keeps its own books");
#endif
#endif
    SerialPort port(directory);
    QCOMPARE(port.open(), PortError::None);
    const std::size_t before = mallinfo2().uordblks;
    // A controller answering every command of a 1 ms sweep: two hundred replies of a few bytes
    // between two polls, with the event loop running meanwhile.
    QByteArray sent;
    for (int reply = 0; reply < 200; ++reply) {
        QVERIFY(peer->write("OK\r\n"));
        sent += "OK\r\n";
        // Each reply is taken by a read of its own, as the event loop takes them.
        QVERIFY(peer->waitUntilUnreadAtSlave(4));
        QVERIFY(QTest::qWaitFor([&] { return peer->unreadAtSlave() == 0; }, 10000));
    }
    const std::size_t held = mallinfo2().uordblks - before;
    QString received;
    QCOMPARE(port.input(received), PortError::None);
    QCOMPARE(received, QString::fromLatin1(sent));
    // A few hundred bytes arrived; Qt alone would hold a 32 KiB block per read (megabytes).
    QVERIFY2(held < 256 * 1024,
             qPrintable(QString("%1 KiB held for %2 bytes").arg(held / 1024).arg(sent.size())));
}

void TestDeviceLine::settingsReachTheLine_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<int>("speed");
    QTest::addColumn<bool>("twoStopBits");
    QTest::addColumn<int>("parityFlags"); // PARODD | CMSPAR; a pty keeps no PARENB nor CSIZE
    // An open pty refuses even parity (Qt reads PARENB back and finds it gone); opening with it
    // works, and is what shows the line without PARODD.
    QTest::addColumn<bool>("openPortTakesIt");
    // Asked of the driver: parity enable, and 8 data bits throughout.
    QTest::addColumn<bool>("parityEnabled");

    QTest::newRow("9600,n,8,1") << "9600,n,8,1" << int(B9600) << false << 0 << true << false;
    QTest::newRow("even is not odd") << "38400,e,8,1" << int(B38400) << false << 0 << false << true;
    QTest::newRow("upper-case even, two stop bits")
        << "4800,E,8,2" << int(B4800) << true << 0 << false << true;
    QTest::newRow("57600,o,8,2") << "57600,o,8,2" << int(B57600) << true << int(PARODD) << true
                                 << true;
    QTest::newRow("1.5 stop bits as two")
        << "19200,M,8,1.5" << int(B19200) << true << int(PARODD | CMSPAR) << true << true;
    QTest::newRow("230400,s,8,1") << "230400,s,8,1" << int(B230400) << false << int(CMSPAR) << true
                                  << true;
    QTest::newRow("1200,m,8,2") << "1200,m,8,2" << int(B1200) << true << int(PARODD | CMSPAR)
                                << true << true;
}

void TestDeviceLine::settingsReachTheLine()
{
    QFETCH(QString, settings);
    QFETCH(int, speed);
    QFETCH(bool, twoStopBits);
    QFETCH(int, parityFlags);
    QFETCH(bool, openPortTakesIt);
    QFETCH(bool, parityEnabled);

    const auto check = [&] {
        QVERIFY(lineRequests.count > 0);
        QCOMPARE(lineRequests.parityEnabled, parityEnabled);
        QVERIFY(!lineRequests.otherThan8Bits);
        const std::optional<termios> line = peer->slaveSettings();
        QVERIFY(line.has_value());
        QCOMPARE(int(cfgetospeed(&*line)), speed);
        QCOMPARE(int(cfgetispeed(&*line)), speed);
        QCOMPARE((line->c_cflag & CSTOPB) != 0, twoStopBits);
        QCOMPARE(int(line->c_cflag & (PARODD | CMSPAR)), parityFlags);
    };

    // Set on a closed port: applied when it opens.
    SerialPort port(directory);
    QCOMPARE(port.setSettings(settings), PortError::None);
    QCOMPARE(port.settings(), settings);
    lineRequests = {};
    QCOMPARE(port.open(), PortError::None);
    check();
    port.close();
    if (!openPortTakesIt)
        return;

    // Changed on an open port: applied at once; the same text again changes nothing.
    SerialPort open(directory);
    QCOMPARE(open.open(), PortError::None);
    QCOMPARE(peer->slaveSpeed(), int(B115200));
    lineRequests = {};
    QCOMPARE(open.setSettings(settings), PortError::None);
    check();
    QCOMPARE(open.setSettings(settings), PortError::None);
    check();
}

void TestDeviceLine::refusedSettingsKeepThePrevious()
{
    SerialPort port(directory);
    QCOMPARE(port.setSettings(QStringLiteral("57600,n,8,1")), PortError::None);
    QCOMPARE(port.open(), PortError::None);
    QCOMPARE(peer->slaveSpeed(), int(B57600));

    // A pty keeps 8 data bits whatever it is told, and Qt notices: the device refuses. The new
    // baud rate, already set on the way, is taken back.
    QCOMPARE(port.setSettings(QStringLiteral("9600,n,7,1")), PortError::SettingsFailed);
    QCOMPARE(port.settings(), QStringLiteral("57600,n,8,1"));
    QCOMPARE(peer->slaveSpeed(), int(B57600));
    QVERIFY(port.isOpen());
    QCOMPARE(port.output(QStringLiteral("ok")), PortError::None);
    QCOMPARE(peer->readExactly(2), QByteArray("ok"));
}

void TestDeviceLine::lostDeviceClosesAndComesBack()
{
    SerialPort port(directory);
    QSignalSpy lost(&port, &SerialPort::deviceLost);
    QCOMPARE(port.open(), PortError::None);

    // Unplugged.
    peer->closeMaster();
    peer->removeLink();
    QVERIFY(lost.wait(2000));
    QVERIFY(!port.isOpen());
    QCOMPARE(port.output(QStringLiteral("x")), PortError::NotOpen);
    QCOMPARE(ourLockFiles(), QStringList());

    // Nothing keeps a core busy on the dead line.
    const double before = cpuSeconds();
    QEventLoop idle;
    QTimer::singleShot(500, &idle, &QEventLoop::quit);
    idle.exec();
    QVERIFY2(cpuSeconds() - before < 0.25, qPrintable(QString::number(cpuSeconds() - before)));
    QCOMPARE(lost.count(), 1);

    QCOMPARE(port.open(), PortError::NoSuchPort);
    QCOMPARE(port.open(), PortError::NoSuchPort);

    // Plugged back under the same name.
    QVERIFY(peer->reopen());
    QCOMPARE(port.open(), PortError::None);
    QCOMPARE(port.output(QStringLiteral("ping")), PortError::None);
    QCOMPARE(peer->readExactly(4), QByteArray("ping"));
    QVERIFY(peer->write("pong"));
    QVERIFY(peer->waitUntilUnreadAtSlave(4));
    QString received;
    QCOMPARE(port.input(received), PortError::None);
    QCOMPARE(received, QStringLiteral("pong"));
}

void TestDeviceLine::aRetiredPortDropsWhatWaitsAndFreesTheDevice()
{
    // Retired at the exit click: what was still queued is not sent either. The device takes
    // what fits at once; fill it until the port itself has to queue.
    SerialPort port(directory);
    QCOMPARE(port.open(), PortError::None);
    qint64 handed = 0;
    while (port.pendingOutput() == 0 && handed < 4 * SerialPort::kOutputLimit) {
        QCOMPARE(port.output(QString(1024, u'b')), PortError::None);
        handed += 1024;
    }
    QVERIFY(port.pendingOutput() > 0);
    port.retire();
    qint64 arrived = 0;
    for (QByteArray got; !(got = peer->readAvailable(200)).isEmpty();)
        arrived += got.size();
    QVERIFY2(arrived < handed, qPrintable(QStringLiteral("%1 of %2").arg(arrived).arg(handed)));
    // The device is free for others again.
    SerialPort other(directory);
    QCOMPARE(other.open(), PortError::None);
}

QTEST_GUILESS_MAIN(TestDeviceLine)
#include "tst_device_line.moc"
