#pragma once

#include "commands/sweep_host.h"

#include <QStringList>
#include <functional>

// The window's boxes as plain strings, starting at their design-time values, and the ports as
// a list of the commands sent, each with what the prefix box showed at that moment.
class FakeSweepHost : public SweepHost {
public:
    QString prefix = QStringLiteral(":::::::::::ZAVB");
    QString endCommand = QStringLiteral(":::ZAVB.");
    QString startChannel = QStringLiteral("0");
    QString endChannel = QStringLiteral("31");
    QString channelDisplay = QStringLiteral("XXX");
    QString flag;

    // Like a box's MaxLength: the prefix box keeps at most this many characters (-1: no limit).
    qsizetype prefixMaxLength = -1;

    QStringList sent;
    QStringList prefixWhenSent;
    int channelDisplayWrites = 0;

    // Called at every yield with the number of yields so far (1 for the first); may click,
    // edit boxes, and returns what yieldToWindow() returns. A runaway loop is cut off.
    std::function<bool(int)> onYield;
    int yields = 0;
    static constexpr int kYieldLimit = 100000;

    QString prefixText() override { return prefix; }
    void setPrefixText(const QString& text) override
    {
        prefix = prefixMaxLength < 0 ? text : text.left(prefixMaxLength);
    }
    QString endCommandText() override { return endCommand; }
    QString startChannelText() override { return startChannel; }
    QString endChannelText() override { return endChannel; }
    void showChannel(const QString& text) override
    {
        channelDisplay = text;
        ++channelDisplayWrites;
    }
    void sendToAllPorts(const QString& command) override
    {
        sent.append(command);
        prefixWhenSent.append(prefix);
    }
    QString runFlag() override { return flag; }
    void setRunFlag(const QString& text) override { flag = text; }
    bool yieldToWindow() override
    {
        ++yields;
        if (yields > kYieldLimit) {
            flag = QStringLiteral("0"); // stops even a loop that ignores the program ending
            return false;
        }
        return onYield ? onYield(yields) : true;
    }
};
