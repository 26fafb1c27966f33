#pragma once

#include "port_bank/lines/serial_settings.h"

#include <QtGlobal>

// How much of what was sent to a far line has not yet left it, reckoned from the line's speed:
// a device server takes what a connection brings into buffers of its own far larger than the
// line, where nothing else can see it. Each byte takes a character time (start bit, data bits,
// parity, stop bits) once the bytes ahead of it have gone.
class LinePace {
public:
    void setSettings(const SerialSettings& settings);
    // bytes leave the far line after everything sent before them; nowNs: a monotonic clock.
    void sent(qint64 bytes, qint64 nowNs);
    // Bytes sent that the far line has not sent on by nowNs.
    qint64 backlog(qint64 nowNs) const;
    // The backlog as of the last sent(): never less than now, and known without a clock.
    qint64 backlogBound() const { return backlog(sentAtNs_); }
    // Nanoseconds from nowNs until the backlog has fallen to `bytes`; 0 when it has.
    qint64 nsUntilBacklog(qint64 bytes, qint64 nowNs) const;
    // How many bytes the line sends in ns.
    qint64 bytesIn(qint64 ns) const { return qint64(double(ns) / nsPerByte_); }
    void clear() { doneNs_ = sentAtNs_ = 0; }

private:
    double nsPerByte_ = 1e10 / 115200;
    qint64 doneNs_ = 0; // when the far line will have sent everything so far
    qint64 sentAtNs_ = 0;
};
