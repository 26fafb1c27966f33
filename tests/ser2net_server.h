#pragma once

#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A real ser2net for the tests, run in the foreground on 127.0.0.1 from a generated YAML file:
// each line served is a device path (a pty's slave) on a free TCP port, with RFC 2217 or raw.
// stop() and start() again serve the same lines on the same ports; the destructor stops it.
class Ser2netServer {
public:
    enum class Protocol { Rfc2217, RawTcp };

    Ser2netServer();
    ~Ser2netServer();
    Ser2netServer(const Ser2netServer&) = delete;
    Ser2netServer& operator=(const Ser2netServer&) = delete;

    // Adds a line (before start()); returns its device address, such as rfc2217://127.0.0.1:41234.
    QString serve(const QString& devicePath, Protocol protocol);

    // Starts ser2net and waits until every port listens; false (with a warning) if it did not.
    bool start();
    // Stops it (SIGTERM, then SIGKILL) and waits until it has gone.
    void stop();
    bool isRunning() const { return process_.state() != QProcess::NotRunning; }

    // Whether the ser2net binary is there at all (the test packages install it).
    static bool isInstalled();

private:
    struct Line {
        QString device;
        Protocol protocol;
        quint16 port;
    };
    bool allListening() const;

    QTemporaryDir dir_;
    QProcess process_;
    QList<Line> lines_;
};
