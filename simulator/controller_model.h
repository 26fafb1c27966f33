#pragma once

#include "simulator/channel_state.h"
#include "simulator/controller_timing.h"
#include "simulator/instruction.h"

#include <QByteArray>

#include <optional>
#include <string_view>
#include <vector>

// What one controller holds: its channels' states, its speeds and its board address. Channels
// are numbered from 0; commands that name channels beyond the last are clipped to the existing
// ones. Relay channels ignore the dimming letters a to k and keep their state.
class ControllerModel {
public:
    explicit ControllerModel(int channelCount, const std::vector<int>& relayChannels = {});

    // Parses and applies one command body at nowMs (the controller's clock). Returns false, and
    // changes nothing, when the body is not a valid command.
    bool execute(std::string_view body, std::int64_t nowMs);

    // The read-status reply: "G:", one state letter per channel, CR LF.
    QByteArray statusLine() const;

    int channelCount() const { return int(channels_.size()); }
    const ChannelState& channel(int index) const { return channels_[std::size_t(index)]; }
    bool isRelay(int index) const { return relays_[std::size_t(index)]; }
    const ControllerTiming& timing() const { return timing_; }
    // Set by SET_BOARD_ADR; FFFF clears it (wireless mode off).
    std::optional<std::uint16_t> boardAddress() const { return boardAddress_; }

private:
    void apply(const Instruction& instruction, std::int64_t nowMs);
    void setChannel(std::size_t index, char letter, std::int64_t nowMs);

    std::vector<ChannelState> channels_;
    std::vector<bool> relays_;
    std::vector<char> named_; // scratch: the letter a list command gives each channel, or 0
    ControllerTiming timing_;
    std::optional<std::uint16_t> boardAddress_;
    Instruction parsed_; // reused, so that a command allocates nothing once warmed up
};
