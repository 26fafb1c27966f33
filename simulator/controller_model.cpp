#include "simulator/controller_model.h"

#include <algorithm>

ControllerModel::ControllerModel(int channelCount, const std::vector<int>& relayChannels)
    : channels_(std::size_t(std::max(0, channelCount))), relays_(channels_.size(), false),
      named_(channels_.size(), '\0')
{
    for (int relay : relayChannels) {
        if (relay >= 0 && relay < channelCount)
            relays_[std::size_t(relay)] = true;
    }
}

bool ControllerModel::execute(std::string_view body, std::int64_t nowMs)
{
    if (!parseInstruction(body, parsed_))
        return false;
    apply(parsed_, nowMs);
    return true;
}

void ControllerModel::setChannel(std::size_t index, char letter, std::int64_t nowMs)
{
    ChannelState& channel = channels_[index];
    if (letter == 'Z' || (relays_[index] && isDimmingLetter(letter)))
        return;
    if (letter == 'Y') {
        if (channel.letter != 'A' && channel.letter != 'B')
            return; // only on and off can be inverted
        letter = channel.letter == 'A' ? 'B' : 'A';
    }
    // A fade starts from whatever the channel shows at this moment.
    channel.fromLevel = channelLevel(channel, timing_, nowMs);
    channel.letter = letter;
    channel.since = nowMs;
}

void ControllerModel::apply(const Instruction& instruction, std::int64_t nowMs)
{
    using Kind = Instruction::Kind;
    switch (instruction.kind) {
    case Kind::AllOn:
    case Kind::AllFlash:
        for (std::size_t i = 0; i < channels_.size(); ++i)
            setChannel(i, instruction.kind == Kind::AllOn ? 'A' : 'C', nowMs);
        return;
    case Kind::FlashSpeed:
        timing_.flashHalfPeriodMs = ControllerTiming::flashHalfPeriodFor(instruction.value);
        return;
    case Kind::RunningSpeed:
        timing_.runningStepMs = ControllerTiming::runningStepFor(instruction.value);
        return;
    case Kind::FadeSpeed:
        timing_.fadeFullMs = ControllerTiming::fadeFullFor(instruction.value);
        return;
    case Kind::BoardAddress:
        if (instruction.value == 0xFFFF)
            boardAddress_.reset();
        else
            boardAddress_ = std::uint16_t(instruction.value);
        return;
    case Kind::ListOthersOff:
    case Kind::ListOthersKept:
        break;
    }
    // Each channel takes the letter of the last item that names it, and that letter is read
    // against the channel's state from before the command: "1B,1Y" inverts the old state and
    // "1A,1Z" keeps it. A dimming letter on a relay is ignored: it names the channel (a ZAVB
    // list then keeps it) but does not override an earlier letter.
    std::fill(named_.begin(), named_.end(), '\0');
    const std::uint32_t count = std::uint32_t(channels_.size());
    for (const ChannelSetting& setting : instruction.settings) {
        // Clipped to the channels that exist: "0-9999" costs 32 steps, not 10000.
        const std::uint32_t last = std::min(setting.last, count == 0 ? 0 : count - 1);
        for (std::uint32_t channel = setting.first; channel <= last && channel < count; ++channel) {
            const char letter = setting.pattern[(channel - setting.first) % setting.pattern.size()];
            char& named = named_[channel];
            if (!relays_[channel] || !isDimmingLetter(letter))
                named = letter;
            else if (named == '\0')
                named = 'Z';
        }
    }
    const bool othersOff = instruction.kind == Kind::ListOthersOff;
    for (std::size_t i = 0; i < channels_.size(); ++i) {
        if (named_[i] != '\0')
            setChannel(i, named_[i], nowMs);
        else if (othersOff && channels_[i].letter != 'B')
            setChannel(i, 'B', nowMs);
    }
}

QByteArray ControllerModel::statusLine() const
{
    QByteArray line;
    line.reserve(qsizetype(channels_.size()) + 4);
    line += "G:";
    for (const ChannelState& channel : channels_)
        line += channel.letter;
    line += "\r\n";
    return line;
}
