#include "process_stats.h"

#include <QByteArray>
#include <QFile>
#include <ctime>

namespace {

qint64 clockNs(clockid_t clock)
{
    timespec spent{};
    if (clock_gettime(clock, &spent) != 0)
        return -1;
    return qint64(spent.tv_sec) * 1000000000 + spent.tv_nsec;
}

} // namespace

qint64 ProcessStats::residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    // A /proc file reports no size, so atEnd() holds from the start: read it whole.
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray& line : lines) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

qint64 ProcessStats::processCpuNs()
{
    return clockNs(CLOCK_PROCESS_CPUTIME_ID);
}

qint64 ProcessStats::threadCpuNs()
{
    return clockNs(CLOCK_THREAD_CPUTIME_ID);
}
