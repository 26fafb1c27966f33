#include "port_bank/lines/win32_error_meaning.h"

SerialLine::Opening openingForWin32Error(quint32 error)
{
    switch (error) {
    case Win32Error::InvalidFunction:
    case Win32Error::FileNotFound:
    case Win32Error::PathNotFound:
    case Win32Error::DevNotExist:
    case Win32Error::DeviceNotConnected:
    case Win32Error::DeviceRemoved:
        return SerialLine::Opening::NoSuchDevice;
    case Win32Error::AccessDenied:
    case Win32Error::SharingViolation:
        return SerialLine::Opening::InUse;
    default:
        return SerialLine::Opening::Failed;
    }
}

bool win32ErrorMeansGone(quint32 error)
{
    switch (error) {
    case Win32Error::AccessDenied:
    case Win32Error::InvalidHandle:
    case Win32Error::NotReady:
    case Win32Error::BadCommand:
    case Win32Error::GenFailure:
    case Win32Error::DevNotExist:
    case Win32Error::BrokenPipe:
    case Win32Error::OperationAborted:
    case Win32Error::DeviceNotConnected:
    case Win32Error::DeviceRemoved:
        return true;
    default:
        return false;
    }
}
