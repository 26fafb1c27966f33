#include "main_window/form1.h"

#include "main_window/command_button.h"
#include "main_window/label_control.h"
#include "main_window/multi_line_text_box.h"
#include "main_window/receive_log.h"
#include "main_window/song_font.h"
#include "main_window/status_tool_tip.h"
#include "main_window/text_box.h"
#include "main_window/twips.h"
#include "main_window/window_timer.h"
#include "port_bank/broadcast.h"
#include "port_bank/port_status.h"
#include "version.h"

#include <QApplication>
#include <QCloseEvent>
#include <QIcon>
#include <QTimer>
#include <optional>

Form1::Form1(PortDirectory& directory, QWidget* parent) : QWidget(parent), bank_(directory)
{
    // The title, the kind of controllers it serves and the build tag.
    setWindowTitle(QStringLiteral(LIGHTBENCH_NAME " 灯光和继电器控制器 " LIGHTBENCH_BUILD_TAG));
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/lightbench-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/icons/lightbench-32.png"), QSize(32, 32));
    setWindowIcon(icon);
    // The window's default font must show Chinese; Song style at the classic 9 pt.
    setFont(songFont(9));
    setFixedSize(Twips::toPixels(kClientWidth), Twips::toPixels(kClientHeight));

    clock_.start();
    createControls(this);
    connectHandlers();
    Form_Load();
}

Form1::~Form1() = default;

void Form1::connectHandlers()
{
    for (int i = 0; i < kPresets; ++i)
        connect(Command1[i], &QPushButton::clicked, this, [this, i] { Command1_Click(i); });
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
    connect(Command6, &QPushButton::clicked, this, &Form1::Command6_Click);
    connect(Text4, &MultiLineTextBox::changed, this, &Form1::Text4_Change);
    connect(Text8, &TextBox::changed, this, &Form1::Text8_Change);
    connect(Timer1, &WindowTimer::timeout, this, &Form1::Timer1_Timer);
    connect(Timer2, &WindowTimer::timeout, this, &Form1::Timer2_Timer);
    connect(Timer3, &WindowTimer::timeout, this, &Form1::Timer3_Timer);
}

// Captions and stacks the sixteen port rows, each receive box level with its label, then shows
// the window. Every row is spaced by the height of the first label.
void Form1::Form_Load()
{
    for (int i = 0; i < kPorts; ++i) {
        Label9[i]->setCaption(portCaption(i + 1));
        if (i > 0)
            Twips::setTop(Label9[i], Twips::height(Label9[0]) + Twips::top(Label9[i - 1]));
        Twips::setTop(Text11[i], Twips::top(Label9[i]));
        Twips::setLeft(Text11[i], Twips::left(Text11[0]));
        Text11[i]->setText(QString());
        showToolTip(i);
    }
    show();
}

// Rebuilt after each poll, and when the opening pass changes a port's status: the figures move
// with the traffic, and a tooltip that is open shows the new text at once. Not on every pass:
// with the interval box at 1 ms the pass runs a thousand times a second.
void Form1::showToolTip(int index)
{
    const SerialPort& port = bank_.port(index);
    QString tip =
        statusToolTip(index + 1, bank_.devicePath(index), port.counters(), port.problem());
    if (toolTipExtra_)
        tip += toolTipExtra_(index);
    if (tip != Label9[index]->toolTip())
        Label9[index]->setToolTip(tip);
}

void Form1::SendToAllPorts(const QString& command)
{
    ::sendToAllPorts(bank_, command);
}

void Form1::Command1_Click(int index)
{
    SendToAllPorts(Text1[index]->text());
}

void Form1::Command2_Click()
{
    Text4->setText(QString());
}

void Form1::Command3_Click()
{
    endProgram();
}

void Form1::closeEvent(QCloseEvent* event)
{
    endProgram();
    event->accept();
}

void Form1::endProgram()
{
    if (ending_)
        return;
    ending_ = true;
    // Order matters: no timer may tick and no port may take another byte once the click is
    // handled, whatever handler is still unwinding below this one.
    Timer1->setEnabled(false);
    Timer2->setEnabled(false);
    Timer3->setEnabled(false);
    bank_.shutDown();
    hide();
    QCoreApplication::quit();
}

void Form1::Command4_Click()
{
    Timer1->setEnabled(!Timer1->isEnabled());
}

void Form1::Command6_Click()
{
    fastSweep_.click(*this);
}

// The log looks after itself after every change: its length, the newest text in view, and
// emptying itself past the limit (which changes it again, so this runs once more for the empty
// log, inside the assignment, and Label7 ends at "0").
void Form1::Text4_Change()
{
    Label7->setCaption(QString::number(ReceiveLog::characterCount(Text4->text())));
    Text4->setCaretPosition(Label7->text().toInt());
    if (ReceiveLog::isOverLimit(Text4->text()))
        Text4->setText(QString());
}

void Form1::Text8_Change()
{
    // The opening pass's timer first, then the sweep's; the box is read for each.
    Timer3->setInterval(ChannelSweep::intervalFromText(Text8->text()));
    Timer1->setInterval(ChannelSweep::intervalFromText(Text8->text()));
}

