#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QStringList>
#include <deque>
#include <map>
#include <vector>

// The sweep boxes as the sweeps read them: the prefix and end command boxes as they go out on the
// wire, the start and end channel boxes as the whole channels they stand for.
struct SweepBoxes {
    QByteArray prefix = ":::::::::::ZAVB";
    QByteArray endCommand = ":::ZAVB.";
    int startChannel = 0;
    int endChannel = 31;
};

// Checks what the ports of a broadcast received. Every stream must be byte-identical to the
// others (a command lost, doubled or out of place on one port shows as a difference), and the
// common stream must be exactly what the window sends:
//  - timed-sweep commands (prefix, channel, ".") and fast-sweep range commands
//    (":::::::::::::::::::ZAVB<m>-<m+60>.") each follow their sweep's own order, channel after
//    channel up to the end channel, and back to the start channel only through an end command;
//  - the prefix of a timed command is the last range command sent, or the text typed into the
//    prefix box since;
//  - every other command is a preset, as many times as its text was clicked.
// No preset may send the end command's text: every end command is taken for a sweep's wrap.
// Edits of the sweep boxes are announced with their values and marked in the stream by a
// command of their own (editMarker), sent right after the edit, so the checker switches to the
// new values at exactly the point where the window did.
//
// Commands are told apart by their leading colons: every command the soak sends starts with
// ':' and has none after its first other character.
class StreamChecker {
public:
    StreamChecker(int streamCount, const SweepBoxes& boxes);

    // The edit command number `marker` stands for boxes. Thread-safe; call before sending it.
    void announceEdit(int marker, const SweepBoxes& boxes);
    static QByteArray editMarker(int marker);

    // Bytes that arrived on one stream, in order.
    void feed(int stream, QByteArrayView bytes);

    // The streams have ended. presetClicks: how often each preset text (as sent) was clicked;
    // markersSent: edit markers sent.
    void finish(const QHash<QByteArray, qint64>& presetClicks, int markersSent);

    qint64 streamBytes(int stream) const { return streams_[std::size_t(stream)].offset; }
    bool streamDiverged(int stream) const { return streams_[std::size_t(stream)].diverged; }
    int divergedStreams() const;

    qint64 faultCount() const { return faultCount_; }
    qint64 sequenceFaults() const { return sequenceFaults_; }
    qint64 presetFaults() const { return presetFaults_; }
    // The first faults, described.
    QStringList faultLog() const { return faultLog_; }

    qint64 commands() const { return commands_; }
    qint64 timedCommands() const { return timed_.items; }
    qint64 fastCommands() const { return fast_.items; }
    qint64 wraps() const { return timed_.wraps + fast_.wraps; }
    // Steps of a sweep that more than one run of end commands explains (two wraps in a row
    // around an edit of the boxes, read as one).
    qint64 ambiguousWraps() const { return ambiguousWraps_; }
    qint64 presetCommands() const { return presets_; }
    int markersSeen() const { return lastMarker_; }

private:
    struct Stream {
        qint64 offset = 0;
        bool diverged = false;
    };
    struct Sweep {
        const char* name;
        int highestFirst; // the last channel a step can send; past it the sweep wraps
        int channel = 0;
        qint64 lastCommand = -1; // index of its last command, -1 before the first
        qint64 items = 0;
        qint64 wraps = 0;
    };
    struct EndCommand {
        qint64 index;
        QByteArray text;
        int startChannel;
        int endChannel;
        bool taken = false; // matched to a sweep's wrap
    };

    void compare(int stream, QByteArrayView bytes);
    void trimCommon();
    void tokenize(QByteArrayView bytes);
    void classify(const QByteArray& command);
    void sweepStep(Sweep& sweep, int channel, qint64 index);
    static bool wrapsAt(int channel, int highestFirst, const EndCommand& end);
    void findWraps(const Sweep& sweep, int channel, int target, std::size_t from,
                   std::vector<std::size_t>& path,
                   std::vector<std::vector<std::size_t>>& found) const;
    void settleEndCommands();
    void countUnmatched(const EndCommand& end);
    void fault(qint64* counter, const QString& text);

    std::vector<Stream> streams_;
    // The common stream from offset base_ on, as the first stream to get there received it.
    QByteArray common_;
    qint64 base_ = 0;

    QByteArray command_;
    bool commandHasBody_ = false;
    qint64 commands_ = 0;

    SweepBoxes boxes_;
    Sweep timed_{"timed", 32767};
    Sweep fast_{"fast", 32767 - 60};
    std::deque<EndCommand> ends_;
    QHash<QByteArray, qint64> presetSeen_;
    qint64 presets_ = 0;
    qint64 ambiguousWraps_ = 0;
    qint64 wrapsUnread_ = 0; // wraps that longer readings have and the chosen ones do not
    int lastMarker_ = 0;

    QMutex editsLock_;
    std::map<int, SweepBoxes> edits_;

    qint64 faultCount_ = 0;
    qint64 sequenceFaults_ = 0;
    qint64 presetFaults_ = 0;
    qint64 streamFaults_ = 0;
    QStringList faultLog_;
};
