#include "port_bank/broadcast.h"

#include "port_bank/port_bank.h"
#include "port_bank/wire_text.h"

void sendToAllPorts(PortBank& bank, const QString& command)
{
    SendGate& gate = bank.sendGate();
    if (gate.isHeld()) {
        gate.defer(command);
        return;
    }
    // The same bytes for every port: encoded once.
    const QByteArray bytes = encodeForWire(command);
    for (int index = 0; index < PortBank::kPortCount; ++index) {
        SerialPort& port = bank.port(index);
        if (port.isOpen())
            bank.lastError().record(port.outputEncoded(bytes));
    }
}

void releaseSendGate(PortBank& bank)
{
    const QStringList deferred = bank.sendGate().release();
    for (const QString& command : deferred)
        sendToAllPorts(bank, command);
    // They were due when the wait began: handed over now, not at the next look at the system.
    if (!deferred.isEmpty())
        bank.pushOutput();
}
