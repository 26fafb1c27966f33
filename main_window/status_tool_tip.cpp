#include "main_window/status_tool_tip.h"

#include <QDateTime>

QString byteCountText(std::uint64_t bytes)
{
    constexpr std::uint64_t kKilo = 1024;
    if (bytes == 0)
        return QStringLiteral("0");
    if (bytes < kKilo)
        return QStringLiteral("%1 B").arg(bytes);
    if (bytes < kKilo * kKilo)
        return QStringLiteral("%1 KB").arg((bytes + kKilo / 2) / kKilo);
    return QStringLiteral("%1 MB").arg(double(bytes) / double(kKilo * kKilo), 0, 'f', 1);
}

QString statusToolTip(int portNumber, const QString& device, const PortCounters& counters,
                      const QString& problem)
{
    QString tip = QStringLiteral("串口%1: %2 — 发送 %3 条 / %4, 接收 %5, 丢弃 %6, 断开 %7 次")
                      .arg(portNumber)
                      .arg(device.isEmpty() ? QStringLiteral("无设备") : device)
                      .arg(counters.commandsSent)
                      .arg(byteCountText(counters.bytesSent), byteCountText(counters.bytesReceived),
                           byteCountText(counters.bytesDropped))
                      .arg(counters.losses);
    if (counters.lastReceivedMs >= 0)
        tip += QStringLiteral(", 最后接收 ") +
               QDateTime::fromMSecsSinceEpoch(counters.lastReceivedMs).toString(u"HH:mm:ss");
    if (!problem.isEmpty())
        tip += QStringLiteral("\n错误: ") + problem;
    return tip;
}

QString checkCountsText(std::uint64_t checks, std::uint64_t missed, std::uint64_t differed)
{
    return QStringLiteral(", 查询 %1 次, 未应答 %2, 不一致 %3")
        .arg(checks)
        .arg(missed)
        .arg(differed);
}
