#include "port_bank/lines/line_pace.h"

#include <cmath>

void LinePace::setSettings(const SerialSettings& settings)
{
    double bits = 1 + settings.dataBits;
    if (settings.parity != SerialSettings::Parity::None)
        bits += 1;
    switch (settings.stopBits) {
    case SerialSettings::StopBits::One:
        bits += 1;
        break;
    case SerialSettings::StopBits::OneAndHalf:
        bits += 1.5;
        break;
    case SerialSettings::StopBits::Two:
        bits += 2;
        break;
    }
    nsPerByte_ = bits * 1e9 / settings.baudRate;
}

void LinePace::sent(qint64 bytes, qint64 nowNs)
{
    sentAtNs_ = nowNs;
    doneNs_ = qMax(doneNs_, nowNs) + qint64(std::ceil(double(bytes) * nsPerByte_));
}

qint64 LinePace::nsUntilBacklog(qint64 bytes, qint64 nowNs) const
{
    const qint64 at = doneNs_ - qint64(double(bytes) * nsPerByte_);
    return qMax<qint64>(0, at - nowNs);
}

qint64 LinePace::backlog(qint64 nowNs) const
{
    if (doneNs_ <= nowNs)
        return 0;
    return qint64(std::ceil(double(doneNs_ - nowNs) / nsPerByte_));
}
