#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <cstdint>

// What the command line asks for. With no arguments the program runs with the automatic port
// numbering; each --port N=DEVICE binds one number, and then only the numbers given name a device.
struct CommandLine {
    enum class Action { Run, ShowHelp, ShowVersion, Refuse };

    Action action = Action::Run;
    QMap<int, QString> ports; // port number 1..16 -> device path
    QString error;            // why the arguments were refused

    // Session log and run report: empty when not asked for. logLimit is per port file.
    static constexpr std::int64_t kDefaultLogLimit = 100 * 1024 * 1024;
    QString logDirectory;
    std::int64_t logLimit = kDefaultLogLimit;
    bool logLimitGiven = false;
    QString reportFile;

    static CommandLine parse(const QStringList& arguments); // without the program name
    static QString helpText();
};
