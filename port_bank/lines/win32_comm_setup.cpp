#include "port_bank/lines/win32_comm_setup.h"

#include "port_bank/lines/win32_comm_format.h"

#include <windows.h>

static_assert(CommFormat::NoParity == NOPARITY && CommFormat::OddParity == ODDPARITY &&
              CommFormat::EvenParity == EVENPARITY && CommFormat::MarkParity == MARKPARITY &&
              CommFormat::SpaceParity == SPACEPARITY && CommFormat::OneStopBit == ONESTOPBIT &&
              CommFormat::One5StopBits == ONE5STOPBITS && CommFormat::TwoStopBits == TWOSTOPBITS);

namespace {
// Longer than a character takes at 1200 baud, so that a reply arrives in one piece.
constexpr DWORD kByteGapMs = 10;
} // namespace

// Raw bytes both ways and no flow control; DTR and RTS raised, as a Unix open does.
bool setUpCommPort(void* handle, const SerialSettings& settings, const char** call)
{
    *call = "GetCommState";
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle, &dcb))
        return false;
    const CommFormat format = commFormatOf(settings);
    dcb.BaudRate = format.baudRate;
    dcb.ByteSize = format.byteSize;
    dcb.Parity = format.parity;
    dcb.StopBits = format.stopBits;
    dcb.fBinary = TRUE;
    dcb.fParity = format.parity != CommFormat::NoParity;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    // A line error must not stop every read and write until it is cleared.
    dcb.fAbortOnError = FALSE;
    *call = "SetCommState";
    return SetCommState(handle, &dcb);
}

bool commPortHas(void* handle, const SerialSettings& settings)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle, &dcb))
        return false;
    const CommFormat has{dcb.BaudRate, dcb.ByteSize, dcb.Parity, dcb.StopBits};
    return has == commFormatOf(settings);
}

// A read waits for the first byte, then ends once the line has been quiet for kByteGapMs (or its
// buffer is full); writes never time out. The documented "return as soon as a byte arrives"
// setting (MAXDWORD, MAXDWORD, a constant) is not honoured by wine, which then waits for a full
// buffer.
bool setCommReadTimeouts(void* handle)
{
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = kByteGapMs;
    return SetCommTimeouts(handle, &timeouts);
}
