// The soak's controller lines: the link leads to the pty while it is there, bytes pass unchanged
// both ways, and a closed pty leaves a link that leads nowhere, its number not handed to the
// next pty, until the line is opened again.
#include "pty_device.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

namespace {

QString resolved(const QString& link)
{
    char* path = ::realpath(QFile::encodeName(link).constData(), nullptr);
    if (!path)
        return QString();
    const QString result = QFile::decodeName(path);
    std::free(path);
    return result;
}

QByteArray readSome(int fd)
{
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, 2000) != 1)
        return QByteArray();
    char buffer[256];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    return got > 0 ? QByteArray(buffer, got) : QByteArray();
}

} // namespace

class TestSoakPtyDevice : public QObject {
    Q_OBJECT
private slots:
    void bytesPassBothWaysUnchanged();
    void aClosedLineLeadsNowhereUntilReopened();
    void aRemovedPathIsGone();
};

void TestSoakPtyDevice::bytesPassBothWaysUnchanged()
{
    QTemporaryDir folder;
    PtyDevice line(folder.filePath(QStringLiteral("ttyA")));
    QVERIFY(line.open());
    const int slave = ::open(QFile::encodeName(line.linkPath()).constData(), O_RDWR | O_NOCTTY);
    QVERIFY(slave >= 0);
    // Raw: CR, LF, ^C and bytes with the top bit set arrive as they were written.
    const QByteArray bytes("a\r\n\x03\xc8\xab.:", 8);
    QCOMPARE(::write(slave, bytes.constData(), bytes.size()), ssize_t(bytes.size()));
    QCOMPARE(readSome(line.fd()), bytes);
    QCOMPARE(::write(line.fd(), bytes.constData(), bytes.size()), ssize_t(bytes.size()));
    QCOMPARE(readSome(slave), bytes);
    ::close(slave);
}

void TestSoakPtyDevice::aClosedLineLeadsNowhereUntilReopened()
{
    QTemporaryDir folder;
    PtyDevice line(folder.filePath(QStringLiteral("ttyA")));
    QVERIFY(line.open());
    const QString device = resolved(line.linkPath());
    QVERIFY(device.startsWith(QStringLiteral("/dev/pts/")));

    line.closeMaster();
    QCOMPARE(line.fd(), -1);
    QVERIFY(QFileInfo(line.linkPath()).isSymLink());
    QCOMPARE(resolved(line.linkPath()), QString()); // the node went with the master
    // A pty opened meanwhile, here or by anyone, does not take the old number.
    int master = -1;
    int slave = -1;
    char name[PATH_MAX];
    QCOMPARE(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    QVERIFY(QString::fromLatin1(name) != device);
    QCOMPARE(resolved(line.linkPath()), QString());
    ::close(slave);
    ::close(master);

    QVERIFY(line.open());
    QVERIFY(line.fd() >= 0);
    QVERIFY(resolved(line.linkPath()).startsWith(QStringLiteral("/dev/pts/")));
}

void TestSoakPtyDevice::aRemovedPathIsGone()
{
    QTemporaryDir folder;
    PtyDevice line(folder.filePath(QStringLiteral("ttyA")));
    QVERIFY(line.open());
    line.closeMaster();
    line.removeLink();
    QVERIFY(!QFileInfo::exists(line.linkPath()) && !QFileInfo(line.linkPath()).isSymLink());
    QVERIFY(line.open());
    QVERIFY(QFileInfo(line.linkPath()).isSymLink());
}

QTEST_MAIN(TestSoakPtyDevice)
#include "tst_soak_pty_device.moc"
