#pragma once

#include "port_bank/port_counters.h"

#include <QString>

// The tooltip of a port's status label: the port, its device and what it has done, for example
// "串口3: /dev/ttyUSB2 — 发送 1234 条 / 20 KB, 接收 18 KB, 丢弃 0, 断开 0 次". An empty device
// reads "无设备"; the time of the last byte received follows once there is one, and a second
// line "错误: ..." with why the port last failed, in the words of whoever said so, while it does.
QString statusToolTip(int portNumber, const QString& device, const PortCounters& counters,
                      const QString& problem = {});

// A byte count as the tooltip shows it: "0", "512 B", "20 KB" (rounded), "3.4 MB".
QString byteCountText(std::uint64_t bytes);

// The status checks' part of the tooltip: ", 查询 12 次, 未应答 1, 不一致 0".
QString checkCountsText(std::uint64_t checks, std::uint64_t missed, std::uint64_t differed);
