#include "port_bank/broadcast.h"

#include "port_bank/port_bank.h"
#include "port_bank/wire_text.h"

void sendToAllPorts(PortBank& bank, const QString& command)
{
    // The same bytes for every port: encoded once.
    const QByteArray bytes = encodeForWire(command);
    for (int index = 0; index < PortBank::kPortCount; ++index) {
        SerialPort& port = bank.port(index);
        if (port.isOpen())
            bank.lastError().record(port.outputEncoded(bytes));
    }
}
