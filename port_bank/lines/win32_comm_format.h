#pragma once

#include "port_bank/lines/serial_settings.h"

#include <QtGlobal>

// The character format of a settings text in the numbers of a Win32 DCB (BaudRate, ByteSize,
// Parity, StopBits). Plain numbers, so that the rule builds and is tested on every platform.
struct CommFormat {
    // Parity: NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY, SPACEPARITY.
    enum Parity : quint8 {
        NoParity = 0,
        OddParity = 1,
        EvenParity = 2,
        MarkParity = 3,
        SpaceParity = 4
    };
    // StopBits: ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS.
    enum StopBits : quint8 { OneStopBit = 0, One5StopBits = 1, TwoStopBits = 2 };

    quint32 baudRate = 0;
    quint8 byteSize = 8;
    quint8 parity = NoParity;
    quint8 stopBits = OneStopBit;

    bool operator==(const CommFormat&) const = default;
};

// A UART sends 1.5 stop bits for 5 data bits and 2 for more, whichever of the two it is asked,
// and Windows drivers refuse the other pairs: so 1.5 and 2 ask for what the line sends, as on
// Linux, where the settings text's 1.5 is two stop bits.
CommFormat commFormatOf(const SerialSettings& settings);