void Form1::Timer1_Timer()
{
    // A tick that falls into a status check's wait is skipped, not kept: the sweep goes on with
    // the next tick from where it stood, and no burst follows the wait.
    if (bank_.sendGate().isHeld())
        return;
    channelSweep_.step(*this);
}

void Form1::Timer2_Timer()
{
    runReceivePoll(bank_, *this);
    for (int i = 0; i < kPorts; ++i)
        showToolTip(i);
}

void Form1::Timer3_Timer()
{
    runOpeningPass(bank_, *this);
    if (!ending_)
        emit openingPassRan();
}

QString Form1::settingsText()
{
    return Text10->text();
}

void Form1::showCaption(int index, const QString& caption)
{
    const bool changed = Label9[index]->text() != caption;
    Label9[index]->setCaption(caption);
    if (changed)
        showToolTip(index);
}

void Form1::showColour(int index, std::uint32_t rgb)
{
    const bool changed = Label9[index]->foreColor() != rgb;
    Label9[index]->setForeColor(rgb);
    if (changed)
        showToolTip(index);
}

bool Form1::yieldAfterPort()
{
    QCoreApplication::processEvents();
    return !ending_;
}

// The fast sweep's yield: pending events first, then, while an open port is still busy with
// earlier commands, wait for it to drain, handling events as they come. So the sweep runs at the
// line rate of the slowest port that drains, and nothing is dropped on the way. While a status
// check waits for its answers the sweep waits too, and goes on from where it stood; so it does
// while the session log is behind, which would otherwise turn lines away.
//
// Events posted within the program are handled at every yield. The system is asked for its own
// (input, timer ticks, the lines' notifiers) at most every kSystemLookNs: asking polls every
// descriptor of the window, which costs as much as a few of the writes of one command, and
// nothing the operator sees moves within a fraction of a millisecond. Shorter than the
// shortest timer interval, so that no tick is missed for it. While a command waits in a port's
// queue, what the line takes is handed to it first and the system is asked at every yield, as
// its notifiers move the rest on: a click that ends the program should find no command torn.
bool Form1::yieldToWindow()
{
    const qint64 now = clock_.nsecsElapsed();
    const bool waiting = bank_.outputWaiting();
    if (waiting)
        bank_.pushOutput();
    if (waiting || now - lastSystemLookNs_ >= kSystemLookNs) {
        lastSystemLookNs_ = now;
        QCoreApplication::processEvents();
    } else {
        QCoreApplication::sendPostedEvents();
    }
    const auto mustWait = [this] {
        return bank_.sendGate().isHeld() ||
               pacer_.mustWait(bank_.pendingOutputByPort(), clock_.elapsed()) ||
               bank_.observers().isBehind();
    };
    if (ending_ || !mustWait())
        return !ending_;
    // Wakes the wait below now and then, so that a port that stopped draining is noticed; and
    // when a far line's backlog will have fallen, which no event tells.
    QTimer wakeUp;
    wakeUp.start(50);
    std::optional<QTimer> paceWake; // only for a far line or the log: a device's notifier tells
    do {
        qint64 recheckNs = bank_.pendingRecheckNs(OutputPacer::kLowWater);
        // The log's writer tells the window nothing when it has caught up: asked again soon.
        if (bank_.observers().isBehind())
            recheckNs = recheckNs < 0 ? kLogRecheckNs : qMin(recheckNs, kLogRecheckNs);
        if (recheckNs >= 0) {
            if (!paceWake) {
                paceWake.emplace();
                paceWake->setSingleShot(true);
                paceWake->setTimerType(Qt::PreciseTimer);
            }
            paceWake->start(int((recheckNs + 999'999) / 1'000'000));
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    } while (!ending_ && mustWait());
    return !ending_;
}

void Form1::showChunk(int index, const QString& chunk)
{
    Text11[index]->setText(chunk);
}

void Form1::appendToLog(const QString& chunk)
{
    // A text past the limit would be laid out in the box only to be emptied by its change
    // handler at once; under a flood that is tens of kilobytes a port, five times a second, and
    // so is forming it: past the limit it is neither formed nor counted to its end.
    // The log ends as the handler leaves it: empty, its length "0", the caret at the start.
    const QString log = Text4->text();
    if (ReceiveLog::isOverLimit(log, chunk)) {
        if (log.isEmpty())
            Text4_Change();
        else
            Text4->setText(QString());
        return;
    }
    Text4->setText(log + chunk);
}

QString Form1::prefixText()
{
    return Text2->text();
}

void Form1::setPrefixText(const QString& text)
{
    Text2->setText(text);
}

QString Form1::endCommandText()
{
    return Text3->text();
}

QString Form1::startChannelText()
{
    return Text6->text();
}

QString Form1::endChannelText()
{
    return Text7->text();
}

void Form1::showChannel(const QString& text)
{
    Text9->setText(text);
}

QString Form1::runFlag()
{
    return Command6->tag();
}

void Form1::setRunFlag(const QString& flag)
{
    Command6->setTag(flag);
}
