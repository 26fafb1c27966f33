#include "stream_checker.h"

#include <QMutexLocker>
#include <algorithm>
#include <cstring>

namespace {

constexpr int kRangeColons = 19;
constexpr int kRangeSpan = 60;
constexpr int kLogLimit = 20;
// Wraps in a row between two channels of one sweep that the checker looks for, and readings of
// one step that it collects.
constexpr std::size_t kMaxWrapChain = 4;
constexpr std::size_t kMaxWrapReadings = 64;
// Trimming moves what is left of the common stream, so it waits until this much can go.
constexpr qsizetype kTrimStep = 256 * 1024;
// A stream this far behind the others is given up on rather than held in memory.
constexpr qint64 kMaxLag = 64 * 1024 * 1024;
// Past this a command is garbage, not a command; classified as it stands.
constexpr qsizetype kMaxCommand = 1024 * 1024;
const QByteArray kMarkerHead = QByteArrayLiteral(":::SOAKEDIT");

// "-"? digits, as decimalText() writes a channel: no blank, no "+", no leading zero.
bool parseNumber(QByteArrayView text, int* value)
{
    qsizetype i = 0;
    const bool negative = !text.isEmpty() && text[0] == '-';
    if (negative)
        ++i;
    const qsizetype digits = text.size() - i;
    if (digits < 1 || digits > 6 || (digits > 1 && text[i] == '0'))
        return false;
    int result = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        result = result * 10 + (text[i] - '0');
    }
    *value = negative ? -result : result;
    return true;
}

// The channel and "." that end a timed-sweep command.
bool parseChannelDot(QByteArrayView text, int* channel)
{
    return text.endsWith('.') && parseNumber(text.chopped(1), channel);
}

// ":::::::::::::::::::ZAVB<m>-<m+60>."
bool parseRange(QByteArrayView command, int* first)
{
    if (command.size() < kRangeColons + 8 || !command.endsWith('.'))
        return false;
    for (int i = 0; i < kRangeColons; ++i) {
        if (command[i] != ':')
            return false;
    }
    QByteArrayView body = command.sliced(kRangeColons).chopped(1);
    if (!body.startsWith("ZAVB"))
        return false;
    body = body.sliced(4);
    // The first number may be negative, so the dash is looked for after its first character.
    const qsizetype dash = body.indexOf('-', 1);
    int last = 0;
    return dash > 0 && parseNumber(body.first(dash), first) &&
           parseNumber(body.sliced(dash + 1), &last) && last == *first + kRangeSpan;
}

bool parseMarker(QByteArrayView command, int* marker)
{
    return command.startsWith(kMarkerHead) &&
           parseChannelDot(command.sliced(kMarkerHead.size()), marker) && *marker > 0;
}

QString printable(QByteArrayView bytes)
{
    QString text;
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7f)
            text += QLatin1Char(c);
        else
            text += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
    }
    return text;
}

} // namespace

StreamChecker::StreamChecker(int streamCount, const SweepBoxes& boxes)
    : streams_(std::size_t(streamCount)), boxes_(boxes)
{
}

void StreamChecker::announceEdit(int marker, const SweepBoxes& boxes)
{
    QMutexLocker locker(&editsLock_);
    edits_[marker] = boxes;
}

QByteArray StreamChecker::editMarker(int marker)
{
    return kMarkerHead + QByteArray::number(marker) + '.';
}

int StreamChecker::divergedStreams() const
{
    return int(std::count_if(streams_.begin(), streams_.end(),
                             [](const Stream& s) { return s.diverged; }));
}

void StreamChecker::feed(int stream, QByteArrayView bytes)
{
    if (!bytes.isEmpty())
        compare(stream, bytes);
}

void StreamChecker::compare(int index, QByteArrayView bytes)
{
    Stream& stream = streams_[std::size_t(index)];
    const qint64 at = stream.offset;
    stream.offset += bytes.size();
    if (stream.diverged)
        return;

    // The part that some other stream has delivered already must be the same bytes.
    const qint64 commonEnd = base_ + common_.size();
    const qsizetype overlap = qsizetype(std::min<qint64>(bytes.size(), commonEnd - at));
    const char* expected = common_.constData() + (at - base_);
    if (overlap > 0 && std::memcmp(expected, bytes.data(), std::size_t(overlap)) != 0) {
        qsizetype i = 0;
        while (expected[i] == bytes[i])
            ++i;
        const qsizetype before = qsizetype(std::min<qint64>(24, at + i - base_));
        const QByteArrayView had(expected + i - before, before);
        fault(
            &streamFaults_,
            QStringLiteral("stream %1 differs at byte %2: after \"%3\" expected \"%4\", got \"%5\"")
                .arg(index + 1)
                .arg(at + i)
                .arg(printable(had),
                     printable(QByteArrayView(expected + i, std::min<qsizetype>(40, overlap - i))),
                     printable(bytes.sliced(i, std::min<qsizetype>(40, overlap - i)))));
        stream.diverged = true;
        trimCommon();
        return;
    }
    // The rest is new: it becomes the common stream, and is read once, here.
    if (bytes.size() > overlap) {
        const QByteArrayView fresh = bytes.sliced(std::max<qsizetype>(overlap, 0));
        common_.append(fresh.data(), fresh.size());
        tokenize(fresh);
    }
    trimCommon();
}

