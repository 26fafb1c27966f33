// Bad input in every text box of the window: empty and blank texts, number look-alikes, values
// far beyond every range, control characters, broken Unicode and a million characters. For each
// box the text is entered (typed, where an operator could type it), whatever reads that box is
// run, what reaches a real pseudo-terminal is checked byte for byte, and the window must still
// handle a click within 100 ms. The run prints the whole table with its timings; in short:
//
//   presetBox[0..8]
//                 any text       the button sends it whole, unchanged, as GB18030 ('' sends
//                                nothing; bad UTF-8 was already U+FFFD, 84 31 A4 37 on the wire)
//                 lone surrogate a lone low surrogate, or a high one before more text, goes out
//                                as the converter's substitute byte 0x1A
//                 ends in U+D800 a dangling high surrogate goes out as 0x1A too: U+D800 alone
//                                sends the one substitute byte
//                 1M characters  refused whole by the port, whose output limit is 64 KiB (a
//                                deliberate bound): nothing on the wire, the next command arrives
//   prefixBox     any text       each timed step sends it + channel + "." (as presetBox, so 1M
//                                is refused); the fast sweep overwrites it with its block command
//   endCommandBox any text       sent at every wrap of both sweeps (as presetBox)
//   startChannelBox
//                 reads 0        '', blanks, '-', '&H', NaN, inf, -Infinity, controls, bad
//                                UTF-8, lone U+D800, 1M 'x': start channel 0
//                 '1e308' etc.   wrap value held at 32767, which has no next channel: after the
//                                first wrap both sweeps send only the end command
//                 '-1e308'       wrap value held at -32768: the cycle starts at -32767
//                 others         '1.#INF' reads 1, '3' NUL '9' reads 3, '7' U+DC00 '7' reads 7
//   endChannelBox reads 0        as above: end channel 0
//                 '1e308' etc.   the timed sweep runs up to 32767 and wraps; the fast sweep's
//                                last block starts at 32707, then it wraps
//                 '-1e308', '-5' every step wraps: only the end command
//   sweepIntervalBox
//                 reads <= 0     opening pass and sweep timer interval 0: no ticks
//                 '1e308' etc.   both intervals 65535 (no tick within the test's wait)
//                 '1.#INF'       1 ms ('3' NUL '9' 3 ms, '7' U+DC00 '7' 7 ms): both tick
//   totalChannelsBox, currentChannelBox
//                 any text       nothing reads them; the next timed step overwrites the current
//                                channel box
//   settingsBox   any text       refused: open ports stay green with the settings before, and a
//                                port that opens afterwards opens green with them too
//   receiveBox[0..15]
//                 any text       kept until the port's next reply replaces it
//   receiveLog    <= 1000 chars  kept, the log length label shows the length, caret at the end
//                 1M characters  emptied at once, the log length label "0"
//   referenceBox  any text       nothing reads it
//   every box     1M characters  entered in 0.1 to 0.3 s (receiveLog up to 0.55 s), repainted in
//                                up to 0.3 s more; after that the window handles a click at once
#include "main_window/command_button.h"
#include "main_window/form1.h"
#include "main_window/label_control.h"
#include "main_window/multi_line_text_box.h"
#include "main_window/text_box.h"
#include "main_window/window_timer.h"
#include "port_bank/explicit_port_directory.h"
#include "port_bank/serial_port.h"
#include "pty_peer.h"

#include <QtTest>
#include <fcntl.h>
#include <functional>
#include <limits>
#include <optional>
#include <termios.h>
#include <unistd.h>

