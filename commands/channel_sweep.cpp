#include "commands/channel_sweep.h"

#include "commands/decimal_text.h"
#include "commands/integer_rounding.h"
#include "commands/lenient_number.h"
#include "commands/sweep_host.h"

#include <algorithm>
#include <limits>

void ChannelSweep::step(SweepHost& host)
{
    // Advance before comparing: after a wrap the counter stands one below the start channel.
    // At the top of the 16-bit range there is no next channel, so that step wraps instead.
    const bool advanced = CurrentChannel < std::numeric_limits<std::int16_t>::max();
    if (advanced)
        ++CurrentChannel;

    // Compared as a double, so a fractional end acts as its integer part (31.5 ends after 31).
    const double endChannel = lenientNumber(host.endChannelText());
    if (advanced && endChannel >= CurrentChannel)
        sendChannel(host);
    else
        wrap(host);
}

void ChannelSweep::sendChannel(SweepHost& host)
{
    const QString channel = decimalText(CurrentChannel);
    host.showChannel(channel);
    host.sendToAllPorts(host.prefixText() + channel + u'.');
}

void ChannelSweep::wrap(SweepHost& host)
{
    // Rounded only after subtracting 1: a start of 2.5 gives 1.5, rounded to 2, first channel 3.
    CurrentChannel = toInt16Clamped(lenientNumber(host.startChannelText()) - 1.0);
    host.sendToAllPorts(host.endCommandText());
}

int ChannelSweep::intervalFromText(QStringView text)
{
    // A timer takes 0 to 65535 ms; anything outside (negative, huge, infinite) is clamped.
    return std::clamp<int>(toInt32Clamped(lenientNumber(text)), 0, 65535);
}
