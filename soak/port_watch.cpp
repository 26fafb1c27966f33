#include "port_watch.h"

#include "main_window/form1.h"
#include "main_window/label_control.h"
#include "port_bank/port_status.h"
#include "soak_clock.h"

#include <QEvent>
#include <QMutexLocker>
#include <QTimer>

namespace {

constexpr int kNoteLimit = 20;

double toMs(qint64 ns)
{
    return double(ns) / 1e6;
}

} // namespace

PortWatch::PortWatch(Form1& form, int firstFaulty, QObject* parent)
    : QObject(parent), form_(form), firstFaulty_(firstFaulty)
{
    for (LabelControl* label : form_.statusLabels())
        label->installEventFilter(this);
    for (int i = firstFaulty_; i < kPorts; ++i) {
        connect(&form_.portBank().port(i), &SerialPort::deviceLost, this,
                [this, i] { noteClosed(i); });
    }
    // A label that never left green during a loss changes no colour when its device returns.
    auto* sampler = new QTimer(this);
    connect(sampler, &QTimer::timeout, this, [this] {
        for (int i = firstFaulty_; i < kPorts; ++i)
            look(i, false);
    });
    sampler->start(2);
}

void PortWatch::startLoad()
{
    loadRunning_ = true;
}

void PortWatch::intervalChanged(bool oneMs)
{
    if (oneMs == intervalOneMs_)
        return;
    intervalOneMs_ = oneMs;
    intervalChanges_.emplace_back(soakNowNs(), oneMs);
}

void PortWatch::noteLoss(int index, qint64 ns)
{
    QMutexLocker locker(&lock_);
    Outage outage;
    outage.lossNs = ns;
    outages_[std::size_t(index)].push_back(outage);
}

void PortWatch::noteReturn(int index, qint64 ns)
{
    QMutexLocker locker(&lock_);
    if (!outages_[std::size_t(index)].empty())
        outages_[std::size_t(index)].back().returnNs = ns;
}

bool PortWatch::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::PaletteChange) {
        for (int i = 0; i < kPorts; ++i) {
            if (watched == form_.statusLabel(std::size_t(i)))
                look(i, true);
        }
    }
    return QObject::eventFilter(watched, event);
}

void PortWatch::look(int index, bool colourChanged)
{
    const std::uint32_t colour = form_.statusLabel(std::size_t(index))->foreColor();
    const bool green = colour == PortStatusColour::Green;
    if (index < firstFaulty_) {
        if (colourChanged && loadRunning_ && !green) {
            ++counts_.healthyNotGreen;
            note(QStringLiteral("healthy port %1 turned %2")
                     .arg(index + 1)
                     .arg(colour, 6, 16, QLatin1Char('0')));
        }
        return;
    }

    const qint64 now = soakNowNs();
    QMutexLocker locker(&lock_);
    auto& outages = outages_[std::size_t(index)];
    if (outages.empty())
        return;
    Outage& outage = outages.back();
    // Until the device is back the port cannot open again, so a closed port seen now is the
    // loss taken note of (or a port that was not open when its device went).
    if (outage.closedNs < 0 && !form_.portBank().port(index).isOpen())
        outage.closedNs = now;
    if (outage.greenNs >= 0 || (!colourChanged && outage.returnNs < 0))
        return;
    if (colourChanged && !green) {
        if (outage.shownNs < 0)
            outage.shownNs = now;
        const int slot = colour == PortStatusColour::LightGray ? 0
                         : colour == PortStatusColour::Red     ? 1
                         : colour == PortStatusColour::Blue    ? 2
                                                               : 3;
        ++counts_.awayColours[std::size_t(slot)];
        return;
    }
    if (!green)
        return;
    if (outage.returnNs < 0) {
        ++counts_.greenWhileAway;
        note(QStringLiteral("port %1 turned green while its device was away").arg(index + 1));
        return;
    }
    // Open again, not still open on the device that went: the loss must have closed it first.
    if (outage.closedNs >= 0 && form_.portBank().port(index).isOpen()) {
        outage.greenNs = now;
        outage.slowPass = !intervalWasOneMsBetween(outage.returnNs, now);
    }
}

void PortWatch::noteClosed(int index)
{
    const qint64 now = soakNowNs();
    QMutexLocker locker(&lock_);
    auto& outages = outages_[std::size_t(index)];
    if (!outages.empty() && outages.back().closedNs < 0)
        outages.back().closedNs = now;
}

bool PortWatch::intervalWasOneMsBetween(qint64 fromNs, qint64 toNs) const
{
    bool oneMs = false;
    for (const auto& [at, state] : intervalChanges_) {
        if (at > toNs)
            break;
        if (at > fromNs)
            return false;
        oneMs = state;
    }
    return oneMs;
}

void PortWatch::note(const QString& text)
{
    if (counts_.notes.size() < kNoteLimit)
        counts_.notes.append(text);
}

bool PortWatch::everyReturnSettled() const
{
    QMutexLocker locker(&lock_);
    for (int i = firstFaulty_; i < kPorts; ++i) {
        const auto& outages = outages_[std::size_t(i)];
        if (!outages.empty() && (outages.back().returnNs < 0 || outages.back().greenNs < 0))
            return false;
    }
    return true;
}

PortWatch::Results PortWatch::results() const
{
    QMutexLocker locker(&lock_);
    Results results = counts_;
    for (int i = 0; i < kPorts; ++i) {
        for (const Outage& outage : outages_[std::size_t(i)]) {
            ++results.losses;
            if (outage.returnNs >= 0)
                ++results.returns;
            if (outage.closedNs >= 0)
                ++results.lossesClosed;
            else if (results.notes.size() < kNoteLimit)
                results.notes.append(
                    QStringLiteral("port %1 never read as closed after its device went")
                        .arg(i + 1));
            if (outage.shownNs >= 0 && (outage.returnNs < 0 || outage.shownNs < outage.returnNs)) {
                ++results.lossesShown;
                results.shownLostMs.push_back(toMs(outage.shownNs - outage.lossNs));
            }
            if (outage.greenNs < 0) {
                if (outage.returnNs >= 0 && results.notes.size() < kNoteLimit)
                    results.notes.append(
                        QStringLiteral("port %1 did not turn green after its device returned")
                            .arg(i + 1));
                continue;
            }
            ++results.returnsGreen;
            const double ms = toMs(outage.greenNs - outage.returnNs);
            if (outage.slowPass) {
                results.slowGreenMs.push_back(ms);
            } else {
                ++results.returnsGreenAtOneMs;
                results.greenMs.push_back(ms);
            }
        }
    }
    return results;
}
