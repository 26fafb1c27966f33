#pragma once

#include "port_bank/port_counters.h"
#include "port_bank/receive_ring.h"
#include "port_bank/wire_text.h"

#include <QByteArray>
#include <QString>
#include <deque>
#include <vector>

class PortObserver;

// What passes through one port, whatever line is behind it: the counters, the observer's calls,
// and the received bytes kept between two polls under the receive bound. The port reports each
// command its line took, the bytes the line delivered, and each open and loss; the poll takes
// the text.
class PortTraffic {
public:
    // What one port keeps between two polls, and so what it gives one poll. At 921600 baud, the
    // fastest line in use, a poll 200 ms apart finds 18,432 bytes (8 data bits, no parity, 1
    // stop bit; 26,331 with 5 data bits); 64 KiB also covers polls held up by half a second,
    // as a busy window does. Past it the oldest bytes go.
    static constexpr qsizetype kReceiveBound = 64 * 1024;

    PortTraffic();

    // observer: nullptr for none. index: the port index the observer is told (0 to 15).
    void setObserver(PortObserver* observer, int index);
    const PortCounters& counters() const { return counters_; }

    // The line is up: the receive stream starts afresh. Reports Opened, or Returned for the
    // first open after a loss. portNumber names the port in warnings; settings: "" for a line
    // that carries none.
    void opened(int portNumber, const QString& device, const QString& settings);
    // The line went away while open.
    void lost(const QString& device);
    // One command, exactly the bytes handed to the line, which took all of them.
    void sent(const QByteArray& bytes);
    // One command whose last `waiting` bytes wait in the line's output queue: it is counted and
    // told as sent once written() has passed them on, and never when the queue is thrown away.
    void queued(const QByteArray& bytes, qint64 waiting);
    // Bytes of the output queue that the line has now passed on, oldest first.
    void written(qint64 bytes);
    // What the line has yet to pass on of a command it has begun to pass on; 0 for none.
    qint64 unwrittenOfStarted() const;
    // The line closes and throws its output queue away: the commands still waiting in it are
    // reported once as discarded (bytes and commands), with driverBytes, bytes the driver held
    // (already counted as sent) and threw away too.
    void discardWaiting(qint64 driverBytes);
    // Bytes as taken from the line, before decoding.
    void received(const QByteArray& bytes);
    // Everything received since the last take, as text. Bytes that the bound dropped meanwhile
    // are reported here, once per take; a character cut by the drop is never half decoded.
    QString takeText();
    // Whether a command waits, in whole or in part, in the line's output queue.
    bool hasWaiting() const { return !waiting_.empty(); }

private:
    void count(const QByteArray& bytes);

    struct Waiting {
        QByteArray bytes;
        qint64 unwritten;
    };

    PortCounters counters_;
    std::deque<Waiting> waiting_;
    std::vector<QByteArray> justSent_; // kept between writes, for its capacity
    PortObserver* observer_ = nullptr;
    int index_ = 0;
    int portNumber_ = 0;
    ReceiveRing ring_;
    WireDecoder decoder_;
    qsizetype droppedSinceTake_ = 0;
    bool lostSinceOpen_ = false;
    bool warnedOfDrops_ = false;
};
