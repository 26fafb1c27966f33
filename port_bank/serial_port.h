#pragma once

#include "port_bank/port_counters.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

class PortDirectory;
class PortObserver;
class SerialLine;

// One serial-port object of the port bank: a port number, a settings text, an open state,
// text output and text input. Every operation returns 0 on success or an error number from
// port_errors.h; a failed operation changes nothing. The line behind it (a device of this
// machine or a line served over the network) is picked at each open from what the directory
// names for the port number.
class SerialPort : public QObject {
    Q_OBJECT
public:
    // Output that may wait for the line, per port; past it output() fails with OutputFull.
    static constexpr qint64 kOutputLimit = 64 * 1024;

    // Makes the line for a device text; nothing, with the reason in *why, for a text that
    // names no line.
    using LineMaker =
        std::function<std::unique_ptr<SerialLine>(const QString& device, QString* why)>;
    // The lines of this program: a device of this machine, or a line served over the network
    // for a device text with a scheme (rfc2217://, tcp://).
    static std::unique_ptr<SerialLine> makeLine(const QString& device, QString* why);

    explicit SerialPort(PortDirectory& directory, QObject* parent = nullptr);
    SerialPort(PortDirectory& directory, LineMaker makeLine, QObject* parent = nullptr);
    ~SerialPort() override;

    // CommPort: 1 to 16. Fails with AlreadyOpen while the port is open.
    std::int32_t setCommPort(int portNumber);
    int commPort() const;

    // Settings: "baud,parity,data,stop". A text that does not parse fails with InvalidValue. A
    // changed text is asked of the line at once; a line that refuses it (at once, or later for a
    // far line) leaves the previous text in force, and the refused text then fails with
    // SettingsFailed until the line opens again.
    std::int32_t setSettings(const QString& text);
    QString settings() const;

    // PortOpen = true. NoSuchPort when the number names no device (or the device is gone),
    // AlreadyOpen when open here or held by another program, OpenFailed otherwise.
    std::int32_t open();
    bool isOpen() const;

    // Releases the device and every lock taken for it; pending output is dropped.
    void close();

    // After retire() the object never opens again and writes nothing: used when the program ends.
    void retire();

    // Output: queues the text, encoded as GB18030, with nothing added. Never blocks.
    std::int32_t output(const QString& text);
    // The same for a text already encoded (a broadcast encodes once for all ports). Bytes go
    // to the device at once as far as it takes them; only the rest waits.
    std::int32_t outputEncoded(const QByteArray& bytes);

    // Input: every character received and not yet read; "" when nothing is pending. What
    // arrives between two reads is kept up to PortTraffic::kReceiveBound bytes; past it the
    // oldest whole characters are dropped and counted.
    std::int32_t input(QString& received);

    // Bytes queued by output() that a writer sending back to back should wait for (a far line's
    // backlog at its speed included); the output bound counts a little more, see SerialLine.
    qint64 pendingOutput() const;
    // The same, for a caller that asks every port at nowNs (SerialLine::nowNs()).
    qint64 pendingOutput(qint64 nowNs) const;
    // When to ask pendingOutput() again while waiting for it to fall to level, in nanoseconds
    // from now; -1 when the port's own events tell.
    qint64 pendingRecheckNs(qint64 level) const;
    // Whether a command waits, in whole or in part, in this program's queue for the line (a line
    // that takes commands whole at once has none).
    bool outputWaiting() const;
    // Hands the line what waits in that queue, as far as it takes it now; never blocks.
    void pushOutput();

    // The device this object has open, or would open for its port number.
    QString devicePath() const;

    // Why the port last failed to open or lost its line, in the words of whoever said so (the
    // system, the server); "" while open or when nothing went wrong.
    QString problem() const;

    // What this port has sent, received, dropped and lost since the program started.
    const PortCounters& counters() const;
    // Tells observer (nullptr: nobody) of this port's traffic and events, as port index.
    void setObserver(PortObserver* observer, int index);

signals:
    // The device went away while open (adapter unplugged, pty peer closed); the object has
    // closed itself, so isOpen() is false and the next open() classifies the device afresh.
    void deviceLost();

private:
    class Private;
    std::unique_ptr<Private> d;
};
