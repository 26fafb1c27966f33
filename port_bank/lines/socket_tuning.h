#pragma once

class QAbstractSocket;

// Makes a connected socket notice a server or host that vanishes without a word (power cut,
// cable pulled) within seconds instead of the system's two hours. Each platform builds its own
// definition.
void tuneLineSocket(QAbstractSocket& socket);
