#pragma once

#include "port_bank/lines/serial_settings.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <chrono>

// One serial line, wherever it is: a device of this machine or a line served over the network.
// A line is made for one device text and opened, written, read and closed through this face;
// what happens on it later arrives as the signals below, whatever the line.
class SerialLine : public QObject {
    Q_OBJECT
public:
    enum class Opening {
        Opened,       // up now: up() has been emitted
        NoSuchDevice, // nothing behind the device text (a far line: not yet up, or not there)
        InUse,        // held by another program or client
        Failed,       // anything else; warning() has said what
    };

    // What a line takes from its device or connection between two reads at most: more would
    // only push out of the port's receive bound what was just taken.
    static constexpr qsizetype kReadBound = 64 * 1024;

    using QObject::QObject;

    // The monotonic clock of every line's pace, in nanoseconds.
    static qint64 nowNs()
    {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

    // Opens the line with these settings, or goes on opening it: a far line comes up later, by
    // up(). Called again while opening, it says how the latest attempt ended.
    virtual Opening open(const SerialSettings& settings) = 0;
    virtual bool isUp() const = 0;

    // Asks for new settings; the answer comes as settingsAnswered(), at once or later.
    virtual void applySettings(const SerialSettings& settings) = 0;

    // Line data out. Returns how many of the bytes wait in this program's queue (they leave it
    // as written() says), or -1 when the line refused them (a loss is reported by lost()).
    virtual qint64 write(const QByteArray& bytes) = 0;
    // Bytes handed to write() that are not yet on the line, as far as the line can tell.
    virtual qint64 bytesToWrite() const = 0;
    // What a writer that sends back to back should wait on: the same, less what is merely on
    // its way to a far line that keeps up. nowNs: nowNs() of the caller, which asks every
    // line at once.
    virtual qint64 bytesToPace(qint64 nowNs) const
    {
        Q_UNUSED(nowNs);
        return bytesToWrite();
    }
    // When to ask bytesToPace() again, in nanoseconds from now, for a writer waiting until it
    // falls to `level`: -1 when the line's own events (written(), the system's notices) tell,
    // as for a device; a far line's figure falls with time and with acknowledgements, which
    // raise no event.
    virtual qint64 paceRecheckNs(qint64 level) const
    {
        Q_UNUSED(level);
        return -1;
    }
    // Whether `bytes` more keep bytesToWrite() within limit; a line that can tell without asking
    // the system answers so.
    virtual bool queueFits(qint64 bytes, qint64 limit) const
    {
        return bytesToWrite() + bytes <= limit;
    }
    // Whether the settings asked reach the line (a raw TCP connection carries none: the server
    // keeps its own).
    virtual bool carriesSettings() const { return true; }
    // Reports what the line holds beyond what it has reported, so that a read gets everything
    // received so far even when the event loop has not run since.
    virtual void collect() {}
    // Hands the device what waits in this program's queue, as far as it takes it now.
    virtual void pushOut() {}
    // Hands the device the first `bytes` of this program's queue, the rest of a command it has
    // begun taking, waiting briefly while it takes them: called before close(), so that the
    // line does not end in half a command.
    virtual void finish(qint64 bytes) { Q_UNUSED(bytes); }
    // Bytes of that queue that the line only holds back until the event loop next looks at the
    // system, to hand them over together (whole commands, while the device keeps up).
    virtual qint64 heldBack() const { return 0; }
    // Hands what the line holds back over now: the port calls it before finish() and close().
    virtual void handOverHeld() {}

    // Lets the line go at once; pending output is dropped. Returns how many bytes that had left
    // this program's queue the driver still held and dropped with it.
    virtual qint64 close() = 0;

signals:
    void up();
    void dataArrived(const QByteArray& bytes);
    // Bytes of this program's queue that are now on their way, oldest first.
    void written(qint64 bytes);
    // The line went away while up; it is closed again once close() is called.
    void lost();
    // The far end's word on the settings asked last: in force, or refused (the line then runs
    // on with what it had, or with what the far end chose).
    void settingsAnswered(bool accepted);
    // Something went wrong that the operator may want to know; said once per cause by the port.
    void warning(const QString& message);
};
