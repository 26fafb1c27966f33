#include "load_driver.h"

#include "main_window/command_button.h"
#include "main_window/form1.h"
#include "main_window/multi_line_text_box.h"
#include "main_window/text_box.h"
#include "main_window/window_timer.h"
#include "port_bank/wire_text.h"
#include "port_watch.h"

#include <QTimer>
#include <array>

namespace {

// Every command text here starts with ':' and has no ':' after its first other character, as
// the checker needs to tell commands apart; none of them reads as a sweep command, and no preset
// sends an end command's text, so that every end command on the wire is a sweep's wrap.
const QStringList kPresetTexts = {
    QStringLiteral(":::ZAVA."),
    QStringLiteral(":::ZAVB0-31."),
    QStringLiteral(":::ZAVC."),
    QStringLiteral(":::ZAVZ0A."),
    QStringLiteral(":::ZAVZ12A."),
    QStringLiteral(":::ZAVZ3C."),
    QStringLiteral(":::G"),
    QStringLiteral(":::ZAVB0-5,7-20A."),
    QStringLiteral(":::ZAVB0-9999(EFG)."),
    QStringLiteral(":::ZAV 全部亮 ."),
    QStringLiteral(":::ZAVB") + QString(200, QLatin1Char('1')) + QLatin1Char('.'),
    QString(),
};

const QStringList kPrefixes = {
    QStringLiteral(":::::::::::ZAVB"),
    QStringLiteral(":::::ZAVB"),
    QStringLiteral(":::ZAVC"),
    QStringLiteral("::::ZAV通道"),
};

const QStringList kEndCommands = {
    QStringLiteral(":::ZAVB."),
    QStringLiteral(":::ZAVE."),
    QStringLiteral(":::ZAV结束."),
    QStringLiteral(":::ZAVB0-99(E)."),
};

struct ChannelRange {
    const char* startText;
    const char* endText;
    int start;
    int end; // the last channel the sweeps send for endText
};

// Start never above end. The forms of the end box are ones the sweeps read forgivingly; the
// last range runs into the top of the channel numbers, where both sweeps wrap early.
constexpr std::array<ChannelRange, 11> kRanges = {{
    {"0", "31", 0, 31},
    {"0", "31", 0, 31},
    {"0", "31", 0, 31},
    {"0", "5", 0, 5},
    {"3", "3", 3, 3},
    {"10", "40", 10, 40},
    {"1", " 100 ", 1, 100},
    {"0", "0", 0, 0},
    {"5", "12.9", 5, 12},
    {"2", "&H10", 2, 16},
    {"32690", "32767", 32690, 32767},
}};

const QStringList kIntervals = {QStringLiteral("5"),  QStringLiteral("2"),   QStringLiteral("0"),
                                QStringLiteral("50"), QStringLiteral("abc"), QStringLiteral("1.5"),
                                QStringLiteral("-3"), QStringLiteral("200")};

const QStringList kSettings = {
    // Taken.
    QStringLiteral("115200,n,8,1"),
    QStringLiteral("9600,n,8,2"),
    QStringLiteral("57600,N,8,1"),
    QStringLiteral(" 115200 , n , 8 , 1 "),
    QStringLiteral("19200,e,7,1"),
    QStringLiteral("38400,o,8,1.5"),
    // Refused: the ports keep what they had.
    QStringLiteral("fast,please"),
    QStringLiteral("115200,n,9,1"),
    QString(),
    QStringLiteral("115200,x,8,1"),
    QStringLiteral("0,n,8,1"),
    QStringLiteral("115200;n;8;1"),
    QStringLiteral("１１５２００,n,8,1"),
};

const QStringList kOtherTexts = {
    QString(),
    QStringLiteral("XXX"),
    QStringLiteral("12"),
    QStringLiteral("全部亮"),
    QStringLiteral("line one\r\nline two\r\n"),
    QString(1500, QLatin1Char('x')),
    QStringLiteral("  spaces  "),
};

} // namespace

LoadDriver::LoadDriver(Form1& form, StreamChecker& checker, PortWatch& watch,
                       const SweepBoxes& boxes, std::uint32_t seed, QObject* parent)
    : QObject(parent), form_(form), checker_(checker), watch_(watch), random_(seed),
      presetTimer_(new QTimer(this)), fastTimer_(new QTimer(this)), editTimer_(new QTimer(this)),
      intervalTimer_(new QTimer(this)), boxes_(boxes)
{
    fastTimer_->setSingleShot(true);
    editTimer_->setSingleShot(true);
    intervalTimer_->setSingleShot(true);
    connect(presetTimer_, &QTimer::timeout, this, &LoadDriver::clickPreset);
    connect(fastTimer_, &QTimer::timeout, this, &LoadDriver::toggleFastSweep);
    connect(editTimer_, &QTimer::timeout, this, &LoadDriver::editSomething);
    connect(intervalTimer_, &QTimer::timeout, this, &LoadDriver::setIntervalOneMs);
}

