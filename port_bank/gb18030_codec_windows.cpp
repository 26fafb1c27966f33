#include "port_bank/gb18030_codec.h"

#include <utility>
#include <windows.h>

namespace {

constexpr UINT kGb18030 = 54936;

void warnOnce(const char* call)
{
    // Wine knows no code page 54936: said once, not for every command and every poll.
    static bool told = false;
    if (!std::exchange(told, true))
        qWarning("%s GB18030: %s", call, qPrintable(qt_error_string(int(GetLastError()))));
}

} // namespace

QByteArray gb18030FromText(const QString& text)
{
    if (text.isEmpty())
        return {};
    const auto* wide = reinterpret_cast<const wchar_t*>(text.utf16());
    const int size =
        WideCharToMultiByte(kGb18030, 0, wide, int(text.size()), nullptr, 0, nullptr, nullptr);
    QByteArray bytes(size, Qt::Uninitialized);
    if (size == 0 || WideCharToMultiByte(kGb18030, 0, wide, int(text.size()), bytes.data(), size,
                                         nullptr, nullptr) != size) {
        warnOnce("WideCharToMultiByte");
        return {};
    }
    return bytes;
}

QString gb18030ToText(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return {};
    const int size = MultiByteToWideChar(kGb18030, 0, bytes.data(), int(bytes.size()), nullptr, 0);
    QString text(size, Qt::Uninitialized);
    if (size == 0 || MultiByteToWideChar(kGb18030, 0, bytes.data(), int(bytes.size()),
                                         reinterpret_cast<wchar_t*>(text.data()), size) != size) {
        warnOnce("MultiByteToWideChar");
        return {};
    }
    return text;
}
