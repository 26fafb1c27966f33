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

        // Other handlers (polls, sweep steps, clicks, even another pass) may run here.
        if (!view.yieldAfterPort())
            return;

        const PortStatus status = classifyPort(index + 1, port.isOpen(), lastError.code);
        view.showCaption(index, status.caption);
        view.showColour(index, status.rgb);
    }
}
