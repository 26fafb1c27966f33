#pragma once

#include <QString>

class PortBank;

// Writes command to every port that is open at this moment, in port order, byte for byte with
// nothing added. A port that refuses the write is passed over; its error number becomes the
// last-error code. Never yields, so no other handler runs between two ports.
void sendToAllPorts(PortBank& bank, const QString& command);
