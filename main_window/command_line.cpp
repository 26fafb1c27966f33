#include "main_window/command_line.h"

#include "main_window/ports_file.h"
#include "session_log/byte_size.h"
#include "session_log/file_calls.h"
#include "unattended_run/option_value.h"

namespace {

CommandLine refuse(const QString& why)
{
    CommandLine refused;
    refused.action = CommandLine::Action::Refuse;
    refused.error = why;
    return refused;
}

// "N=DEVICE" with N a plain decimal 1 to 16 and a non-empty device.
bool bindPort(const QString& binding, CommandLine& line, QString& why)
{
    const qsizetype equals = binding.indexOf(QLatin1Char('='));
    if (equals <= 0) {
        why = QStringLiteral("--port takes N=DEVICE, for example --port 1=/dev/ttyUSB0");
        return false;
    }
    const QString number = binding.left(equals);
    const QString device = binding.mid(equals + 1);
    bool isNumber = number.size() <= 2;
    for (QChar digit : number)
        isNumber = isNumber && digit >= QLatin1Char('0') && digit <= QLatin1Char('9');
    const int port = isNumber ? number.toInt() : 0;
    if (port < 1 || port > 16) {
        why = QStringLiteral("port number '%1' is not 1 to 16").arg(number);
        return false;
    }
    if (device.isEmpty() || device.contains(QChar(0))) {
        why = QStringLiteral("--port %1= names no device").arg(port);
        return false;
    }
    if (!checkPortDevice(port, device, why))
        return false;
    if (line.ports.contains(port)) {
        why = QStringLiteral("port %1 is given twice").arg(port);
        return false;
    }
    line.ports.insert(port, device);
    return true;
}

// A path that this system would not open as a file (on Windows "COM3.csv" is the controller on
// COM3) is refused with the option's name.
bool acceptPath(const QString& name, const QString& path, QString& why)
{
    const QString refused = file_calls::refusedPath(path);
    if (refused.isEmpty())
        return true;
    why = QStringLiteral("%1 %2").arg(name, refused);
    return false;
}

// --log DIR, --log-limit SIZE, --report FILE, --html FILE and --junit FILE, alone or joined with
// "=".
enum class Taken { No, Yes, Refused };

Taken setFile(QString& file, const QString& name, const QString& value, QString& why)
{
    if (!file.isEmpty()) {
        why = QStringLiteral("%1 is given twice").arg(name);
        return Taken::Refused;
    }
    if (value.isEmpty() || value.contains(QChar(0))) {
        why = QStringLiteral("%1 needs a file name").arg(name);
        return Taken::Refused;
    }
    if (!acceptPath(name, value, why))
        return Taken::Refused;
    file = value;
    return Taken::Yes;
}

Taken takeSessionOption(const QStringList& arguments, qsizetype& i, CommandLine& line, QString& why)
{
    static const QString kNames[] = {QStringLiteral("--log"), QStringLiteral("--log-limit"),
                                     QStringLiteral("--report"), QStringLiteral("--html"),
                                     QStringLiteral("--junit")};
    // A value of its own may not look like an option: "--log -h" is a slip, not a directory named
    // "-h" (that one is --log=-h or --log ./-h).
    OptionValue option;
    switch (OptionValue::read(arguments, i, kNames, false, option, why)) {
    case OptionValue::Read::NotOurs:
        return Taken::No;
    case OptionValue::Read::Refused:
        return Taken::Refused;
    case OptionValue::Read::Taken:
        break;
    }
    const QString& name = option.name;
    const QString& value = option.value;

    if (name == kNames[0]) {
        if (!line.logDirectory.isEmpty()) {
            why = QStringLiteral("--log is given twice");
            return Taken::Refused;
        }
        if (value.isEmpty() || value.contains(QChar(0))) {
            why = QStringLiteral("--log needs a directory");
            return Taken::Refused;
        }
        if (!acceptPath(name, value, why))
            return Taken::Refused;
        line.logDirectory = value;
    } else if (name == kNames[1]) {
        if (line.logLimitGiven) {
            why = QStringLiteral("--log-limit is given twice");
            return Taken::Refused;
        }
        const std::optional<std::int64_t> size = parseByteSize(value);
        if (!size) {
            why = QStringLiteral("--log-limit '%1' is not a size such as 500K, 100M or 2G")
                      .arg(value);
            return Taken::Refused;
        }
        if (*size < 1024) {
            why = QStringLiteral("--log-limit '%1' is below 1K").arg(value);
            return Taken::Refused;
        }
        line.logLimit = *size;
        line.logLimitGiven = true;
    } else if (name == kNames[2]) {
        return setFile(line.reportFile, name, value, why);
    } else {
        // A page or a JUnit file holds a verdict: the run is unattended.
        line.unattended.verdictFiles = true;
        return setFile(name == kNames[3] ? line.htmlFile : line.junitFile, name, value, why);
    }
    return Taken::Yes;
}

// --ports FILE: read once the whole command line is known, so that --port wins wherever it
// stands; help and version need no file.
bool takePortsFile(CommandLine& line)
{
    if (line.portsFile.isEmpty() || line.action != CommandLine::Action::Run)
        return true;
    const PortsFile file = PortsFile::read(line.portsFile);
    if (!file.error.isEmpty()) {
        // A refused line binds nothing, whatever --port gave before the file was read.
        line.action = CommandLine::Action::Refuse;
        line.error = file.error;
        line.errorInPortsFile = true;
        line.ports.clear();
        return false;
    }
    for (auto it = file.ports.begin(); it != file.ports.end(); ++it) {
        if (!line.ports.contains(it.key()))
            line.ports.insert(it.key(), it.value());
    }
    return true;
}

bool setPortsFile(const QString& fileName, CommandLine& line, QString& why)
{
    if (!line.portsFile.isEmpty()) {
        why = QStringLiteral("--ports is given twice");
        return false;
    }
    if (fileName.isEmpty()) {
        why = QStringLiteral("--ports needs a FILE");
        return false;
    }
    if (!acceptPath(QStringLiteral("--ports"), fileName, why))
        return false;
    line.portsFile = fileName;
    return true;
}

} // namespace

