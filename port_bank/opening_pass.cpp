#include "port_bank/opening_pass.h"

#include "port_bank/port_bank.h"

void runOpeningPass(PortBank& bank, OpeningPassView& view)
{
    LastError& lastError = bank.lastError();
    lastError.code = PortError::None;

    for (int index = 0; index < PortBank::kPortCount; ++index) {
        SerialPort& port = bank.port(index);
        lastError.record(port.setCommPort(index + 1));
        lastError.record(port.setSettings(view.settingsText()));
        lastError.record(port.open());

        // Other handlers (polls, sweep steps, clicks, even another pass) may run here. They
        // share the last-error code, and what they leave in it (a poll's read of a closed port,
        // a nested pass's open ports) says nothing about this port: the pass goes on with the
        // code as its own steps left it, so a missing port is not shown as in use or failed.
        const std::int32_t ownCode = lastError.code;
        if (!view.yieldAfterPort())
            return;
        lastError.code = ownCode;

        const PortStatus status = classifyPort(index + 1, port.isOpen(), lastError.code);
        bank.noteInUse(index, status.rgb == PortStatusColour::Blue);
        view.showCaption(index, status.caption);
        view.showColour(index, status.rgb);
    }
}
