#pragma once

#include <QString>

class PortBank;

// Writes command to every port that is open at this moment, in port order, byte for byte with
// nothing added. A port that refuses the write is passed over; its error number becomes the
// last-error code. Never yields, so no other handler runs between two ports. While the bank's
// send gate is held the command is kept and sent when the gate opens.
void sendToAllPorts(PortBank& bank, const QString& command);

// Opens the bank's send gate and sends what it kept meanwhile, in order.
void releaseSendGate(PortBank& bank);
