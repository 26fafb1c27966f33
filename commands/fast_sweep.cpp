#include "commands/fast_sweep.h"

#include "commands/decimal_text.h"
#include "commands/integer_rounding.h"
#include "commands/lenient_number.h"
#include "commands/sweep_host.h"

#include <limits>

namespace {

constexpr int kBlockSpan = 60; // a range command covers its first channel and 60 more
// The highest first channel whose last channel still fits a 16-bit channel number.
constexpr int kHighestFirstChannel = std::numeric_limits<std::int16_t>::max() - kBlockSpan;

bool isRunning(SweepHost& host)
{
    // The flag only ever holds "", "0" or "1"; "1" is the one that reads as the number 1.
    return host.runFlag() == u"1";
}

} // namespace

QString FastSweep::rangeCommand(int firstChannel)
{
    // Formed in one buffer: this runs for every command of the sweep.
    QString command;
    command.reserve(40);
    command.append(QLatin1StringView(":::::::::::::::::::ZAVB"));
    appendDecimalText(command, firstChannel);
    command.append(u'-');
    appendDecimalText(command, firstChannel + kBlockSpan);
    command.append(u'.');
    return command;
}

void FastSweep::click(SweepHost& host)
{
    host.setRunFlag(isRunning(host) ? QStringLiteral("0") : QStringLiteral("1"));

    // Nothing may be held across the yield: nested clicks run in there and move the counter
    // and the flag. Everything is read again after it.
    while (!m_programEnding && isRunning(host)) {
        fastStep(host);
        if (!host.yieldToWindow())
            m_programEnding = true;
    }
}

void FastSweep::fastStep(SweepHost& host)
{
    // As in the timed sweep: advance, then compare; no next channel past 32767 means a wrap.
    const bool advanced = FastChannel < std::numeric_limits<std::int16_t>::max();
    if (advanced)
        ++FastChannel;

    const double endChannel = lenientNumber(host.endChannelText());
    // Above kHighestFirstChannel no range command can be formed, so that step wraps as well.
    if (advanced && endChannel >= FastChannel && FastChannel <= kHighestFirstChannel) {
        host.setPrefixText(rangeCommand(FastChannel));
        host.sendToAllPorts(host.prefixText());
    } else {
        wrap(host);
    }
}

void FastSweep::wrap(SweepHost& host)
{
    // The prefix box keeps showing the last range command.
    FastChannel = toInt16Clamped(lenientNumber(host.startChannelText()) - 1.0);
    host.sendToAllPorts(host.endCommandText());
}
