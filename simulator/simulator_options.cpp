#include "simulator/simulator_options.h"

#include <algorithm>

namespace {

SimulatorOptions refuse(const QString& why)
{
    SimulatorOptions refused;
    refused.action = SimulatorOptions::Action::Refuse;
    refused.error = why;
    return refused;
}

// A plain decimal number from low to high, nothing else.
bool wholeNumber(const QString& text, int low, int high, int& value)
{
    if (text.isEmpty() || text.size() > 9)
        return false;
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    value = text.toInt();
    return value >= low && value <= high;
}

// "0-3,8": numbers and ranges from low to high, as the instruction language writes channels.
bool numberList(const QString& text, int low, int high, std::vector<int>& numbers)
{
    const QStringList items = text.split(QLatin1Char(','));
    for (const QString& item : items) {
        const QStringList ends = item.split(QLatin1Char('-'));
        int first = 0;
        int last = 0;
        if (ends.size() > 2 || !wholeNumber(ends.front(), low, high, first) ||
            !wholeNumber(ends.back(), low, high, last) || last < first)
            return false;
        for (int number = first; number <= last; ++number)
            numbers.push_back(number);
    }
    return true;
}

} // namespace

SimulatorOptions SimulatorOptions::parse(const QStringList& arguments)
{
    SimulatorOptions options;
    bool help = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString name = arguments[i];
        QString value;
        bool hasValue = false;
        if (name.startsWith(QLatin1String("--")) && name.contains(QLatin1Char('='))) {
            value = name.mid(name.indexOf(QLatin1Char('=')) + 1);
            name = name.left(name.indexOf(QLatin1Char('=')));
            hasValue = true;
        }
        static const QStringList flags = {QStringLiteral("--ack"), QStringLiteral("--headless"),
                                          QStringLiteral("--help"), QStringLiteral("-h")};
        static const QStringList valued = {
            QStringLiteral("--controllers"), QStringLiteral("--channels"),
            QStringLiteral("--relays"),      QStringLiteral("--link"),
            QStringLiteral("--reply-delay"), QStringLiteral("--drop"),
            QStringLiteral("--vanish"),      QStringLiteral("--faulty")};
        if (!flags.contains(name) && !valued.contains(name))
            return refuse(QStringLiteral("unknown argument '%1'").arg(arguments[i]));
        if (flags.contains(name) && hasValue)
            return refuse(QStringLiteral("%1 takes no value").arg(name));
        if (valued.contains(name) && !hasValue) {
            if (i + 1 >= arguments.size())
                return refuse(QStringLiteral("%1 needs a value after it").arg(name));
            value = arguments[++i];
        }
        int number = 0;
        if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
            help = true;
        } else if (name == QLatin1String("--ack")) {
            options.acknowledge = true;
        } else if (name == QLatin1String("--headless")) {
            options.headless = true;
        } else if (name == QLatin1String("--controllers")) {
            if (!wholeNumber(value, 1, kMaxControllers, number))
                return refuse(QStringLiteral("--controllers takes 1 to 16, not '%1'").arg(value));
            options.controllers = number;
        } else if (name == QLatin1String("--channels")) {
            if (!wholeNumber(value, 1, kMaxChannels, number))
                return refuse(QStringLiteral("--channels takes 1 to %1, not '%2'")
                                  .arg(kMaxChannels)
                                  .arg(value));
            options.channels = number;
        } else if (name == QLatin1String("--relays")) {
            options.relays.clear();
            if (!numberList(value, 0, 65535, options.relays))
                return refuse(
                    QStringLiteral("--relays takes channels such as 0-3,8, not '%1'").arg(value));
        } else if (name == QLatin1String("--link")) {
            if (value.isEmpty())
                return refuse(QStringLiteral("--link needs a folder"));
            options.linkFolder = value;
        } else if (name == QLatin1String("--reply-delay")) {
            if (!wholeNumber(value, 0, 60000, number))
                return refuse(
                    QStringLiteral("--reply-delay takes 0 to 60000 ms, not '%1'").arg(value));
            options.replyDelayMs = number;
        } else if (name == QLatin1String("--drop")) {
            if (!wholeNumber(value, 0, 100, number))
                return refuse(
                    QStringLiteral("--drop takes a percentage 0 to 100, not '%1'").arg(value));
            options.dropPercent = number;
        } else if (name == QLatin1String("--vanish")) {
            bool ok = false;
            const double seconds = value.toDouble(&ok);
            if (!ok || !(seconds >= 0.1 && seconds <= 86400))
                return refuse(
                    QStringLiteral("--vanish takes 0.1 to 86400 seconds, not '%1'").arg(value));
            options.vanishSeconds = seconds;
        } else if (name == QLatin1String("--faulty")) {
            options.faulty.clear();
            if (!numberList(value, 1, kMaxControllers, options.faulty))
                return refuse(QStringLiteral("--faulty takes controller numbers 1 to 16 such as "
                                             "2,7-9, not '%1'")
                                  .arg(value));
        } else {
            return refuse(QStringLiteral("unknown argument '%1'").arg(arguments[i]));
        }
    }
    if (help) {
        options.action = Action::ShowHelp;
        return options;
    }
    const auto beyond = std::find_if(options.relays.begin(), options.relays.end(),
                                     [&](int channel) { return channel >= options.channels; });
    if (beyond != options.relays.end())
        return refuse(QStringLiteral("relay channel %1 is beyond the %2 channels (0 to %3)")
                          .arg(*beyond)
                          .arg(options.channels)
                          .arg(options.channels - 1));
    const auto absent = std::find_if(options.faulty.begin(), options.faulty.end(),
                                     [&](int number) { return number > options.controllers; });
    if (absent != options.faulty.end())
        return refuse(QStringLiteral("--faulty names controller %1, but there are only %2")
                          .arg(*absent)
                          .arg(options.controllers));
    if (options.vanishSeconds > 0 && options.linkFolder.isEmpty())
        return refuse(QStringLiteral("--vanish needs --link: a controller comes back on a new "
                                     "device, and only the link keeps its name"));
    return options;
}

