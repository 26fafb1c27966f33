// The simulated controller's framing, parser and channel model on arbitrary bytes.
// Input layout: the first byte gives how many piece lengths follow (byte % 8; none means one
// piece), each of those bytes gives a length (byte % 8, used in turn; 0 feeds an empty piece),
// and the rest is what the line brings. Fed whole and fed in pieces, the controller must answer
// the same bytes and end in the same state; every command gets exactly one answer; the status
// line always holds one valid state letter per channel. The rest is also parsed as one command
// body, whose settings must lie within what the language allows.

#include "fuzz_support.h"
#include "simulator/channel_state.h"
#include "simulator/instruction.h"
#include "simulator/simulated_controller.h"

#include <QByteArrayView>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

using fuzz::check;

QString hexText(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes.toByteArray().toHex(' '));
}

SimulatedController::Options options()
{
    SimulatedController::Options o;
    o.channels = 12;
    o.relays = {1, 5};
    o.acknowledge = true;
    return o;
}

void checkController(QByteArrayView lengths, QByteArrayView wire)
{
    const QString report = hexText(lengths) + QStringLiteral(" | ") + hexText(wire);
    SimulatedController whole(options());
    const QByteArray wholeReplies = whole.receive(wire, 1000);

    SimulatedController cut(options());
    QByteArray cutReplies;
    if (lengths.isEmpty()) {
        cutReplies = cut.receive(wire, 1000);
    } else {
        qsizetype pos = 0;
        for (qsizetype i = 0; pos < wire.size(); ++i) {
            const qsizetype length = static_cast<std::uint8_t>(lengths[i % lengths.size()]) % 8;
            if (length == 0)
                cutReplies += cut.receive(QByteArrayView(), 1000);
            const qsizetype take = std::min(std::max<qsizetype>(length, 1), wire.size() - pos);
            cutReplies += cut.receive(wire.sliced(pos, take), 1000);
            pos += take;
        }
    }
    check(cutReplies == wholeReplies, "pieces answer differently from the whole", report);
    check(cut.accepted() == whole.accepted() && cut.rejected() == whole.rejected(),
          "pieces count differently from the whole", report);
    const QByteArray status = whole.model().statusLine();
    check(cut.model().statusLine() == status, "pieces end in another state", report);

    // One answer per command: OK, ERR or a status line.
    const qsizetype answers = wholeReplies.count("\r\n");
    const qsizetype errors = wholeReplies.count("ERR\r\n");
    check(answers == whole.accepted() + whole.rejected(), "not one answer per command", report);
    check(errors == whole.rejected(), "not one ERR per rejection", report);

    check(status.size() == 12 + 4 && status.startsWith("G:") && status.endsWith("\r\n"),
          "status line of the wrong shape", report);
    for (qsizetype i = 2; i < status.size() - 2; ++i) {
        const char letter = status[i];
        check(isChannelLetter(letter) && letter != 'Y' && letter != 'Z', "a channel holds no state",
              report);
        if (i - 2 == 1 || i - 2 == 5)
            check(!isDimmingLetter(letter), "a relay took a dimming letter", report);
    }
}

void checkInstruction(QByteArrayView bytes)
{
    const std::string_view body(bytes.data(), std::size_t(bytes.size()));
    Instruction instruction;
    if (!parseInstruction(body, instruction))
        return;
    const QString report = hexText(bytes);
    for (const ChannelSetting& setting : instruction.settings) {
        check(setting.first <= setting.last, "a setting runs backwards", report);
        check(setting.first <= kHighestChannelNumber, "a channel number beyond 65535", report);
        check(!setting.pattern.empty(), "a setting without letters", report);
        // The pattern lies inside the body (or is the implied "A").
        const bool inside =
            setting.pattern.data() >= body.data() &&
            setting.pattern.data() + setting.pattern.size() <= body.data() + body.size();
        check(inside || setting.pattern == "A", "a pattern outside the command", report);
        for (char letter : setting.pattern)
            check(isChannelLetter(letter), "a pattern with a letter that is no state", report);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView input(data, static_cast<qsizetype>(size));
    const fuzz::CutInput cut = fuzz::splitCuts(input);
    checkController(cut.cuts, cut.data);
    checkInstruction(input);
    return 0;
}
