#pragma once

#include "port_bank/port_observer.h"
#include "unattended_run/port_run_record.h"
#include "unattended_run/time_axis.h"

#include <QStringList>
#include <array>
#include <functional>

// The run as it went, port by port, on one time axis: what the verdict, the report's verdict
// columns and a later timeline are drawn from. It hears the port bank's events as an observer
// and the status checks' outcomes from the check; it keeps no traffic, so its size is fixed.
class RunRecord : public PortObserver {
public:
    static constexpr int kPorts = 16;
    using Clock = std::function<std::int64_t()>; // wall-clock ms since the epoch

    RunRecord(std::int64_t startMs, Clock clock);

    void setCommandLine(const QStringList& arguments) { commandLine_ = arguments; }
    const QStringList& commandLine() const { return commandLine_; }

    // A device named for port index from the start of the run.
    void bind(int index, const QString& device);

    // A check was judged; then each port's outcome, texts in visible form.
    void countCheck() { ++checksRun_; }
    std::uint64_t checksRun() const { return checksRun_; }
    void agreed(int index, std::int64_t answerMicros);
    void differed(int index, std::int64_t answerMicros, const QString& answer,
                  const QString& expected);
    void missed(int index, const QString& sent, const QString& expected);

    // The session log lost lines of port index from startMs to endMs. Told by the log's writer,
    // also after the run has ended (the log is finished last): a gap is evidence, not an event.
    void logGap(int index, std::int64_t startMs, std::int64_t endMs, std::uint64_t lines);

    // Open time counted up to now; call before reading the buckets.
    void bringUpToDate();
    // The run has ended: nothing more is recorded.
    void end();
    std::int64_t endMs() const { return endMs_; }

    const TimeAxis& axis() const { return axis_; }
    const PortRunRecord& port(int index) const { return ports_[std::size_t(index)]; }

    // PortObserver: opened, lost and returned are recorded; traffic is not.
    void commandSent(int, const QByteArray&) override {}
    void bytesReceived(int, const QByteArray&) override {}
    void portEvent(int index, Event event, const QString& detail) override;

private:
    // The axis widened, if need be, to hold now; returns now.
    std::int64_t reachNow();

    Clock clock_;
    TimeAxis axis_;
    std::array<PortRunRecord, kPorts> ports_;
    QStringList commandLine_;
    std::int64_t endMs_ = -1;
    std::uint64_t checksRun_ = 0;
};