void StreamChecker::trimCommon()
{
    const qint64 commonEnd = base_ + common_.size();
    qint64 lowest = commonEnd;
    for (const Stream& s : streams_) {
        if (!s.diverged)
            lowest = std::min(lowest, s.offset);
    }
    if (commonEnd - lowest > kMaxLag) {
        for (std::size_t i = 0; i < streams_.size(); ++i) {
            if (!streams_[i].diverged && commonEnd - streams_[i].offset > kMaxLag) {
                streams_[i].diverged = true;
                fault(&streamFaults_,
                      QStringLiteral("stream %1 fell more than %2 MB behind the others")
                          .arg(i + 1)
                          .arg(kMaxLag >> 20));
            }
        }
        return trimCommon();
    }
    if (lowest - base_ >= kTrimStep) {
        common_.remove(0, qsizetype(lowest - base_));
        base_ = lowest;
    }
}

void StreamChecker::tokenize(QByteArrayView bytes)
{
    // A command ends where the next one's leading ':' follows a character that is not ':'.
    qsizetype from = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != ':') {
            commandHasBody_ = true;
            continue;
        }
        if (!commandHasBody_)
            continue;
        command_.append(bytes.data() + from, i - from);
        classify(command_);
        command_.clear();
        commandHasBody_ = false;
        from = i;
    }
    command_.append(bytes.data() + from, bytes.size() - from);
    if (command_.size() > kMaxCommand) {
        classify(command_);
        command_.clear();
        commandHasBody_ = false;
    }
}

void StreamChecker::classify(const QByteArray& command)
{
    const qint64 index = commands_++;
    int value = 0;
    if (parseMarker(command, &value)) {
        if (value != lastMarker_ + 1)
            fault(&sequenceFaults_,
                  QStringLiteral("edit marker %1 after marker %2").arg(value).arg(lastMarker_));
        lastMarker_ = value;
        QMutexLocker locker(&editsLock_);
        const auto edit = edits_.find(value);
        if (edit == edits_.end()) {
            fault(&sequenceFaults_, QStringLiteral("edit marker %1 was never made").arg(value));
        } else {
            boxes_ = edit->second;
            edits_.erase(edit);
        }
        return;
    }
    // Checked before the range command: once the fast sweep ran, a timed command is the last
    // range command with a channel and "." after it.
    if (command.startsWith(boxes_.prefix) &&
        parseChannelDot(QByteArrayView(command).sliced(boxes_.prefix.size()), &value)) {
        sweepStep(timed_, value, index);
        return;
    }
    if (parseRange(command, &value)) {
        sweepStep(fast_, value, index);
        // The fast sweep shows each range command in the prefix box before sending it.
        boxes_.prefix = command;
        return;
    }
    if (command == boxes_.endCommand) {
        ends_.push_back({index, command, boxes_.startChannel, boxes_.endChannel});
        return;
    }
    ++presetSeen_[command];
    ++presets_;
}

// A sweep step advances to the next channel while that is within the end channel (and within
// the highest the sweep can send), or else sends the end command and sets the channel to one
// below the start channel. Boxes edited between two steps can make the step after a wrap wrap
// again, so between two channels of a sweep stand one or more of its end commands: any not yet
// matched since the sweep's previous command, each with the boxes as they were when it was sent.
bool StreamChecker::wrapsAt(int channel, int highestFirst, const EndCommand& end)
{
    return channel >= highestFirst || channel + 1 > end.endChannel;
}

// Collects the runs of end commands, in stream order from `from`, that take the sweep from
// `channel` to `target`: each one a wrap where it stands, the last one starting at target.
void StreamChecker::findWraps(const Sweep& sweep, int channel, int target, std::size_t from,
                              std::vector<std::size_t>& path,
                              std::vector<std::vector<std::size_t>>& found) const
{
    for (std::size_t i = from; i < ends_.size() && found.size() < kMaxWrapReadings; ++i) {
        const EndCommand& end = ends_[i];
        if (end.taken || end.index <= sweep.lastCommand ||
            !wrapsAt(channel, sweep.highestFirst, end))
            continue;
        path.push_back(i);
        if (end.startChannel == target && target <= boxes_.endChannel &&
            target <= sweep.highestFirst)
            found.push_back(path);
        if (path.size() < kMaxWrapChain)
            findWraps(sweep, end.startChannel - 1, target, i + 1, path, found);
        path.pop_back();
    }
}

