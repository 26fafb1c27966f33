#include "simulator/simulated_controller.h"

SimulatedController::SimulatedController(const Options& options)
    : options_(options), model_(options.channels, options.relays), random_(options.seed)
{
}

QByteArray SimulatedController::receive(QByteArrayView bytes, std::int64_t nowMs)
{
    now_ = nowMs;
    replies_.clear();
    framer_.feed(bytes.data(), std::size_t(bytes.size()), *this);
    return replies_;
}

bool SimulatedController::drop()
{
    if (options_.dropPercent <= 0)
        return false;
    if (int(random_() % 100) >= options_.dropPercent)
        return false;
    ++dropped_;
    ++revision_;
    return true;
}

void SimulatedController::onCommand(std::string_view body)
{
    if (drop())
        return;
    lastCommand_ = QByteArray(body.data(), qsizetype(body.size()));
    ++revision_;
    if (model_.execute(body, now_)) {
        ++accepted_;
        if (options_.acknowledge)
            replies_ += "OK\r\n";
    } else {
        ++rejected_;
        if (options_.acknowledge)
            replies_ += "ERR\r\n";
    }
}

void SimulatedController::onReadStatus()
{
    if (drop())
        return;
    lastCommand_ = "G";
    ++accepted_;
    ++revision_;
    replies_ += model_.statusLine(); // the status line is the answer, with or without --ack
}

void SimulatedController::onRejected()
{
    ++rejected_;
    ++revision_;
    if (options_.acknowledge)
        replies_ += "ERR\r\n";
}