bool SimulatorOptions::isFaulty(int controller) const
{
    return faulty.empty() || std::find(faulty.begin(), faulty.end(), controller) != faulty.end();
}

QString SimulatorOptions::helpText()
{
    return QStringLiteral(
        "Usage: lightbench-sim [options]\n"
        "\n"
        "Simulated light and relay controllers, each on its own pseudo-terminal, that obey the\n"
        "instruction language of the command reference and show their channels as lamps.\n"
        "Prints one '--port N=DEVICE' line per controller, ready to give to lightbench.\n"
        "\n"
        "Options:\n"
        "  --controllers N     how many controllers, 1 to 16 (default 16)\n"
        "  --channels C        channels per controller, 1 to 1024 (default 32)\n"
        "  --relays LIST       relay channels on every controller, e.g. 0-3,8; they ignore the\n"
        "                      dimming letters a to k\n"
        "  --link DIR          also make the links DIR/port1 ... DIR/portN to the devices\n"
        "  --ack               answer OK or ERR, CR LF, to every command\n"
        "  --reply-delay MS    send every answer MS milliseconds late\n"
        "  --drop PERCENT      ignore this share of the commands, unanswered\n"
        "  --vanish SECONDS    controllers come and go: SECONDS present, SECONDS gone (the\n"
        "                      device disappears, then comes back at the same link; needs --link)\n"
        "  --faulty LIST       --reply-delay, --drop and --vanish act on these controllers only,\n"
        "                      e.g. 3 or 2,7-9 (default: on all)\n"
        "  --headless          no lamp window\n"
        "  -h, --help          this text\n"
        "\n"
        "The language as simulated:\n"
        "  A command is one or more ':', a body, and '.', at most 128 bytes in all; ':::G' (read\n"
        "  status) needs no '.'. Blanks, CR and LF between commands are ignored; any other\n"
        "  stray bytes, and every command that is not valid as a whole, count as rejected and\n"
        "  change nothing. Channels are numbered from 0; numbers above 65535 are invalid, and\n"
        "  channels beyond the controller's last are ignored.\n"
        "  ZAVA all on, ZAVC all flash, ZAVB all off; ZAVB LIST sets the listed channels and\n"
        "  switches every other off, ZAVZ LIST sets the listed ones and keeps the rest. LIST is\n"
        "  items separated by ',', each a chain of groups: N LETTERS (consecutive channels from\n"
        "  N), A-B LETTER (the range, A <= B, at most one letter) or A-B(LETTERS) (the range\n"
        "  filled cyclically); no letter means A.\n"
        "  Letters: A on, B off, C D flash in turn, E F G running light, O P Q running light with\n"
        "  two lit, N L J flash 3, 2, 1 times then on, Y inverts A and B (other states stay), Z\n"
        "  keeps; a 100%, b 0%, c 20%, d 40%, e 60%, f 80%, g 100%, h fade up, i fade down, j k\n"
        "  dimmed by an unspecified amount (shown at 50%).\n"
        "  STA n: flashes n x 10 ms on and off (default STA50). STB n, 1 to 99: running lights\n"
        "  step every n x 10 ms (default STB30). STB n, 100 to 200: dark to bright takes\n"
        "  1 s + (n - 100) x 0.99 s (default STB100, 1 s).\n"
        "  SET_BOARD_ADR=hhhh: board address, four hex digits; FFFF clears it.\n"
        "  G answers with this simulator's own status line: 'G:', one state letter per channel\n"
        "  (the letter last set; Y and Z never show), CR LF. With --ack, G answers with that line\n"
        "  alone, and every other command or rejection with OK or ERR.\n");
}