void StreamChecker::sweepStep(Sweep& sweep, int channel, qint64 index)
{
    const bool advances =
        sweep.channel < sweep.highestFirst && sweep.channel + 1 <= boxes_.endChannel;
    if (!(advances && channel == sweep.channel + 1)) {
        std::vector<std::size_t> path;
        std::vector<std::vector<std::size_t>> found;
        findWraps(sweep, sweep.channel, channel, 0, path, found);
        if (!found.empty()) {
            // The fewest wraps, the earliest of them. Where a reading with more wraps exists, as
            // many end commands as it has more may be wraps that stay unmatched (this sweep's or,
            // matched in their place, the other's): so many are not counted against the presets.
            const auto byLength = [](const auto& a, const auto& b) { return a.size() < b.size(); };
            const auto chosen = std::min_element(found.begin(), found.end(), byLength);
            const std::size_t longest =
                std::max_element(found.begin(), found.end(), byLength)->size();
            if (longest > chosen->size()) {
                ++ambiguousWraps_;
                wrapsUnread_ += qint64(longest - chosen->size());
            }
            for (std::size_t i : *chosen)
                ends_[i].taken = true;
            sweep.wraps += qint64(chosen->size());
        } else {
            fault(&sequenceFaults_,
                  QStringLiteral("%1 sweep: channel %2 after %3 (start %4, end %5)")
                      .arg(QLatin1String(sweep.name))
                      .arg(channel)
                      .arg(sweep.channel)
                      .arg(boxes_.startChannel)
                      .arg(boxes_.endChannel));
        }
    }
    // Followed from here on either way, so that one fault is reported once.
    sweep.channel = channel;
    sweep.lastCommand = index;
    ++sweep.items;
    settleEndCommands();
}

// An end command older than both sweeps' last commands can no longer be a wrap. Unless it may
// have been one of two wraps in a row that the checker took for one, it is counted with the
// presets of its text, where the final count finds it as a command nobody clicked.
void StreamChecker::settleEndCommands()
{
    const qint64 settled = std::min(timed_.lastCommand, fast_.lastCommand);
    while (!ends_.empty() && ends_.front().index < settled) {
        countUnmatched(ends_.front());
        ends_.pop_front();
    }
}

void StreamChecker::countUnmatched(const EndCommand& end)
{
    if (end.taken)
        return;
    if (wrapsUnread_ > 0) {
        --wrapsUnread_;
        return;
    }
    ++presetSeen_[end.text];
    ++presets_;
}

void StreamChecker::finish(const QHash<QByteArray, qint64>& presetClicks, int markersSent)
{
    if (!command_.isEmpty())
        classify(command_);
    command_.clear();
    commandHasBody_ = false;

    const qint64 commonEnd = base_ + common_.size();
    for (std::size_t i = 0; i < streams_.size(); ++i) {
        if (!streams_[i].diverged && streams_[i].offset != commonEnd) {
            streams_[i].diverged = true;
            fault(&streamFaults_, QStringLiteral("stream %1 ended %2 bytes short of the others")
                                      .arg(i + 1)
                                      .arg(commonEnd - streams_[i].offset));
        }
    }
    if (lastMarker_ != markersSent)
        fault(&sequenceFaults_, QStringLiteral("edit markers: %1 sent, the last one seen %2")
                                    .arg(markersSent)
                                    .arg(lastMarker_));

    // A sweep stopped right after a wrap has end commands that no channel follows.
    for (const Sweep* sweep : {&timed_, &fast_}) {
        int channel = sweep->channel;
        for (EndCommand& end : ends_) {
            if (!end.taken && end.index > sweep->lastCommand &&
                wrapsAt(channel, sweep->highestFirst, end)) {
                end.taken = true;
                channel = end.startChannel - 1;
            }
        }
    }
    for (const EndCommand& end : ends_)
        countUnmatched(end);
    ends_.clear();

    QList<QByteArray> texts = presetSeen_.keys();
    for (auto it = presetClicks.begin(); it != presetClicks.end(); ++it) {
        if (!presetSeen_.contains(it.key()))
            texts.append(it.key());
    }
    std::sort(texts.begin(), texts.end());
    for (const QByteArray& text : texts) {
        const qint64 seen = presetSeen_.value(text);
        const qint64 clicked = presetClicks.value(text);
        if (text.isEmpty() || seen == clicked)
            continue;
        const QString shown =
            printable(QByteArrayView(text).first(std::min<qsizetype>(60, text.size())));
        fault(&presetFaults_,
              clicked == 0
                  ? QStringLiteral("unexpected command \"%1\" (%2 times)").arg(shown).arg(seen)
                  : QStringLiteral("preset \"%1\": clicked %2 times, "
                                   "arrived %3 times")
                        .arg(shown)
                        .arg(clicked)
                        .arg(seen));
    }
}

void StreamChecker::fault(qint64* counter, const QString& text)
{
    ++*counter;
    ++faultCount_;
    if (faultLog_.size() < kLogLimit)
        faultLog_.append(text);
}
