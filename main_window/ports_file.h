#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

// The port mapping of one bench kept in a text file (--ports FILE): one N=DEVICE per line,
// N 1 to 16, DEVICE a device path, rfc2217://HOST:PORT or tcp://HOST:PORT; blank lines and
// lines starting with '#' are skipped.
struct PortsFile {
    QMap<int, QString> ports;
    // Empty when the file is sound; otherwise "FILE:LINE: what is wrong" for a bad line, or
    // "FILE: what is wrong" when the file itself cannot be used.
    QString error;

    static constexpr qint64 kSizeLimit = 1024 * 1024;

    static PortsFile parse(const QString& fileName, const QByteArray& content);
    static PortsFile read(const QString& fileName);
};

// Checks one DEVICE of --port or of a ports file: not empty, no NUL, and a network address
// that parses when it has a scheme. Returns false with the reason in why.
bool checkPortDevice(int port, const QString& device, QString& why);
