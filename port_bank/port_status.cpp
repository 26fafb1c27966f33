#include "port_bank/port_status.h"

#include "port_bank/port_errors.h"

QString portCaption(int portNumber)
{
    return QStringLiteral("串口") + QString::number(portNumber);
}

PortStatus classifyPort(int portNumber, bool isOpen, std::int32_t lastError)
{
    if (isOpen || lastError == PortError::None)
        return {portCaption(portNumber), PortStatusColour::Green};
    if (lastError == PortError::AlreadyOpen)
        return {QStringLiteral("占用") + QString::number(portNumber), PortStatusColour::Blue};
    if (lastError == PortError::NoSuchPort)
        return {portCaption(portNumber), PortStatusColour::LightGray};
    return {portCaption(portNumber), PortStatusColour::Red};
}
