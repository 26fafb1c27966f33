// PortsFile::parse() reads a --ports file, and NetworkAddress::parse() the network devices in
// it. The input is the file's bytes; it is also read as one device text, once as UTF-8 and once
// as UTF-16 code units. A ports file must either bind sound ports (1..16, a trimmed device with
// no NUL, a network device that parses) or refuse with a "FILE:" reason and bind nothing, and an
// accepted file written back as plain N=DEVICE lines must parse to the same ports. An accepted
// address must name a port, a host without brackets, and read back from its plain form.

#include "fuzz_support.h"
#include "main_window/ports_file.h"
#include "port_bank/lines/network_address.h"

#include <cstdint>

namespace {

using fuzz::check;

const QString kFileName = QStringLiteral("bench.ports");

QString plainForm(const NetworkAddress& address)
{
    const QString scheme = address.protocol == NetworkAddress::Protocol::Rfc2217
                               ? QStringLiteral("rfc2217://")
                               : QStringLiteral("tcp://");
    const QString host = address.host.contains(QLatin1Char(':'))
                             ? QLatin1Char('[') + address.host + QLatin1Char(']')
                             : address.host;
    return scheme + host + QLatin1Char(':') + QString::number(address.port);
}

void checkAddress(const QString& device)
{
    QString why;
    const std::optional<NetworkAddress> address = NetworkAddress::parse(device, &why);
    if (!address) {
        check(!why.isEmpty(), "refused an address without saying why", device);
        return;
    }
    check(NetworkAddress::isNetworkDevice(device), "accepted an address without a scheme", device);
    check(address->port >= 1, "accepted port 0", device);
    check(!address->host.isEmpty(), "accepted an address without a host", device);
    check(!address->host.contains(QLatin1Char('[')) && !address->host.contains(QLatin1Char(']')) &&
              !address->host.contains(QChar(0)),
          "accepted a host with brackets or a NUL", device);
    const std::optional<NetworkAddress> again = NetworkAddress::parse(plainForm(*address));
    check(again && *again == *address, "the accepted address written back parses differently",
          device);
}

void checkFile(const QByteArray& content)
{
    const QString input = QString::fromLatin1(content.toHex(' '));
    const PortsFile file = PortsFile::parse(kFileName, content);
    if (!file.error.isEmpty()) {
        check(file.error.startsWith(kFileName + QLatin1Char(':')), "a refusal names no file",
              input);
        check(file.ports.isEmpty(), "refused but still bound ports", input);
        return;
    }
    QByteArray written;
    for (auto it = file.ports.cbegin(); it != file.ports.cend(); ++it) {
        check(it.key() >= 1 && it.key() <= 16, "bound a port outside 1..16", input);
        check(!it.value().isEmpty(), "bound a port to no device", input);
        check(it.value() == it.value().trimmed(), "kept blanks around a device", input);
        check(!it.value().contains(QChar(0)), "kept a NUL in a device", input);
        if (NetworkAddress::isNetworkDevice(it.value()))
            check(NetworkAddress::parse(it.value()).has_value(), "bound a bad network address",
                  input);
        written += QByteArray::number(it.key()) + '=' + it.value().toUtf8() + '\n';
    }
    const PortsFile again = PortsFile::parse(kFileName, written);
    check(again.error.isEmpty() && again.ports == file.ports,
          "the accepted file written back parses differently", input);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    checkFile(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    checkAddress(fuzz::utf8Text(data, size));
    checkAddress(fuzz::utf16Text(data, size));
    return 0;
}
