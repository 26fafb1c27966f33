#pragma once

#include "unattended_run/unattended_options.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <cstdint>

// What the command line asks for. With no arguments the program runs with the automatic port
// numbering; each --port N=DEVICE binds one number, and then only the numbers given name a device.
struct CommandLine {
    enum class Action { Run, ShowHelp, ShowVersion, Refuse };

    Action action = Action::Run;
    QMap<int, QString> ports; // port number 1..16 -> device path or network address
    QString error;            // why the arguments were refused

    // Session log and run report: empty when not asked for. logLimit is per port file.
    static constexpr std::int64_t kDefaultLogLimit = 100 * 1024 * 1024;
    QString logDirectory;
    std::int64_t logLimit = kDefaultLogLimit;
    bool logLimitGiven = false;
    QString reportFile;
    // --html FILE, --junit FILE: the run page and the JUnit file; empty when not asked for.
    QString htmlFile;
    QString junitFile;
    // --ports FILE: the mapping of a bench from a file; --port overrides it number by number.
    QString portsFile;
    bool errorInPortsFile = false; // error is "FILE:LINE: what is wrong", printed as it is
    // --start, --for, --check, --check-timeout, --expect.
    UnattendedOptions unattended;

    static CommandLine parse(const QStringList& arguments); // without the program name
    static QString helpText();
};