CommandLine CommandLine::parse(const QStringList& arguments)
{
    CommandLine line;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        QString why;
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            line.action = Action::ShowHelp;
        } else if (argument == QLatin1String("--version")) {
            if (line.action != Action::ShowHelp)
                line.action = Action::ShowVersion;
        } else if (argument == QLatin1String("--port")) {
            if (i + 1 >= arguments.size())
                return refuse(QStringLiteral("--port needs N=DEVICE after it"));
            if (!bindPort(arguments[++i], line, why))
                return refuse(why);
        } else if (argument.startsWith(QLatin1String("--port="))) {
            if (!bindPort(argument.mid(7), line, why))
                return refuse(why);
        } else if (argument == QLatin1String("--ports")) {
            // As with --log: "--ports -h" is a slip, not a file named "-h" (--ports=-h is one).
            if (i + 1 >= arguments.size() || arguments[i + 1].startsWith(QLatin1Char('-')))
                return refuse(QStringLiteral("--ports needs FILE after it"));
            if (!setPortsFile(arguments[++i], line, why))
                return refuse(why);
        } else if (argument.startsWith(QLatin1String("--ports="))) {
            if (!setPortsFile(argument.mid(8), line, why))
                return refuse(why);
        } else if (const Taken taken = takeSessionOption(arguments, i, line, why);
                   taken != Taken::No) {
            if (taken == Taken::Refused)
                return refuse(why);
        } else if (const UnattendedOptions::Taken taken = line.unattended.take(arguments, i, why);
                   taken != UnattendedOptions::Taken::No) {
            if (taken == UnattendedOptions::Taken::Refused)
                return refuse(why);
        } else {
            return refuse(QStringLiteral("unknown argument '%1'").arg(argument));
        }
    }
    if (line.action == Action::Run && line.logDirectory.isEmpty() && line.logLimitGiven)
        return refuse(QStringLiteral("--log-limit is given without --log"));
    if (const QString why = line.unattended.conflicts();
        line.action == Action::Run && !why.isEmpty())
        return refuse(why);
    takePortsFile(line);
    return line;
}

