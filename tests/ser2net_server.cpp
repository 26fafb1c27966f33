#include "ser2net_server.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QThread>

#include <algorithm>

namespace {

// A port nobody listens on now. The kernel picks it at random: it stays free for the moment
// ser2net needs to take it, but a later pick may be the same port again.
quint16 freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

} // namespace

Ser2netServer::Ser2netServer()
{
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.setStandardOutputFile(QProcess::nullDevice());
}

Ser2netServer::~Ser2netServer()
{
    stop();
}

bool Ser2netServer::isInstalled()
{
    return !QStandardPaths::findExecutable(QStringLiteral("ser2net")).isEmpty() ||
           QFile::exists(QStringLiteral("/usr/sbin/ser2net"));
}

QString Ser2netServer::serve(const QString& devicePath, Protocol protocol)
{
    // Each line a port of its own: ser2net refuses a configuration that names one twice.
    quint16 port = 0;
    for (int tries = 0; tries < 100; ++tries) {
        port = freePort();
        if (std::none_of(lines_.begin(), lines_.end(),
                         [port](const Line& line) { return line.port == port; }))
            break;
    }
    lines_.append({devicePath, protocol, port});
    return QStringLiteral("%1://127.0.0.1:%2")
        .arg(protocol == Protocol::Rfc2217 ? "rfc2217" : "tcp")
        .arg(port);
}

bool Ser2netServer::start()
{
    if (isRunning())
        return true;
    QByteArray yaml;
    for (const Line& line : lines_) {
        // local: no modem lines on a pty; kickolduser false: a second client is turned away.
        yaml += QStringLiteral("connection: &line%1\n"
                               "  accepter: %2tcp,127.0.0.1,%1\n"
                               "  connector: serialdev,%3,9600n81,local\n"
                               "  options:\n"
                               "    kickolduser: false\n")
                    .arg(line.port)
                    .arg(line.protocol == Protocol::Rfc2217 ? "telnet(rfc2217)," : "")
                    .arg(line.device)
                    .toUtf8();
    }
    const QString config = dir_.filePath(QStringLiteral("ser2net.yaml"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly) || file.write(yaml) != yaml.size()) {
        qWarning("cannot write %s", qPrintable(config));
        return false;
    }
    file.close();
    // -n: foreground; -u: no UUCP lock files left behind in /var/lock.
    process_.start(QStringLiteral("ser2net"),
                   {QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-c"), config,
                    QStringLiteral("-P"), dir_.filePath(QStringLiteral("ser2net.pid"))});
    if (!process_.waitForStarted(10000)) {
        qWarning("ser2net did not start: %s", qPrintable(process_.errorString()));
        return false;
    }
    const QDeadlineTimer deadline(20000);
    while (!allListening()) {
        if (!isRunning() || deadline.hasExpired()) {
            qWarning("ser2net did not take its ports");
            stop();
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(20);
    }
    return true;
}

void Ser2netServer::stop()
{
    if (!isRunning())
        return;
    process_.terminate();
    if (!process_.waitForFinished(10000)) {
        process_.kill();
        process_.waitForFinished(10000);
    }
}

// Listening sockets from /proc, so that no test connection disturbs a line.
bool Ser2netServer::allListening() const
{
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = table.readAll();
    for (const Line& line : lines_) {
        const QByteArray local = QByteArray("0100007F:") +
                                 QByteArray::number(line.port, 16).toUpper().rightJustified(4, '0');
        bool found = false;
        for (const QByteArray& row : text.split('\n')) {
            const QList<QByteArray> fields = row.simplified().split(' ');
            if (fields.size() > 3 && fields[1] == local && fields[3] == "0A")
                found = true;
        }
        if (!found)
            return false;
    }
    return true;
}
