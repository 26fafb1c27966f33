// CommandLine::parse() reads the program's arguments. The input is the argument list with a NUL
// after each argument but the last (no input at all is no arguments), read once as UTF-8 and
// once as UTF-16 code units. Whatever the arguments, a port outside 1..16 or a nameless device
// must never come out, a refusal must say why and bind nothing, and an accepted line written
// back as plain --port N=DEVICE arguments must parse to the same result.

#include "fuzz_support.h"
#include "main_window/command_line.h"

#include <cstdint>

namespace {

using fuzz::check;

QStringList argumentsOf(const QString& text)
{
    if (text.isEmpty())
        return {};
    return text.split(QChar(u'\0'));
}

QStringList plainArguments(const CommandLine& line)
{
    QStringList arguments;
    if (line.action == CommandLine::Action::ShowHelp)
        arguments << QStringLiteral("--help");
    if (line.action == CommandLine::Action::ShowVersion)
        arguments << QStringLiteral("--version");
    for (auto it = line.ports.cbegin(); it != line.ports.cend(); ++it)
        arguments << QStringLiteral("--port") << QString::number(it.key()) + u'=' + it.value();
    if (!line.logDirectory.isEmpty())
        arguments << QStringLiteral("--log=") + line.logDirectory;
    if (line.logLimitGiven)
        arguments << QStringLiteral("--log-limit=%1").arg(line.logLimit);
    if (!line.reportFile.isEmpty())
        arguments << QStringLiteral("--report=") + line.reportFile;
    return arguments;
}

void checkArguments(const QStringList& arguments, const QString& input)
{
    const CommandLine line = CommandLine::parse(arguments);

    for (auto it = line.ports.cbegin(); it != line.ports.cend(); ++it) {
        check(it.key() >= 1 && it.key() <= 16, "bound a port outside 1..16", input);
        check(!it.value().isEmpty(), "bound a port to no device", input);
    }
    if (line.action == CommandLine::Action::Refuse) {
        check(!line.error.isEmpty(), "refused without saying why", input);
        check(line.ports.isEmpty(), "refused but still bound ports", input);
        return;
    }
    check(line.error.isEmpty(), "accepted but gave an error", input);

    const bool help = arguments.contains(u"--help") || arguments.contains(u"-h");
    const bool version = arguments.contains(u"--version");
    // No binding can be "--help" or "--version" (a binding holds '='), so an accepted line has
    // met these words as options.
    const CommandLine::Action expected = help      ? CommandLine::Action::ShowHelp
                                         : version ? CommandLine::Action::ShowVersion
                                                   : CommandLine::Action::Run;
    check(line.action == expected, "help, version and run chosen in the wrong order", input);

    const CommandLine again = CommandLine::parse(plainArguments(line));
    check(line.logLimit >= 1024, "accepted a log limit below 1K", input);
    check(again.action == line.action && again.ports == line.ports &&
              again.logDirectory == line.logDirectory && again.logLimit == line.logLimit &&
              again.reportFile == line.reportFile,
          "the accepted line written back parses differently", input);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString utf8 = fuzz::utf8Text(data, size);
    checkArguments(argumentsOf(utf8), utf8);
    const QString utf16 = fuzz::utf16Text(data, size);
    checkArguments(argumentsOf(utf16), utf16);
    return 0;
}
