#include "port_bank/gb18030_codec.h"

#include <atomic>
#include <windows.h>

namespace {

constexpr UINT kGb18030 = 54936;
constexpr UINT kGbk = 936; // GB18030 less its four-byte characters

// Wine knows no code page 54936, but 936, which has every character of the controllers' texts.
UINT codePage()
{
    static const UINT page = [] {
        if (IsValidCodePage(kGb18030))
            return kGb18030;
        qWarning("No GB18030 (code page 54936) here: text goes by code page 936, and characters "
                 "beyond it become \"?\"");
        return kGbk;
    }();
    return page;
}

// Said once, not for every command and every poll; the log's thread converts too.
void warnOnce(const char* call)
{
    static std::atomic<bool> told = false;
    if (!told.exchange(true))
        qWarning("%s GB18030: %s", call, qPrintable(qt_error_string(int(GetLastError()))));
}

} // namespace

QByteArray gb18030FromText(const QString& text)
{
    if (text.isEmpty())
        return {};
    const auto* wide = reinterpret_cast<const wchar_t*>(text.utf16());
    const int size =
        WideCharToMultiByte(codePage(), 0, wide, int(text.size()), nullptr, 0, nullptr, nullptr);
    QByteArray bytes(size, Qt::Uninitialized);
    if (size == 0 || WideCharToMultiByte(codePage(), 0, wide, int(text.size()), bytes.data(), size,
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
    const int size =
        MultiByteToWideChar(codePage(), 0, bytes.data(), int(bytes.size()), nullptr, 0);
    QString text(size, Qt::Uninitialized);
    if (size == 0 || MultiByteToWideChar(codePage(), 0, bytes.data(), int(bytes.size()),
                                         reinterpret_cast<wchar_t*>(text.data()), size) != size) {
        warnOnce("MultiByteToWideChar");
        return {};
    }
    return text;
}
