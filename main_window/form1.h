#pragma once

#include "commands/channel_sweep.h"
#include "commands/fast_sweep.h"
#include "commands/sweep_host.h"
#include "main_window/roster.h"
#include "port_bank/opening_pass.h"
#include "port_bank/output_pacer.h"
#include "port_bank/port_bank.h"
#include "port_bank/receive_poll.h"

#include <QElapsedTimer>
#include <QWidget>
#include <functional>

class PortDirectory;

// The one window. It arranges the roster's controls and forwards each event to its handler; the
// rules behind the handlers live in port_bank/ and commands/.
class Form1 : public QWidget,
              public Roster,
              private OpeningPassView,
              private ReceivePollView,
              private SweepHost {
    Q_OBJECT
public:
    explicit Form1(PortDirectory& directory, QWidget* parent = nullptr);
    ~Form1() override;

    PortBank& portBank() { return bank_; }

    // Sends command to every open port (the only way anything is sent).
    void SendToAllPorts(const QString& command);

    // Text added to port index's status tooltip (the status checks' counts); none by default.
    void setToolTipExtra(std::function<QString(int index)> extra)
    {
        toolTipExtra_ = std::move(extra);
    }

signals:
    // An opening pass has tried every port.
    void openingPassRan();

public slots:
    void Command1_Click(int index);
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command6_Click();
    void Text4_Change();
    void Text8_Change();
    void Timer1_Timer();
    void Timer2_Timer();
    void Timer3_Timer();

    // The same handlers by role, for everything outside the window.
    void clickPreset(int index) { Command1_Click(index); }
    void clickClearLog() { Command2_Click(); }
    void clickExit() { Command3_Click(); }
    void clickSweep() { Command4_Click(); }
    void clickFastSweep() { Command6_Click(); }
    void receiveLogChanged() { Text4_Change(); }
    void sweepIntervalChanged() { Text8_Change(); }
    void sweepStep() { Timer1_Timer(); }
    void receivePoll() { Timer2_Timer(); }
    void openingPass() { Timer3_Timer(); }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Load();
    void connectHandlers();
    void showToolTip(int index);
    // Ends the program at once: no handler runs on and nothing more reaches any port.
    void endProgram();

    // OpeningPassView
    QString settingsText() override;
    void showCaption(int index, const QString& caption) override;
    void showColour(int index, std::uint32_t rgb) override;
    bool yieldAfterPort() override;

    // ReceivePollView
    void showChunk(int index, const QString& chunk) override;
    void appendToLog(const QString& chunk) override;

    // SweepHost
    QString prefixText() override;
    void setPrefixText(const QString& text) override;
    QString endCommandText() override;
    QString startChannelText() override;
    QString endChannelText() override;
    void showChannel(const QString& text) override;
    void sendToAllPorts(const QString& command) override { SendToAllPorts(command); }
    QString runFlag() override;
    void setRunFlag(const QString& flag) override;
    bool yieldToWindow() override;

    PortBank bank_;
    ChannelSweep channelSweep_;
    FastSweep fastSweep_;
    OutputPacer pacer_;
    QElapsedTimer clock_;
    static constexpr qint64 kSystemLookNs = 500000; // see yieldToWindow()
    static constexpr qint64 kLogRecheckNs = 1000000;
    qint64 lastSystemLookNs_ = 0;
    bool ending_ = false;
    std::function<QString(int)> toolTipExtra_;
};
