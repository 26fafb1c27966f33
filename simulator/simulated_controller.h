#pragma once

#include "simulator/command_framer.h"
#include "simulator/controller_model.h"

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <random>

// One simulated controller as its serial line sees it: the bytes it receives become commands,
// the commands change its model, and what it answers comes back as bytes. Counts what it took
// and what it refused, and remembers the last command for the lamp panel.
class SimulatedController final : private CommandFramer::Sink {
public:
    struct Options {
        int channels = 32;
        std::vector<int> relays = {};
        bool acknowledge = false; // "OK" or "ERR" CR LF after every command
        int dropPercent = 0;      // this share of whole commands is ignored, unanswered
        std::uint32_t seed = 1;   // for the choice of what to drop
    };

    explicit SimulatedController(const Options& options);

    // Takes the bytes the line brought at nowMs and returns the replies they cause.
    QByteArray receive(QByteArrayView bytes, std::int64_t nowMs);

    const ControllerModel& model() const { return model_; }
    std::int64_t accepted() const { return accepted_; }
    std::int64_t rejected() const { return rejected_; }
    std::int64_t dropped() const { return dropped_; }
    // The last whole command received, its colons and '.' left out ("ZAVB5", "G").
    QByteArray lastCommand() const { return lastCommand_; }
    // Grows with every change of anything above, so a viewer can tell when to redraw.
    std::uint64_t revision() const { return revision_; }

private:
    void onCommand(std::string_view body) override;
    void onReadStatus() override;
    void onRejected() override;
    bool drop();

    Options options_;
    CommandFramer framer_;
    ControllerModel model_;
    std::mt19937 random_;
    QByteArray replies_;
    QByteArray lastCommand_;
    std::int64_t now_ = 0;
    std::int64_t accepted_ = 0;
    std::int64_t rejected_ = 0;
    std::int64_t dropped_ = 0;
    std::uint64_t revision_ = 0;
};