QString CommandLine::helpText()
{
    return QStringLiteral(
        "Usage: lightbench [--port N=DEVICE]... [--ports FILE] [--log DIR [--log-limit SIZE]]\n"
        "                  [--report FILE] [--html FILE] [--junit FILE]\n"
        "                  [--start timed|fast] [--for DURATION]\n"
        "                  [--check SECONDS [--check-timeout MS] [--expect REGEX]]\n"
        "\n"
        "Opens serial ports 1 to 16 at once, shows which ones opened, and sends the same\n"
        "commands to all of them: presets, a timed channel sweep and a fast sweep.\n"
        "\n"
        "Options:\n"
        "  --port N=DEVICE  bind port number N (1 to 16) to DEVICE, e.g. --port 1=/dev/ttyUSB0;\n"
        "                   repeat for more ports. When given, only these numbers name a device.\n"
        "                   Without it, the serial devices of this machine are numbered in\n"
        "                   order: built-in UARTs, then USB adapters, then the rest; an adapter\n"
        "                   plugged in later takes the lowest free number and keeps it.\n"
        "                   DEVICE may be a serial line served over the network:\n"
        "                   rfc2217://HOST:PORT (ser2net telnet(rfc2217), terminal servers;\n"
        "                   the settings box reaches the far line) or tcp://HOST:PORT (raw);\n"
        "                   HOST a name, an IPv4 address or [an IPv6 address].\n"
        "  --ports FILE     read N=DEVICE lines from FILE (blank lines and # comments\n"
        "                   allowed); a --port overrides the file for its number.\n"
        "\n"
        "  --log DIR        write a session log: one file per port in DIR (created if missing),\n"
        "                   one line per command sent (TX), per line received (RX) and per\n"
        "                   event (--), each with the local time to the millisecond\n"
        "  --log-limit SIZE past SIZE a port's log file is renamed to .1 and begun anew\n"
        "                   (default 100M; suffixes K, M, G)\n"
        "  --report FILE    write a CSV summary per port to FILE every 10 s and at exit\n"
        "  --html FILE      write the run as a page with a timeline per port to FILE at the\n"
        "                   start, every minute and at exit\n"
        "  --junit FILE     write the verdict as JUnit XML (a test case per port) at exit\n"
        "\n"
        "  --start timed|fast  after the first opening pass, start the timed or the fast sweep\n"
        "  --for DURATION   end by itself after DURATION (90s, 30m, 8h; a bare number is\n"
        "                   seconds), as the exit button does\n"
        "  --check SECONDS  every SECONDS send the status query (the \u8bfb\u72b6\u6001 box) to "
        "every\n"
        "                   open port between two commands and compare the answers; a port\n"
        "                   that answers unlike most ports, or not at all, fails\n"
        "  --check-timeout MS  how long a check waits for answers (default 1000)\n"
        "  --expect REGEX   an answer passes when REGEX matches it, instead of comparing ports\n"
        "  With --for, --check, --html or --junit the run is unattended: at the end one line per\n"
        "  bound port says pass or fail and why; exit status 0 all passed, 1 a port failed,\n"
        "  2 bad usage, 3 a file of the run could not be written.\n"
        "\n"
        "  --help           show this text and exit\n"
        "  --version        show the version and exit\n"
        "\n"
        "Status colours: green open; blue \u5360\u7528 (in use by another program);\n"
        "light gray no such device; red any other failure (on Linux usually permissions:\n"
        "add yourself to the dialout group).\n");
}
