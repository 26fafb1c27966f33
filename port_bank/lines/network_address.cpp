#include "port_bank/lines/network_address.h"

#include <QHostAddress>

namespace {

std::optional<NetworkAddress> refuse(QString* why, const QString& reason)
{
    if (why)
        *why = reason;
    return std::nullopt;
}

// A host name: labels of letters, digits, '-' and '_' joined by dots (an IPv4 address is one).
bool isHostName(const QString& host)
{
    if (host.isEmpty() || host.size() > 253 || host.startsWith(QLatin1Char('.')) ||
        host.contains(QLatin1String("..")))
        return false;
    for (QChar c : host) {
        const bool allowed = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                             (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                             (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                             c == QLatin1Char('-') || c == QLatin1Char('_') ||
                             c == QLatin1Char('.');
        if (!allowed)
            return false;
    }
    return true;
}

// Only the characters an IPv6 address is written with: QHostAddress forgives blanks around it
// and stops reading at a NUL, while the host is later used as it stands.
bool isIpv6Text(const QString& host)
{
    for (QChar c : host) {
        const bool allowed = (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                             (c >= QLatin1Char('a') && c <= QLatin1Char('f')) ||
                             (c >= QLatin1Char('A') && c <= QLatin1Char('F')) ||
                             c == QLatin1Char(':') || c == QLatin1Char('.');
        if (!allowed)
            return false;
    }
    return true;
}

} // namespace

bool NetworkAddress::isNetworkDevice(const QString& device)
{
    return device.contains(QLatin1String("://"));
}

std::optional<NetworkAddress> NetworkAddress::parse(const QString& device, QString* why)
{
    const qsizetype schemeEnd = device.indexOf(QLatin1String("://"));
    if (schemeEnd < 0)
        return refuse(
            why, QStringLiteral("'%1' is not rfc2217://HOST:PORT or tcp://HOST:PORT").arg(device));
    NetworkAddress address;
    const QString scheme = device.left(schemeEnd).toLower();
    if (scheme == QLatin1String("rfc2217"))
        address.protocol = Protocol::Rfc2217;
    else if (scheme == QLatin1String("tcp"))
        address.protocol = Protocol::RawTcp;
    else
        return refuse(why, QStringLiteral("unknown scheme '%1://' (rfc2217:// or tcp://)")
                               .arg(device.left(schemeEnd)));

    const QString rest = device.mid(schemeEnd + 3);
    QString portText;
    if (rest.startsWith(QLatin1Char('['))) {
        const qsizetype close = rest.indexOf(QLatin1Char(']'));
        if (close < 0)
            return refuse(why, QStringLiteral("'%1': '[' without ']'").arg(device));
        address.host = rest.mid(1, close - 1);
        const QHostAddress ip(address.host);
        // A scope such as %eth0 is not taken either.
        if (!isIpv6Text(address.host) || ip.isNull() ||
            ip.protocol() != QAbstractSocket::IPv6Protocol)
            return refuse(
                why, QStringLiteral("'%1': '%2' is not an IPv6 address").arg(device, address.host));
        if (rest.mid(close + 1, 1) != QLatin1String(":"))
            return refuse(why, QStringLiteral("'%1' has no :PORT").arg(device));
        portText = rest.mid(close + 2);
    } else {
        const qsizetype colon = rest.indexOf(QLatin1Char(':'));
        if (colon < 0)
            return refuse(why, QStringLiteral("'%1' has no :PORT").arg(device));
        address.host = rest.left(colon);
        portText = rest.mid(colon + 1);
        if (portText.contains(QLatin1Char(':')))
            return refuse(why, QStringLiteral("'%1': an IPv6 address goes in brackets, as "
                                              "[2001:db8::1]:4001")
                                   .arg(device));
        if (address.host.isEmpty())
            return refuse(why, QStringLiteral("'%1' names no host").arg(device));
        if (!isHostName(address.host))
            return refuse(why, QStringLiteral("'%1': '%2' is not a host name or address")
                                   .arg(device, address.host));
    }

    bool digitsOnly = !portText.isEmpty() && portText.size() <= 5;
    for (QChar c : portText)
        digitsOnly = digitsOnly && c >= QLatin1Char('0') && c <= QLatin1Char('9');
    const int port = digitsOnly ? portText.toInt() : 0;
    if (port < 1 || port > 65535)
        return refuse(why,
                      QStringLiteral("'%1': port '%2' is not 1 to 65535").arg(device, portText));
    address.port = static_cast<quint16>(port);
    return address;
}