void LoadDriver::start()
{
    // Out of the box the second preset sends the end command's text.
    for (TextBox* box : form_.presetBoxes()) {
        if (kEndCommands.contains(box->text()))
            box->setText(kPresetTexts[1]);
    }
    running_ = true;
    setIntervalOneMs();
    if (!form_.sweepTimer()->isEnabled())
        form_.sweepButton()->click();
    presetTimer_->start(100);
    fastTimer_->start(randomMs(200, 1000));
    editTimer_->start(randomMs(300, 1200));
}

void LoadDriver::stop()
{
    running_ = false;
    presetTimer_->stop();
    fastTimer_->stop();
    editTimer_->stop();
    intervalTimer_->stop();
    if (fastOn_)
        toggleFastSweep();
    fastTimer_->stop();
    if (form_.sweepTimer()->isEnabled())
        form_.sweepButton()->click();
    setIntervalOneMs();
}

void LoadDriver::clickPreset()
{
    const int index = int(random_.bounded(Form1::kPresets));
    const QByteArray sent = encodeForWire(form_.presetBox(std::size_t(index))->text());
    if (!sent.isEmpty())
        ++presetClicks_[sent];
    ++clickCount_;
    form_.presetButton(std::size_t(index))->click();
}

void LoadDriver::toggleFastSweep()
{
    // Its click runs the sweep's loop, which returns only when clicked again: it has to come
    // through the event queue, as the operator's click would.
    QMetaObject::invokeMethod(&form_, "clickFastSweep", Qt::QueuedConnection);
    fastOn_ = !fastOn_;
    ++fastToggles_;
    if (running_)
        fastTimer_->start(fastOn_ ? randomMs(1000, 4000) : randomMs(500, 3000));
}

void LoadDriver::editSomething()
{
    ++edits_;
    const int roll = int(random_.bounded(100));
    if (roll < 25)
        editPreset();
    else if (roll < 40)
        editSweepBoxes();
    else if (roll < 50 && !intervalTimer_->isActive())
        editInterval();
    else if (roll < 65)
        editSettings();
    else
        editOtherBox();
    editTimer_->start(randomMs(300, 1200));
}

void LoadDriver::editPreset()
{
    form_.presetBox(random_.bounded(Form1::kPresets))->setText(pick(kPresetTexts));
}

void LoadDriver::editSweepBoxes()
{
    const int which = int(random_.bounded(4));
    if (which == 0 || which == 3)
        form_.prefixBox()->setText(pick(kPrefixes));
    if (which == 1 || which == 3)
        form_.endCommandBox()->setText(pick(kEndCommands));
    if (which == 2 || which == 3) {
        const ChannelRange& range = pick(kRanges);
        form_.startChannelBox()->setText(QString::fromLatin1(range.startText));
        form_.endChannelBox()->setText(QString::fromLatin1(range.endText));
        boxes_.startChannel = range.start;
        boxes_.endChannel = range.end;
    }
    // The boxes as they stand now, the prefix included, which the fast sweep may have written.
    boxes_.prefix = encodeForWire(form_.prefixBox()->text());
    boxes_.endCommand = encodeForWire(form_.endCommandBox()->text());
    // Sent in the same turn as the edit, so nothing of either sweep comes between.
    ++markers_;
    checker_.announceEdit(markers_, boxes_);
    form_.SendToAllPorts(QString::fromLatin1(StreamChecker::editMarker(markers_)));
}

void LoadDriver::editInterval()
{
    ++intervalEdits_;
    watch_.intervalChanged(false);
    form_.sweepIntervalBox()->setText(pick(kIntervals));
    intervalTimer_->start(randomMs(50, 250));
}

void LoadDriver::setIntervalOneMs()
{
    form_.sweepIntervalBox()->setText(QStringLiteral("1"));
    watch_.intervalChanged(true);
}

void LoadDriver::editSettings()
{
    ++settingsEdits_;
    form_.settingsBox()->setText(pick(kSettings));
}

void LoadDriver::editOtherBox()
{
    switch (random_.bounded(6)) {
    case 0:
        form_.receiveLog()->setText(pick(kOtherTexts));
        break;
    case 1:
        form_.totalChannelsBox()->setText(pick(kOtherTexts));
        break;
    case 2:
        form_.currentChannelBox()->setText(pick(kOtherTexts));
        break;
    case 3:
        form_.receiveBox(random_.bounded(Form1::kPorts))->setText(pick(kOtherTexts));
        break;
    case 4:
        form_.referenceBox()->setText(pick(kOtherTexts));
        break;
    default:
        form_.clearLogButton()->click();
        break;
    }
}
