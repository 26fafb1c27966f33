#pragma once

#include <QString>
#include <QStringList>

#include <vector>

// The command line of lightbench-sim.
struct SimulatorOptions {
    enum class Action { Run, ShowHelp, Refuse };

    Action action = Action::Run;
    QString error; // why the line was refused

    int controllers = 16;
    int channels = 32;
    std::vector<int> relays; // channel numbers, the same on every controller
    QString linkFolder;      // empty: no links
    bool acknowledge = false;
    int replyDelayMs = 0;
    int dropPercent = 0;
    double vanishSeconds = 0; // 0: the controllers stay
    bool headless = false;
    // Controller numbers that --drop, --vanish and --reply-delay act on; empty: every one.
    std::vector<int> faulty;

    bool isFaulty(int controller) const;

    static constexpr int kMaxControllers = 16;
    static constexpr int kMaxChannels = 1024;

    static SimulatorOptions parse(const QStringList& arguments);
    static QString helpText();
};
