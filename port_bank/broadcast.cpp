#include "port_bank/broadcast.h"

#include "port_bank/port_bank.h"

void sendToAllPorts(PortBank& bank, const QString& command)
{
    for (int index = 0; index < PortBank::kPortCount; ++index) {
        SerialPort& port = bank.port(index);
        if (port.isOpen())
            bank.lastError().record(port.output(command));
    }
}
