#pragma once

#include "port_bank/port_status.h"

#include <QString>

class PortBank;

// What the opening pass needs of the window: the settings box, read afresh for every port, the
// status labels, and the yield to pending window events after each port it tries.
class OpeningPassView {
public:
    virtual ~OpeningPassView() = default;
    virtual QString settingsText() = 0;                              // the settings box
    virtual void showCaption(int index, const QString& caption) = 0; // status label of index
    virtual void showColour(int index, std::uint32_t rgb) = 0;
    // Processes pending window events; returns false once the program is ending.
    virtual bool yieldAfterPort() = 0;
};

// One opening pass (openingPass): tries to open ports 1 to 16 with the settings text and shows
// each outcome. The last-error code is cleared once, at the start of the pass, never between
// ports, so a port classifies by the most recent failure of the pass so far.
void runOpeningPass(PortBank& bank, OpeningPassView& view);
