#include "main_window/ports_file.h"

#include "port_bank/lines/network_address.h"

#include <QFile>
#include <QStringDecoder>

namespace {

PortsFile failed(const QString& error)
{
    PortsFile file;
    file.error = error;
    return file;
}

bool isPortNumber(const QString& text, int& port)
{
    bool digits = !text.isEmpty() && text.size() <= 2;
    for (QChar c : text)
        digits = digits && c >= QLatin1Char('0') && c <= QLatin1Char('9');
    port = digits ? text.toInt() : 0;
    return port >= 1 && port <= 16;
}

} // namespace

bool checkPortDevice(int port, const QString& device, QString& why)
{
    if (device.isEmpty()) {
        why = QStringLiteral("port %1 names no device").arg(port);
        return false;
    }
    if (device.contains(QChar(0))) {
        why = QStringLiteral("the device of port %1 contains a NUL character").arg(port);
        return false;
    }
    if (NetworkAddress::isNetworkDevice(device) && !NetworkAddress::parse(device, &why))
        return false;
    return true;
}

PortsFile PortsFile::parse(const QString& fileName, const QByteArray& content)
{
    PortsFile file;
    QMap<int, int> lineOfPort;
    const QList<QByteArray> lines = content.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const int lineNumber = int(i) + 1;
        const auto bad = [&](const QString& what) {
            return failed(QStringLiteral("%1:%2: %3").arg(fileName).arg(lineNumber).arg(what));
        };
        QStringDecoder utf8(QStringDecoder::Utf8);
        const QString line = QString(utf8(lines[i])).trimmed(); // trims a CR of CR LF files too
        if (utf8.hasError())
            return bad(QStringLiteral("not UTF-8 text"));
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0)
            return bad(QStringLiteral("expected N=DEVICE, for example 1=/dev/ttyUSB0"));
        const QString number = line.left(equals).trimmed();
        const QString device = line.mid(equals + 1).trimmed();
        int port = 0;
        if (!isPortNumber(number, port))
            return bad(QStringLiteral("port number '%1' is not 1 to 16").arg(number));
        QString why;
        if (!checkPortDevice(port, device, why))
            return bad(why);
        if (lineOfPort.contains(port))
            return bad(QStringLiteral("port %1 is given twice (first on line %2)")
                           .arg(port)
                           .arg(lineOfPort.value(port)));
        lineOfPort.insert(port, lineNumber);
        file.ports.insert(port, device);
    }
    return file;
}

PortsFile PortsFile::read(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return failed(QStringLiteral("%1: cannot read: %2").arg(fileName, file.errorString()));
    const QByteArray content = file.read(kSizeLimit + 1);
    if (file.error() != QFileDevice::NoError)
        return failed(QStringLiteral("%1: cannot read: %2").arg(fileName, file.errorString()));
    if (content.size() > kSizeLimit)
        return failed(QStringLiteral("%1: larger than %2 bytes; not a ports file")
                          .arg(fileName)
                          .arg(kSizeLimit));
    return parse(fileName, content);
}
