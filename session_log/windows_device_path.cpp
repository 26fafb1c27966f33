#include "session_log/windows_device_path.h"

namespace {

bool isSeparator(QChar c)
{
    return c == QLatin1Char('/') || c == QLatin1Char('\\');
}

// "\\.\", "\\?\" and "\??\", with either slash: 4 characters, or 0 when path has none.
qsizetype namespacePrefixLength(const QString& path)
{
    if (path.size() < 4 || !isSeparator(path[0]) || !isSeparator(path[3]))
        return 0;
    const QChar second = path[1];
    const QChar third = path[2];
    const bool deviceOrRaw =
        isSeparator(second) && (third == QLatin1Char('.') || third == QLatin1Char('?'));
    const bool objectManager = second == QLatin1Char('?') && third == QLatin1Char('?');
    return deviceOrRaw || objectManager ? 4 : 0;
}

bool isDeviceName(const QString& part)
{
    // The name ends at an extension or a colon; spaces before that do not count.
    qsizetype end = 0;
    while (end < part.size() && part[end] != QLatin1Char('.') && part[end] != QLatin1Char(':'))
        ++end;
    while (end > 0 && part[end - 1] == QLatin1Char(' '))
        --end;
    const QString name = part.first(end).toUpper();
    static const QString kPlain[] = {QStringLiteral("CON"),    QStringLiteral("PRN"),
                                     QStringLiteral("AUX"),    QStringLiteral("NUL"),
                                     QStringLiteral("CONIN$"), QStringLiteral("CONOUT$")};
    for (const QString& device : kPlain) {
        if (name == device)
            return true;
    }
    if (name.size() != 4 ||
        !(name.startsWith(QLatin1String("COM")) || name.startsWith(QLatin1String("LPT"))))
        return false;
    const QChar digit = name[3];
    return (digit >= QLatin1Char('1') && digit <= QLatin1Char('9')) || digit == QChar(0x00B9) ||
           digit == QChar(0x00B2) || digit == QChar(0x00B3);
}

} // namespace

QString windowsDeviceIn(const QString& path)
{
    if (const qsizetype prefix = namespacePrefixLength(path); prefix > 0)
        return path.first(prefix);
    qsizetype start = path.size();
    while (start > 0 && !isSeparator(path[start - 1]))
        --start;
    // "C:COM3" on its own is COM3 on drive C.
    if (start == 0 && path.size() >= 2 && path[1] == QLatin1Char(':') && path[0].isLetter())
        start = 2;
    const QString last = path.mid(start);
    return isDeviceName(last) ? last : QString();
}
