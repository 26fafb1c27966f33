#include "simulator/instruction.h"

#include "simulator/channel_state.h"

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// A decimal number at pos: at least one digit. Long runs of digits saturate rather than
// overflow, so that "99999999999999999999" reads as too large instead of wrapping around.
bool readNumber(std::string_view text, std::size_t& pos, std::uint32_t& value)
{
    if (pos >= text.size() || !isDigit(text[pos]))
        return false;
    std::uint64_t n = 0;
    while (pos < text.size() && isDigit(text[pos])) {
        n = n * 10 + std::uint64_t(text[pos] - '0');
        if (n > 0xFFFFFFFFu)
            n = 0xFFFFFFFFu;
        ++pos;
    }
    value = std::uint32_t(n);
    return true;
}

// The whole text is one decimal number.
bool wholeNumber(std::string_view text, std::uint32_t& value)
{
    std::size_t pos = 0;
    return readNumber(text, pos, value) && pos == text.size();
}

bool readChannel(std::string_view text, std::size_t& pos, std::uint32_t& channel)
{
    return readNumber(text, pos, channel) && channel <= kHighestChannelNumber;
}

// One item of a list: number-letter groups chained without separator ("1E2F3G", "10AABB20CD"),
// each group a channel with its letters or a range with at most one letter or a bracketed
// block fill.
bool parseItem(std::string_view item, std::vector<ChannelSetting>& settings)
{
    if (item.empty())
        return false;
    std::size_t pos = 0;
    while (pos < item.size()) {
        ChannelSetting setting;
        if (!readChannel(item, pos, setting.first))
            return false;
        if (pos < item.size() && item[pos] == '-') {
            ++pos;
            if (!readChannel(item, pos, setting.last) || setting.last < setting.first)
                return false;
            if (pos < item.size() && item[pos] == '(') {
                const std::size_t close = item.find(')', pos);
                if (close == std::string_view::npos || close == pos + 1)
                    return false;
                setting.pattern = item.substr(pos + 1, close - pos - 1);
                for (char letter : setting.pattern) {
                    if (!isChannelLetter(letter))
                        return false; // also refuses a nested '('
                }
                pos = close + 1;
            } else if (pos < item.size() && isChannelLetter(item[pos])) {
                setting.pattern = item.substr(pos, 1);
                ++pos;
            } else {
                setting.pattern = "A";
            }
        } else {
            const std::size_t start = pos;
            while (pos < item.size() && isChannelLetter(item[pos]))
                ++pos;
            setting.pattern = pos > start ? item.substr(start, pos - start) : "A";
            setting.last = setting.first + std::uint32_t(setting.pattern.size()) - 1;
        }
        // What follows a group is the next group's number or the end of the item.
        if (pos < item.size() && !isDigit(item[pos]))
            return false;
        settings.push_back(setting);
    }
    return true;
}

bool parseList(std::string_view list, std::vector<ChannelSetting>& settings)
{
    if (list.empty())
        return true;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = list.find(',', start);
        if (!parseItem(list.substr(start, comma - start), settings))
            return false;
        if (comma == std::string_view::npos)
            return true;
        start = comma + 1;
    }
}

int hexDigit(char c)
{
    if (isDigit(c))
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

bool parseInstruction(std::string_view body, Instruction& out)
{
    out.settings.clear();
    out.value = 0;
    if (body.starts_with("ZAV") && body.size() >= 4) {
        const std::string_view list = body.substr(4);
        switch (body[3]) {
        case 'A':
            out.kind = Instruction::Kind::AllOn;
            return list.empty();
        case 'C':
            out.kind = Instruction::Kind::AllFlash;
            return list.empty();
        case 'B':
            out.kind = Instruction::Kind::ListOthersOff;
            return parseList(list, out.settings);
        case 'Z':
            out.kind = Instruction::Kind::ListOthersKept;
            return parseList(list, out.settings);
        default:
            return false;
        }
    }
    if (body.starts_with("STA")) {
        out.kind = Instruction::Kind::FlashSpeed;
        return wholeNumber(body.substr(3), out.value) && out.value >= 1 && out.value <= 65535;
    }
    if (body.starts_with("STB")) {
        if (!wholeNumber(body.substr(3), out.value) || out.value < 1 || out.value > 200)
            return false;
        out.kind = out.value < 100 ? Instruction::Kind::RunningSpeed : Instruction::Kind::FadeSpeed;
        return true;
    }
    constexpr std::string_view address = "SET_BOARD_ADR=";
    if (body.starts_with(address) && body.size() == address.size() + 4) {
        out.kind = Instruction::Kind::BoardAddress;
        for (char c : body.substr(address.size())) {
            const int digit = hexDigit(c);
            if (digit < 0)
                return false;
            out.value = out.value * 16 + std::uint32_t(digit);
        }
        return true;
    }
    return false;
}
