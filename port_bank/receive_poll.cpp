#include "port_bank/receive_poll.h"

#include "port_bank/port_bank.h"

void runReceivePoll(PortBank& bank, ReceivePollView& view)
{
    for (int index = 0; index < PortBank::kPortCount; ++index) {
        // A fresh chunk for every port: a failed read (a closed port) must not repeat the
        // previous port's text.
        QString chunk;
        bank.lastError().record(bank.port(index).input(chunk));
        if (!chunk.isEmpty())
            view.showChunk(index, chunk);
        view.appendToLog(chunk);
    }
}
