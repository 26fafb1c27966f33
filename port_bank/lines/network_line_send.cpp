#include "port_bank/lines/network_line.h"

#include "port_bank/lines/socket_tuning.h"

// The line's sending side: commands onto the socket, and how much of them still waits.

// What the socket took is counted as sent at once: its queue is counted by bytesToWrite(), and
// a close that drops it is not told apart (Telnet's own bytes share that queue).
qint64 NetworkLine::write(const QByteArray& bytes)
{
    if (state_ != State::Up)
        return -1;
    const QByteArray wire = protocol_->encode(bytes);
    if (batch_.size() + wire.size() > kBatchBytes)
        sendHeld();
    if (state_ != State::Up)
        return -1;
    if (wire.size() > kBatchBytes || (batch_.isEmpty() && !SendBatch::schedule(this))) {
        if (!sendData(wire))
            return -1;
    } else {
        batch_.append(wire);
    }
    pace_.sent(bytes.size(), nowNs());
    return 0;
}

// The commands of one look go out in one call, in the order written. A line that went down
// meanwhile drops them, as its socket drops what it held.
void NetworkLine::sendHeld()
{
    SendBatch::cancel(this);
    if (batch_.isEmpty())
        return;
    if (state_ != State::Up) {
        dropHeld();
        return;
    }
    sending_.swap(batch_);
    sendData(sending_);
    sending_.resize(0);
}

// Before a close: held commands go to the system as they would have gone at once without the
// batch, and what the system holds then goes with the connection, as before. Qt's own queue, if
// any, is dropped by the abort, and what was held behind it with it. A plain call, so that a
// failing send is not taken for a loss of the connection on its way out.
void NetworkLine::handOverHeld()
{
    if (batch_.isEmpty() || state_ != State::Up || socket_.bytesToWrite() > 0)
        return;
    QString why;
    sendPastBuffer(socket_, batch_.constData(), batch_.size(), &why);
    dropHeld();
}

void NetworkLine::dropHeld()
{
    SendBatch::cancel(this);
    batch_.resize(0);
}

// A command goes to the socket at once; only what it does not take waits in Qt's queue. A write
// that fails (the server has gone) ends the connection here.
bool NetworkLine::send(const QByteArray& bytes)
{
    // The protocol's own messages (settings, replies) never overtake commands held back.
    if (!batch_.isEmpty()) {
        sendHeld();
        if (state_ == State::Idle)
            return false;
    }
    unackedBound_ += bytes.size();
    if (socket_.write(bytes) == bytes.size()) {
        socket_.flush();
        return true;
    }
    if (state_ != State::Idle)
        onSocketError(socket_.error());
    return false;
}

// Line data goes to the system itself while nothing waits in Qt's queue before it: one call,
// where Qt would switch its write notifier on and off again for every command.
bool NetworkLine::sendData(const QByteArray& wire)
{
    qint64 taken = 0;
    if (socket_.bytesToWrite() == 0) {
        QString why;
        taken = sendPastBuffer(socket_, wire.constData(), wire.size(), &why);
        if (taken < 0) {
            // What the server wrote before it went is read first, as for Qt's own errors.
            readChunk();
            if (state_ == State::Up)
                loseConnection(why);
            return false;
        }
        unackedBound_ += taken;
        if (taken == wire.size())
            return true;
    }
    return send(taken == 0 ? wire : wire.sliced(taken));
}

qint64 NetworkLine::unacknowledged() const
{
    unackedBound_ = unacknowledgedBytes(socket_);
    return unackedBound_;
}

qint64 NetworkLine::bytesToWrite() const
{
    if (state_ != State::Up)
        return 0;
    return qMax(socket_.bytesToWrite() + batch_.size() + unacknowledged(), pace_.backlog(nowNs()));
}

// Exactly as bytesToWrite() would say, asking the system only when the bound does not settle it.
bool NetworkLine::queueFits(qint64 bytes, qint64 limit) const
{
    if (state_ != State::Up)
        return bytes <= limit;
    // The backlog as of the last write is at least today's, and mostly settles it without
    // reading the clock (a sweep asks this of every port for every command).
    const qint64 local = socket_.bytesToWrite() + batch_.size();
    if (qMax(local + unackedBound_, pace_.backlogBound()) + bytes <= limit)
        return true;
    const qint64 backlog = pace_.backlog(nowNs());
    if (qMax(local + unackedBound_, backlog) + bytes <= limit)
        return true;
    return qMax(local + unacknowledged(), backlog) + bytes <= limit;
}

qint64 NetworkLine::bytesToPace(qint64 nowNs) const
{
    if (state_ != State::Up)
        return 0;
    // Within the flight even the bound counts nothing beyond it, as the system's figure would.
    const qint64 unacked = unackedBound_ > kInFlight ? unacknowledged() : 0;
    const qint64 beyondFlight = qMax<qint64>(0, unacked - kInFlight);
    const qint64 beyondLead = qMax<qint64>(0, pace_.backlog(nowNs) - pace_.bytesIn(kPaceLeadNs));
    // What is held went into the pace when it was written: it counts there, not twice.
    return qMax(socket_.bytesToWrite() + beyondFlight, beyondLead);
}

// The pace falls with time alone: the writer is woken when it has fallen kPaceStepNs below the
// level. What the system holds beyond the flight goes as the server acknowledges it, which no
// notifier tells while Qt's own queue is empty: that is asked again every kAckRecheckNs. The
// writer has just asked bytesToPace(), which brought the bound to the system's figure wherever
// it counts: the bound is not asked of the system a second time here.
qint64 NetworkLine::paceRecheckNs(qint64 level) const
{
    if (state_ != State::Up)
        return -1;
    const qint64 paceNs =
        pace_.nsUntilBacklog(level + pace_.bytesIn(kPaceLeadNs - kPaceStepNs), nowNs());
    if (socket_.bytesToWrite() == 0 && unackedBound_ - kInFlight > level)
        return qMax(paceNs, kAckRecheckNs);
    return paceNs > 0 ? paceNs : -1;
}
