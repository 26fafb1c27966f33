#pragma once

#include <QString>
#include <optional>

// A serial line served over the network, named by a device text of the form
// rfc2217://HOST:PORT (Telnet with COM-PORT-OPTION) or tcp://HOST:PORT (raw bytes).
// HOST is a name, an IPv4 address or an IPv6 address in brackets.
struct NetworkAddress {
    enum class Protocol { Rfc2217, RawTcp };

    Protocol protocol = Protocol::RawTcp;
    QString host; // without brackets
    quint16 port = 0;

    bool operator==(const NetworkAddress&) const = default;

    // Whether the device text is meant as a network address (it has a scheme), well formed
    // or not; a text without "://" is a local device path.
    static bool isNetworkDevice(const QString& device);

    // The address of a device text, or nothing with the reason in *why.
    static std::optional<NetworkAddress> parse(const QString& device, QString* why = nullptr);
};
