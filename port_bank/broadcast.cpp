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
    for (const QString& command : bank.sendGate().release())
        sendToAllPorts(bank, command);
}
