#pragma once

#include <QString>

class PortBank;

// What the receive poll writes: each port's receive box and the common receive log.
class ReceivePollView {
public:
    virtual ~ReceivePollView() = default;
    virtual void showChunk(int index, const QString& chunk) = 0; // receive box of index
    // The receive log is read afresh and written back with chunk appended: whatever the log does
    // on a write (emptying itself past its limit) is in effect before the next chunk.
    virtual void appendToLog(const QString& chunk) = 0;
};

// One receive poll (receivePoll): reads every port once, in port order. A port's receive box
// is replaced by its chunk when the chunk is not empty; the chunk is appended to the log for
// every port.
void runReceivePoll(PortBank& bank, ReceivePollView& view);