namespace {

// 0xFF is no byte of any GB18030 text, so in an expected wire it stands for the one byte that
// the converter puts in place of a character GB18030 cannot hold (a lone surrogate).
constexpr char kSubstitute = '\xff';
// Values from here on are beyond every range of the window (channels, intervals).
constexpr double kHuge = 1e20;

struct BadInput {
    QString name; // as the table shows it
    QString text;
    bool typed;      // short and printable: entered with key clicks, as an operator would
    double reads;    // its value by the lenient number rule
    QByteArray wire; // its GB18030 bytes
    int characters;  // its length as the receive log counts it
};

const QList<BadInput>& badInputs()
{
    static const QList<BadInput> inputs = [] {
        const QByteArray replacement("\x84\x31\xa4\x37"); // U+FFFD in GB18030
        const QString controls = QString::fromLatin1("\x01\x02\t\r\n\x1b[2J");
        const QString nines = QStringLiteral("99999999999999999999");
        const double infinity = std::numeric_limits<double>::infinity();
        return QList<BadInput>{
            {"''", QString(), false, 0, QByteArray(), 0},
            {"blanks", "   ", true, 0, "   ", 3},
            {"'-'", "-", true, 0, "-", 1},
            {"'&H'", "&H", true, 0, "&H", 2},
            {"'1e308'", "1e308", true, 1e308, "1e308", 5},
            {"'-1e308'", "-1e308", true, -1e308, "-1e308", 6},
            {"'" + nines + "'", nines, false, 1e20, nines.toLatin1(), 20},
            {"'NaN'", "NaN", true, 0, "NaN", 3},
            {"'nan'", "nan", false, 0, "nan", 3},
            {"'inf'", "inf", true, 0, "inf", 3},
            {"'-Infinity'", "-Infinity", true, 0, "-Infinity", 9},
            {"'1.#INF'", "1.#INF", true, 1, "1.#INF", 6},
            {"'-5'", "-5", true, -5, "-5", 2},
            {"controls", controls, false, 0, QByteArray("\x01\x02\t\r\n\x1b[2J"), 9},
            {"Unicode controls", QStringLiteral("\r\u0085\u2028\u2029\uFEFF\uFDD0\x7f"), false, 0,
             QByteArray("\r\x81\x30\x81\x35\x81\x36\xa6\x35\x81\x36\xa6\x36\x84\x31\x95\x33"
                        "\x84\x30\xfa\x32\x7f"),
             7},
            {"'3' NUL '9'", QStringLiteral("3") + QChar(0) + QStringLiteral("9"), false, 3,
             QByteArray::fromHex("330039"), 3},
            {"bad UTF-8", QString::fromUtf8("\xff\xfe\xc3\x28"), false, 0,
             replacement.repeated(3) + "(", 4},
            {"lone U+D800", QString(QChar(0xD800)), false, 0, QByteArray(1, kSubstitute), 1},
            {"'7' U+DC00 '7'", QStringLiteral("7") + QChar(0xDC00) + QStringLiteral("7"), false, 7,
             QByteArray("7") + kSubstitute + "7", 3},
            {"1M '9'", QString(1000000, QLatin1Char('9')), false, infinity,
             QByteArray(1000000, '9'), 1000000},
            {"1M 'x'", QString(1000000, QLatin1Char('x')), false, 0, QByteArray(1000000, 'x'),
             1000000},
        };
    }();
    return inputs;
}

// A window whose port 1 (or the given ports) are ptys, with the timers held, so that each case
// runs the handlers itself, and the ports opened by one pass.
struct Bench {
    explicit Bench(const QMap<int, QString>& ports, bool openNow = true)
        : directory(ports), form(directory)
    {
        form.sweepTimer()->setEnabled(false);
        form.receivePollTimer()->setEnabled(false);
        form.openingPassTimer()->setEnabled(false);
        if (openNow)
            form.openingPass();
    }
    bool isGreen(int index) const
    {
        return form.statusLabel(index)->foreColor() == 0x00FF00u &&
               form.statusLabel(index)->text() == QStringLiteral("串口%1").arg(index + 1);
    }
    QByteArray status(int index) const
    {
        return QStringLiteral("port %1 shows %2 in %3")
            .arg(index + 1)
            .arg(form.statusLabel(index)->text())
            .arg(form.statusLabel(index)->foreColor(), 6, 16, QLatin1Char('0'))
            .toUtf8();
    }
    ExplicitPortDirectory directory;
    Form1 form;
};

// How long an event posted now waits for what the window has pending, or -1 if it was not
// handled within 5 s.
qint64 eventDelay(QObject* context, const std::function<void()>& action)
{
    qint64 delay = -1;
    QElapsedTimer clock;
    clock.start();
    QMetaObject::invokeMethod(
        context,
        [&] {
            delay = clock.elapsed();
            action();
        },
        Qt::QueuedConnection);
    const QDeadlineTimer deadline(5000);
    while (delay < 0 && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return delay;
}

struct Entry {
    qint64 enterMs;   // setting or typing the text, change handlers included
    qint64 repaintMs; // then handling what that left pending: layout and repaint
};

// Enters the text as the operator would: typed over a selection of the whole box, or pasted
// (setText raises the box's change handler just as typing does).
template <typename Box> Entry enter(Box* box, const BadInput& input)
{
    QElapsedTimer clock;
    clock.start();
    if (input.typed) {
        box->selectAll();
        QTest::keyClicks(box, input.text);
    } else {
        box->setText(input.text);
    }
    const qint64 enterMs = clock.restart();
    QCoreApplication::processEvents();
    return {enterMs, clock.elapsed()};
}

// Posts a click on the clear button behind whatever the window has pending; returns how many
// milliseconds after posting it was handled, or -1 if it was not handled within 5 s.
qint64 clickDelay(Form1& form)
{
    return eventDelay(form.clearLogButton(),
                      [&form] { QTest::mouseClick(form.clearLogButton(), Qt::LeftButton); });
}

// Fast steps one at a time: a queued call switches the fast sweep on, and a timer that is due at
// once clicks it off again from inside the sweep's first yield, as an operator's click would
// arrive. (A second click queued up front would not do: a yield from inside a queued call does
// not deliver what was queued before it.)
bool runFastSteps(Form1& form, int steps)
{
    for (int i = 0; i < steps; ++i) {
        bool started = false;
        QMetaObject::invokeMethod(
            &form,
            [&] {
                started = true;
                QTimer::singleShot(0, &form, [&form] { form.clickFastSweep(); });
                form.clickFastSweep();
            },
            Qt::QueuedConnection);
        const QDeadlineTimer deadline(5000);
        while (!started && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (!started || form.fastSweepButton()->tag() != u"0")
            return false;
    }
    return true;
}

void runTimedSteps(Form1& form, int steps)
{
    for (int i = 0; i < steps; ++i)
        form.sweepStep();
}

const QByteArray kMarker = "<end of case>";

// The bytes that reached a peer before the marker; nothing when the marker does not arrive
// within 5 s.
std::optional<QByteArray> readUpToMarker(PtyPeer& peer)
{
    QByteArray wire;
    const QDeadlineTimer deadline(5000);
    while (!wire.endsWith(kMarker) && !deadline.hasExpired())
        wire += peer.readAvailable(20);
    if (!wire.endsWith(kMarker))
        return std::nullopt;
    wire.chop(kMarker.size());
    return wire;
}

// Everything that reached the wire so far: the bytes before a marker that the broadcast sends
// behind them.
std::optional<QByteArray> wireSoFar(Form1& form, PtyPeer& peer)
{
    form.SendToAllPorts(QString::fromLatin1(kMarker));
    return readUpToMarker(peer);
}

bool sameWire(const QByteArray& got, const QByteArray& expected)
{
    if (got.size() != expected.size())
        return false;
    for (qsizetype i = 0; i < got.size(); ++i) {
        const bool substituted = expected[i] == kSubstitute && (got[i] == '?' || got[i] == '\x1a');
        if (got[i] != expected[i] && !substituted)
            return false;
    }
    return true;
}

QString shown(const QByteArray& bytes)
{
    const QString start = QString::fromLatin1(bytes.left(120).toPercentEncoding(":.-()[] "));
    return QStringLiteral("%1 bytes: %2%3")
        .arg(bytes.size())
        .arg(start, bytes.size() > 120 ? QStringLiteral("...") : QString());
}

// What the port does with one command: it takes it whole, or, past its output limit, refuses it
// whole.
QByteArray onWire(const QByteArray& command)
{
    return command.size() <= SerialPort::kOutputLimit ? command : QByteArray();
}

const QByteArray kPrefix = ":::::::::::ZAVB";
const QByteArray kEnd = ":::ZAVB.";

QByteArray timedCommand(const QByteArray& prefix, int channel)
{
    return onWire(prefix + QByteArray::number(channel) + '.');
}

QByteArray rangeCommand(int first)
{
    return ":::::::::::::::::::ZAVB" + QByteArray::number(first) + '-' +
           QByteArray::number(first + 60) + '.';
}

// The commands of a sweep written as "1 2 E 0": a channel or block, or E for the end command.
QByteArray commands(const QString& steps, const std::function<QByteArray(int)>& command,
                    const QByteArray& end)
{
    QByteArray wire;
    for (const QString& step : steps.split(u' ', Qt::SkipEmptyParts))
        wire += step == u"E" ? onWire(end) : command(step.toInt());
    return wire;
}

QByteArray timedCommands(const QString& steps, const QByteArray& end = kEnd)
{
    return commands(
        steps, [](int n) { return timedCommand(kPrefix, n); }, end);
}

QByteArray fastCommands(const QString& steps, const QByteArray& end = kEnd)
{
    return commands(steps, rangeCommand, end);
}

// The timed sweep with the design-time boxes, from a fresh window: 1 to 31, end, 0 to 31, ...
QByteArray designTimeCycle(int ticks)
{
    QStringList steps;
    int channel = 0;
    for (int tick = 0; tick < ticks; ++tick) {
        if (++channel > 31) {
            steps << QStringLiteral("E");
            channel = -1;
        } else {
            steps << QString::number(channel);
        }
    }
    return timedCommands(steps.join(u' '));
}

bool isHuge(double value)
{
    return value >= kHuge;
}

bool isHugeNegative(double value)
{
    return value <= -kHuge;
}

// End channel 2, the start channel reading `start`, eight steps from a fresh window: 1, 2, the
// end command, then the cycle from the start channel. The same for both sweeps.
QString startChannelSteps(double start)
{
    if (isHuge(start)) // the wrap value stops at 32767, from where there is no next channel
        return QStringLiteral("1 2 E E E E E E");
    if (isHugeNegative(start)) // the wrap value stops at -32768
        return QStringLiteral("1 2 E -32767 -32766 -32765 -32764 -32763");
    const QMap<double, QString> steps{
        {0, QStringLiteral("1 2 E 0 1 2 E 0")},       {1, QStringLiteral("1 2 E 1 2 E 1 2")},
        {3, QStringLiteral("1 2 E E E E E E")},       {7, QStringLiteral("1 2 E E E E E E")},
        {-5, QStringLiteral("1 2 E -5 -4 -3 -2 -1")},
    };
    return steps.value(start);
}

// The counters one step below 32765 (timed) and 32704 (fast), the start channel -2, then the
// end channel reading `end`, eight steps.
QString endChannelTimedSteps(double end)
{
    if (isHuge(end)) // the counter cannot go past 32767: that step wraps
        return QStringLiteral("32765 32766 32767 E -2 -1 0 1");
    if (isHugeNegative(end))
        return QStringLiteral("E E E E E E E E");
    return QMap<double, QString>{
        {0, QStringLiteral("E -2 -1 0 E -2 -1 0")}, {1, QStringLiteral("E -2 -1 0 1 E -2 -1")},
        {3, QStringLiteral("E -2 -1 0 1 2 3 E")},   {7, QStringLiteral("E -2 -1 0 1 2 3 4")},
        {-5, QStringLiteral("E E E E E E E E")},
    }
        .value(end);
}

QString endChannelFastSteps(double end)
{
    if (isHuge(end)) // no block can start past 32707: that step wraps
        return QStringLiteral("32704 32705 32706 32707 E -2 -1 0");
    return endChannelTimedSteps(end);
}

// sweepIntervalBox's value as an interval in milliseconds: rounded, and held within 0 to 65535.
int expectedInterval(double reads)
{
    if (isHuge(reads))
        return 65535;
    if (isHugeNegative(reads))
        return 0;
    return QMap<double, int>{{0, 0}, {1, 1}, {3, 3}, {7, 7}, {-5, 0}}.value(reads, -1);
}

// What the port did with one command, from its expected bytes and the bytes that arrived.
QString describeWire(const QByteArray& command, const QByteArray& arrived, bool asExpected)
{
    if (!asExpected)
        return QStringLiteral("WRONG: arrived %1").arg(shown(arrived));
    if (command.isEmpty())
        return QStringLiteral("empty command: nothing on the wire");
    if (command.size() > SerialPort::kOutputLimit)
        return QStringLiteral("refused whole by the port (%1 bytes > 64 KiB output limit): "
                              "nothing on the wire, the next command arrives")
            .arg(command.size());
    QString text = command.size() == 1
                       ? QStringLiteral("sent whole (1 byte)")
                       : QStringLiteral("sent whole (%1 bytes)").arg(command.size());
    const qsizetype substitute = command.indexOf(kSubstitute);
    if (substitute >= 0 && substitute < arrived.size())
        text += QStringLiteral(", the surrogate as byte 0x%1")
                    .arg(quint8(arrived.at(substitute)), 2, 16, QLatin1Char('0'));
    return text;
}

bool slaveRunsAt9600With2StopBits(const QString& slavePath)
{
    const int fd = ::open(QFile::encodeName(slavePath).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    termios tio{};
    const bool read = ::tcgetattr(fd, &tio) == 0;
    ::close(fd);
    return read && cfgetospeed(&tio) == B9600 && (tio.c_cflag & CSTOPB) != 0;
}

} // namespace

class TestWindowBadInput : public QObject {
    Q_OBJECT
private slots:
    void presetBoxesSendTheirTextWhole_data();
    void presetBoxesSendTheirTextWhole();
    void prefixBoxIsSentAsItIs_data();
    void prefixBoxIsSentAsItIs();
    void endCommandBoxIsSentAsItIs_data();
    void endCommandBoxIsSentAsItIs();
    void startChannelBoxIsReadAsANumber_data();
    void startChannelBoxIsReadAsANumber();
    void endChannelBoxIsReadAsANumber_data();
    void endChannelBoxIsReadAsANumber();
    void intervalBoxKeepsBothTimersInRange_data();
    void intervalBoxKeepsBothTimersInRange();
    void displayAndTotalBoxesChangeNothing_data();
    void displayAndTotalBoxesChangeNothing();
    void refusedSettingsKeepThePreviousOnes_data();
    void refusedSettingsKeepThePreviousOnes();
    void receiveBoxesAreReplacedByTheNextReply_data();
    void receiveBoxesAreReplacedByTheNextReply();
    void receiveLogCountsAndEmptiesItself_data();
    void receiveLogCountsAndEmptiesItself();
    void referenceBoxChangesNothing_data();
    void referenceBoxChangesNothing();
    void cleanupTestCase();

private:
    // After every case: the window answers a click at once, and entering the text took less than
    // a second.
    void finishCase(Form1& form, const Entry& entry);
    void note(const QString& description);

    struct Line {
        QString box; // "presetBox", "endChannelBox", ...
        int index;   // within an array, else -1
        int input;
        QString description;
    };
    QList<Line> table_;
    // Per box: the slowest figure, in ms, and its input.
    QMap<QString, QPair<qint64, QString>> slowestEntry_;
    QMap<QString, QPair<qint64, QString>> slowestRepaint_;
    QMap<QString, QPair<qint64, QString>> slowestClick_;
};

namespace {

// "presetBox" for the case "presetBox[3] '-'".
QString boxOfThisCase()
{
    return QString::fromLatin1(QTest::currentDataTag()).section(u' ', 0, 0).section(u'[', 0, 0);
}

void addRows(const QString& box, int index = -1)
{
    const QString name = index < 0 ? box : QStringLiteral("%1[%2]").arg(box).arg(index);
    for (int i = 0; i < badInputs().size(); ++i)
        QTest::addRow("%s %s", qPrintable(name), qPrintable(badInputs()[i].name)) << i << index;
}

void addColumns()
{
    QTest::addColumn<int>("input");
    QTest::addColumn<int>("index");
}

} // namespace

void TestWindowBadInput::note(const QString& description)
{
    QFETCH(int, input);
    QFETCH(int, index);
    table_.append({boxOfThisCase(), index, input, description});
}

void TestWindowBadInput::finishCase(Form1& form, const Entry& entry)
{
    QFETCH(int, input);
    const QString box = boxOfThisCase();
    const QString inputName = badInputs()[input].name;
    const qint64 delay = clickDelay(form);
    const auto keepSlowest = [&](QMap<QString, QPair<qint64, QString>>& slowest, qint64 ms) {
        if (!slowest.contains(box) || ms > slowest[box].first)
            slowest[box] = {ms, inputName};
    };
    keepSlowest(slowestEntry_, entry.enterMs);
    keepSlowest(slowestRepaint_, entry.repaintMs);
    keepSlowest(slowestClick_, delay);
    // How fast is a figure of the table printed at the end, not a pass mark: the window must
    // only get to the click at all.
    QVERIFY2(delay >= 0, "the window did not handle a click within 5 s");
    QVERIFY(form.receiveLog()->text().isEmpty()); // the clear button did its work
}

// presetBox[0..8]: the button sends the box's text unchanged, as GB18030, to every open port.
void TestWindowBadInput::presetBoxesSendTheirTextWhole_data()
{
    addColumns();
    for (int i = 0; i < Roster::kPresets; ++i)
        addRows(QStringLiteral("presetBox"), i);
}

void TestWindowBadInput::presetBoxesSendTheirTextWhole()
{
    QFETCH(int, input);
    QFETCH(int, index);
    const BadInput& in = badInputs()[input];
    PtyPeer peer;
    Bench bench({{1, peer.linkPath()}});
    Form1& form = bench.form;
    QVERIFY2(bench.isGreen(0), bench.status(0));

    const Entry entry = enter(form.presetBox(index), in);
    QCOMPARE(form.presetBox(index)->text(), in.text); // no length limit, nothing filtered
    QTest::mouseClick(form.presetButton(index), Qt::LeftButton);
    // The next command from the same box goes out as usual.
    form.presetBox(index)->setText(QStringLiteral(":::ZAVA."));
    QTest::mouseClick(form.presetButton(index), Qt::LeftButton);

    const std::optional<QByteArray> wire = wireSoFar(form, peer);
    QVERIFY2(wire, "the port stopped taking commands");
    const QByteArray expected = onWire(in.wire) + ":::ZAVA.";
    const bool asExpected = sameWire(*wire, expected);
    note(describeWire(in.wire, wire->chopped(qMin<qsizetype>(wire->size(), 8)), asExpected));
    finishCase(form, entry);
    QVERIFY2(asExpected,
             qPrintable(QStringLiteral("got %1\nwant %2").arg(shown(*wire), shown(expected))));
}

// prefixBox: the timed sweep sends it, then the channel and "."; the fast sweep overwrites it.
void TestWindowBadInput::prefixBoxIsSentAsItIs_data()
{
    addColumns();
    addRows(QStringLiteral("prefixBox"));
}

void TestWindowBadInput::prefixBoxIsSentAsItIs()
{
    QFETCH(int, input);
    const BadInput& in = badInputs()[input];
    PtyPeer peer;
    Bench bench({{1, peer.linkPath()}});
    Form1& form = bench.form;

    const Entry entry = enter(form.prefixBox(), in);
    QCOMPARE(form.prefixBox()->text(), in.text);
    runTimedSteps(form, 3);
    QCOMPARE(form.currentChannelBox()->text(), QStringLiteral("3"));
    QVERIFY(runFastSteps(form, 2));
    QCOMPARE(form.prefixBox()->text(), QString::fromLatin1(rangeCommand(2)));
    runTimedSteps(form, 1);

    const std::optional<QByteArray> wire = wireSoFar(form, peer);
    QVERIFY2(wire, "the port stopped taking commands");
    QByteArray expected;
    for (int channel = 1; channel <= 3; ++channel)
        expected += timedCommand(in.wire, channel);
    // The fast sweep's last block command is the prefix of the next timed step.
    expected += fastCommands(QStringLiteral("1 2")) + timedCommand(rangeCommand(2), 4);
    const bool asExpected = sameWire(*wire, expected);
    note(QStringLiteral("timed step: prefix + channel + '.' %1; the fast sweep overwrites it")
             .arg(describeWire(in.wire + "1.", *wire, asExpected)));
    finishCase(form, entry);
    QVERIFY2(asExpected,
             qPrintable(QStringLiteral("got %1\nwant %2").arg(shown(*wire), shown(expected))));
}

// endCommandBox: both sweeps send it unchanged at every wrap.
void TestWindowBadInput::endCommandBoxIsSentAsItIs_data()
{
    addColumns();
    addRows(QStringLiteral("endCommandBox"));
}

void TestWindowBadInput::endCommandBoxIsSentAsItIs()
{
    QFETCH(int, input);
    const BadInput& in = badInputs()[input];
    PtyPeer peer;
    Bench bench({{1, peer.linkPath()}});
    Form1& form = bench.form;
    form.endChannelBox()->setText(QStringLiteral("0")); // every other step wraps

    const Entry entry = enter(form.endCommandBox(), in);
    QCOMPARE(form.endCommandBox()->text(), in.text);
    runTimedSteps(form, 3);
    QVERIFY(runFastSteps(form, 3));

    const std::optional<QByteArray> wire = wireSoFar(form, peer);
    QVERIFY2(wire, "the port stopped taking commands");
    const QByteArray expected = timedCommands(QStringLiteral("E 0 E"), in.wire) +
                                fastCommands(QStringLiteral("E 0 E"), in.wire);
    const bool asExpected = sameWire(*wire, expected);
    note(QStringLiteral("at each wrap of either sweep: %1")
             .arg(describeWire(in.wire, *wire, asExpected)));
    finishCase(form, entry);
    QVERIFY2(asExpected,
             qPrintable(QStringLiteral("got %1\nwant %2").arg(shown(*wire), shown(expected))));
}

// startChannelBox: read as a number at every wrap; the counter is set one below it.
void TestWindowBadInput::startChannelBoxIsReadAsANumber_data()
{
    addColumns();
    addRows(QStringLiteral("startChannelBox"));
}

void TestWindowBadInput::startChannelBoxIsReadAsANumber()
{
    QFETCH(int, input);
    const BadInput& in = badInputs()[input];
    const QString steps = startChannelSteps(in.reads);
    QVERIFY2(!steps.isEmpty(), "no worked sequence for this value");
    PtyPeer peer;
    Bench bench({{1, peer.linkPath()}});
    Form1& form = bench.form;
    form.endChannelBox()->setText(QStringLiteral("2"));

    const Entry entry = enter(form.startChannelBox(), in);
    QCOMPARE(form.startChannelBox()->text(), in.text);
    runTimedSteps(form, 8);
    QVERIFY(runFastSteps(form, 8));

    const std::optional<QByteArray> wire = wireSoFar(form, peer);
    QVERIFY2(wire, "the port stopped taking commands");
    const QByteArray expected = timedCommands(steps) + fastCommands(steps);
    QVERIFY2(*wire == expected,
             qPrintable(QStringLiteral("got %1\nwant %2").arg(shown(*wire), shown(expected))));
    note(QStringLiteral("reads %1; end 2, both sweeps: %2").arg(in.reads).arg(steps));
    finishCase(form, entry);
}

// endChannelBox: read as a number at every step of both sweeps.
void TestWindowBadInput::endChannelBoxIsReadAsANumber_data()
{
    addColumns();
    addRows(QStringLiteral("endChannelBox"));
}

void TestWindowBadInput::endChannelBoxIsReadAsANumber()
{
    QFETCH(int, input);
    const BadInput& in = badInputs()[input];
    const QString timedSteps = endChannelTimedSteps(in.reads);
    const QString fastSteps = endChannelFastSteps(in.reads);
    QVERIFY2(!timedSteps.isEmpty(), "no worked sequence for this value");
    PtyPeer peer;
    Bench bench({{1, peer.linkPath()}});
    Form1& form = bench.form;
    // Both counters near the top of the channel range: one wrap each with these starts.
    form.endChannelBox()->setText(QStringLiteral("0"));
    form.startChannelBox()->setText(QStringLiteral("32765"));
    runTimedSteps(form, 1);
    form.startChannelBox()->setText(QStringLiteral("32704"));
    QVERIFY(runFastSteps(form, 1));
    form.startChannelBox()->setText(QStringLiteral("-2"));
    const std::optional<QByteArray> setUp = wireSoFar(form, peer);
    QVERIFY(setUp);
    QCOMPARE(*setUp, kEnd + kEnd);

    const Entry entry = enter(form.endChannelBox(), in);
    QCOMPARE(form.endChannelBox()->text(), in.text);
    runTimedSteps(form, 8);
    QVERIFY(runFastSteps(form, 8));

    const std::optional<QByteArray> wire = wireSoFar(form, peer);
    QVERIFY2(wire, "the port stopped taking commands");
    const QByteArray expected = timedCommands(timedSteps) + fastCommands(fastSteps);
    QVERIFY2(*wire == expected,
             qPrintable(QStringLiteral("got %1\nwant %2").arg(shown(*wire), shown(expected))));
    note(QStringLiteral("reads %1; start -2, timed from 32765: %2; fast from 32704: %3")
             .arg(in.reads)
             .arg(timedSteps, fastSteps));
    finishCase(form, entry);
}

// sweepIntervalBox: every change sets the opening pass's and then the sweep's timer interval.
void TestWindowBadInput::intervalBoxKeepsBothTimersInRange_data()
{
    addColumns();
    addRows(QStringLiteral("sweepIntervalBox"));
}

void TestWindowBadInput::intervalBoxKeepsBothTimersInRange()
{
    QFETCH(int, input);
    const BadInput& in = badInputs()[input];
    const int interval = expectedInterval(in.reads);
    QVERIFY2(interval >= 0, "no worked interval for this value");
    PtyPeer peer;
    Bench bench({{1, peer.linkPath()}});
    Form1& form = bench.form;
    QList<QPair<int, int>> seen; // openingPassTimer, sweepTimer after each change of the box
    connect(form.sweepIntervalBox(), &TextBox::changed, this, [&] {
        seen.append({form.openingPassTimer()->interval(), form.sweepTimer()->interval()});
    });

    const Entry entry = enter(form.sweepIntervalBox(), in);
    QCOMPARE(form.sweepIntervalBox()->text(), in.text);
    QVERIFY(!seen.isEmpty());
    for (const auto& [pass, sweep] : seen) {
        QVERIFY2(pass >= 0 && pass <= 65535 && pass == sweep,
                 qPrintable(QStringLiteral("intervals %1 and %2").arg(pass).arg(sweep)));
    }
    QCOMPARE(form.openingPassTimer()->interval(), interval);
    QCOMPARE(form.sweepTimer()->interval(), interval);

    // Both timers on for a while: an interval of 0 or one far beyond the wait gives no tick.
    int sweepTicks = 0;
    int passTicks = 0;
    connect(form.sweepTimer(), &WindowTimer::timeout, this, [&] { ++sweepTicks; });
    connect(form.openingPassTimer(), &WindowTimer::timeout, this, [&] { ++passTicks; });
    form.openingPassTimer()->setEnabled(true);
    form.clickSweep();
    const bool ticking = interval != 0 && interval <= 1000;
    bool enoughTicks = false;
    if (ticking)
        enoughTicks = QTest::qWaitFor([&] { return sweepTicks >= 3 && passTicks >= 3; },
                                      3 * interval + 10000);
    else
        QTest::qWait(150); // a timer that should stay silent gets the chance to tick anyway
    form.clickSweep();
    form.openingPassTimer()->setEnabled(false);
    QVERIFY(!form.sweepTimer()->isEnabled());
    if (!ticking) {
        QCOMPARE(sweepTicks, 0);
        QCOMPARE(passTicks, 0);
    } else {
        QVERIFY2(enoughTicks,
                 qPrintable(
                     QStringLiteral("%1 sweep and %2 pass ticks").arg(sweepTicks).arg(passTicks)));
    }
    const std::optional<QByteArray> wire = wireSoFar(form, peer);
    QVERIFY2(wire, "the port stopped taking commands");
    QCOMPARE(*wire, designTimeCycle(sweepTicks));
    QVERIFY2(bench.isGreen(0), bench.status(0));
    note(QStringLiteral("reads %1: openingPassTimer and sweepTimer interval %2%3")
             .arg(in.reads)
             .arg(interval)
             .arg(sweepTicks == 0
                      ? QStringLiteral(", no ticks")
                      : QStringLiteral(", ticks (%1 sweep steps in 150 ms)").arg(sweepTicks)));
    finishCase(form, entry);
}

// totalChannelsBox and currentChannelBox: nothing reads them; the sweeps
// run as with the design-time values, and the timed sweep overwrites currentChannelBox.
void TestWindowBadInput::displayAndTotalBoxesChangeNothing_data()
{
    addColumns();
    addRows(QStringLiteral("totalChannelsBox"));
    addRows(QStringLiteral("currentChannelBox"));
}

void TestWindowBadInput::displayAndTotalBoxesChangeNothing()
{
    QFETCH(int, input);
    const BadInput& in = badInputs()[input];
    const bool display =
        QString::fromLatin1(QTest::currentDataTag()).startsWith(u"currentChannelBox");
    PtyPeer peer;
    Bench bench({{1, peer.linkPath()}});
    Form1& form = bench.form;
    TextBox* box = display ? form.currentChannelBox() : form.totalChannelsBox();

    const Entry entry = enter(box, in);
    QCOMPARE(box->text(), in.text);
    QVERIFY(runFastSteps(form, 3));
    QCOMPARE(box->text(), in.text); // the fast sweep never shows its channel
    form.prefixBox()->setText(QString::fromLatin1(kPrefix));
    runTimedSteps(form, 3);
    QCOMPARE(form.currentChannelBox()->text(), QStringLiteral("3"));
    if (!display)
        QCOMPARE(form.totalChannelsBox()->text(), in.text);

    const std::optional<QByteArray> wire = wireSoFar(form, peer);
    QVERIFY2(wire, "the port stopped taking commands");
    const QByteArray expected =
        fastCommands(QStringLiteral("1 2 3")) + timedCommands(QStringLiteral("1 2 3"));
    QVERIFY2(*wire == expected,
             qPrintable(QStringLiteral("got %1\nwant %2").arg(shown(*wire), shown(expected))));
    note(display ? QStringLiteral("kept through fast steps, replaced by the next timed step's "
                                  "channel; commands as with the design-time boxes")
                 : QStringLiteral("nothing reads it; both sweeps send as with the design-time "
                                  "boxes"));
    finishCase(form, entry);
}

// settingsBox: the opening pass writes it to every port; a refused text leaves the previous
// settings.
void TestWindowBadInput::refusedSettingsKeepThePreviousOnes_data()
{
    addColumns();
    addRows(QStringLiteral("settingsBox"));
}

void TestWindowBadInput::refusedSettingsKeepThePreviousOnes()
{
    QFETCH(int, input);
    const BadInput& in = badInputs()[input];
    PtyPeer one;
    PtyPeer two;
    two.removeLink(); // port 2 comes up only after the bad text is in the box
    Bench bench({{1, one.linkPath()}, {2, two.linkPath()}}, false);
    Form1& form = bench.form;
    form.settingsBox()->setText(QStringLiteral("9600,n,8,2"));
    form.openingPass();
    QVERIFY2(bench.isGreen(0), bench.status(0));
    QCOMPARE(form.statusLabel(1)->foreColor(), 0xC0C0C0u);

    const Entry entry = enter(form.settingsBox(), in);
    QCOMPARE(form.settingsBox()->text(), in.text);
    QVERIFY(two.reopen());
    form.openingPass();
    QVERIFY2(bench.isGreen(0), bench.status(0));
    QVERIFY2(bench.isGreen(1), bench.status(1));
    for (int i : {0, 1})
        QCOMPARE(form.portBank().port(i).settings(), QStringLiteral("9600,n,8,2"));
    QVERIFY(slaveRunsAt9600With2StopBits(one.slavePath()));
    QVERIFY(slaveRunsAt9600With2StopBits(two.slavePath()));
    QTest::mouseClick(form.presetButton(0), Qt::LeftButton);
    form.SendToAllPorts(QString::fromLatin1(kMarker));
    for (PtyPeer* peer : {&one, &two}) {
        const std::optional<QByteArray> wire = readUpToMarker(*peer);
        QVERIFY(wire);
        QCOMPARE(*wire, QByteArray(":::ZAVA."));
    }
    note(QStringLiteral("refused; open port stays green at 9600,n,8,2, a port opening "
                        "afterwards opens green with 9600,n,8,2"));
    finishCase(form, entry);
}

// receiveBox[0..15]: the receive poll replaces a box with the next piece its port receives.
void TestWindowBadInput::receiveBoxesAreReplacedByTheNextReply_data()
{
    addColumns();
    for (int i = 0; i < Roster::kPorts; ++i)
        addRows(QStringLiteral("receiveBox"), i);
}

void TestWindowBadInput::receiveBoxesAreReplacedByTheNextReply()
{
    QFETCH(int, input);
    QFETCH(int, index);
    const BadInput& in = badInputs()[input];
    PtyPeer peer;
    Bench bench({{index + 1, peer.linkPath()}});
    Form1& form = bench.form;
    QVERIFY2(bench.isGreen(index), bench.status(index));

    const Entry entry = enter(form.receiveBox(index), in);
    QCOMPARE(form.receiveBox(index)->text(), in.text);
    form.receivePoll(); // nothing received: the box keeps the text
    QCOMPARE(form.receiveBox(index)->text(), in.text);
    QCOMPARE(form.receiveLog()->text(), QString());

    QVERIFY(peer.write("OK"));
    const QDeadlineTimer deadline(5000);
    while (form.receiveBox(index)->text() != u"OK" && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        form.receivePoll();
    }
    QCOMPARE(form.receiveBox(index)->text(), QStringLiteral("OK"));
    QCOMPARE(form.receiveLog()->text(), QStringLiteral("OK"));
    QCOMPARE(form.logLengthLabel()->text(), QStringLiteral("2"));
    const std::optional<QByteArray> wire = wireSoFar(form, peer);
    QVERIFY(wire);
    QCOMPARE(*wire, QByteArray());
    note(QStringLiteral("held as entered; the next reply replaces it, the log gets the reply "
                        "alone"));
    finishCase(form, entry);
}

// receiveLog: the receive log counts its characters, keeps the caret at the end and empties itself
// past 1000 characters.
void TestWindowBadInput::receiveLogCountsAndEmptiesItself_data()
{
    addColumns();
    addRows(QStringLiteral("receiveLog"));
}

void TestWindowBadInput::receiveLogCountsAndEmptiesItself()
{
    QFETCH(int, input);
    const BadInput& in = badInputs()[input];
    PtyPeer peer;
    Bench bench({{1, peer.linkPath()}});
    Form1& form = bench.form;
    form.receiveLog()->setText(QStringLiteral("seed")); // so that even an empty text is a change

    const Entry entry = enter(form.receiveLog(), in);
    const bool emptied = in.characters > 1000;
    QCOMPARE(form.receiveLog()->text(), emptied ? QString() : in.text);
    QCOMPARE(form.logLengthLabel()->text(), QString::number(emptied ? 0 : in.characters));
    QCOMPARE(form.receiveLog()->textCursor().position(),
             form.receiveLog()->document()->characterCount() - 1);
    QVERIFY(!form.receiveLog()->textCursor().hasSelection());

    QVERIFY(peer.write("OK"));
    const QString logged = (emptied ? QString() : in.text) + QStringLiteral("OK");
    const QDeadlineTimer deadline(5000);
    while (form.receiveLog()->text() != logged && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        form.receivePoll();
    }
    QCOMPARE(form.receiveLog()->text(), logged);
    QCOMPARE(form.logLengthLabel()->text(), QString::number(emptied ? 2 : in.characters + 2));
    QCOMPARE(form.receiveLog()->textCursor().position(),
             form.receiveLog()->document()->characterCount() - 1);
    note(emptied
             ? QStringLiteral("over 1000 characters: emptied at once, logLengthLabel 0; the next "
                              "reply starts a new log")
             : QStringLiteral("kept, logLengthLabel %1, caret at the end; the next reply is "
                              "appended")
                   .arg(in.characters));
    finishCase(form, entry);
}

// referenceBox: the reference text is for the operator's eyes; nothing reads it.
void TestWindowBadInput::referenceBoxChangesNothing_data()
{
    addColumns();
    addRows(QStringLiteral("referenceBox"));
}

void TestWindowBadInput::referenceBoxChangesNothing()
{
    QFETCH(int, input);
    const BadInput& in = badInputs()[input];
    PtyPeer peer;
    Bench bench({{1, peer.linkPath()}});
    Form1& form = bench.form;

    const Entry entry = enter(form.referenceBox(), in);
    QCOMPARE(form.referenceBox()->text(), in.text);
    QTest::mouseClick(form.presetButton(0), Qt::LeftButton);
    runTimedSteps(form, 1);
    form.receivePoll();
    QCOMPARE(form.referenceBox()->text(), in.text);
    const std::optional<QByteArray> wire = wireSoFar(form, peer);
    QVERIFY(wire);
    QCOMPARE(*wire, ":::ZAVA." + timedCommands(QStringLiteral("1")));
    note(QStringLiteral("nothing reads it; presets and sweeps send as usual"));
    finishCase(form, entry);
}

void TestWindowBadInput::cleanupTestCase()
{
    // One line per box and input; the boxes of an array share a line when they all do the same.
    QMap<QString, QList<Line>> byBoxAndInput;
    QStringList order;
    for (const Line& line : table_) {
        const QString key =
            QStringLiteral("%1|%2").arg(line.box).arg(line.input, 3, 10, QLatin1Char('0'));
        if (!byBoxAndInput.contains(key))
            order << key;
        byBoxAndInput[key].append(line);
    }
    qInfo("What each box does with bad input:");
    for (const QString& key : order) {
        const QList<Line>& lines = byBoxAndInput[key];
        QMap<QString, QList<int>> indexesByDescription;
        for (const Line& line : lines)
            indexesByDescription[line.description].append(line.index);
        for (auto it = indexesByDescription.cbegin(); it != indexesByDescription.cend(); ++it) {
            QString box = lines.first().box;
            const QList<int>& indexes = it.value();
            const bool range =
                indexes.size() > 1 && indexes.last() - indexes.first() == indexes.size() - 1;
            if (range) {
                box += QStringLiteral("[%1..%2]").arg(indexes.first()).arg(indexes.last());
            } else if (indexes.first() >= 0) {
                QStringList listed;
                for (int index : indexes)
                    listed << QString::number(index);
                box += QStringLiteral("[%1]").arg(listed.join(u','));
            }
            qInfo("  %-14s %-24s %s", qPrintable(box),
                  qPrintable(badInputs()[lines.first().input].name), qPrintable(it.key()));
        }
    }
    qInfo("Per box, slowest: entering a text; its repaint; a click after the case:");
    for (auto it = slowestEntry_.cbegin(); it != slowestEntry_.cend(); ++it) {
        const auto repaint = slowestRepaint_.value(it.key());
        const auto click = slowestClick_.value(it.key());
        qInfo("  %-7s %4lld ms (%s); %4lld ms (%s); %3lld ms (%s)", qPrintable(it.key()),
              it.value().first, qPrintable(it.value().second), repaint.first,
              qPrintable(repaint.second), click.first, qPrintable(click.second));
    }
}

QTEST_MAIN(TestWindowBadInput)
#include "tst_window_bad_input.moc"
