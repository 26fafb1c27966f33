// lenientNumber() reads whatever an operator types into a number box. Besides not crashing it
// must never read NaN, must ignore blanks and trailing text, must agree with a correctly rounded
// reading of plain decimal text however long, and must follow the 16/32-bit rule for &H and &O.

#include "commands/lenient_number.h"
#include "fuzz_support.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace {

using fuzz::check;

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

QString withoutBlanks(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        if (!isBlank(c))
            out += c;
    }
    return out;
}

bool startsDecimalBody(char16_t c)
{
    return (c >= u'0' && c <= u'9') || c == u'.';
}

// The text, blanks removed, read by std::from_chars, which rounds correctly at any length.
// The 'd' exponent marker becomes 'e'; a 'd' anywhere else is past the number in both readings.
void checkDecimalAgainstFromChars(const QString& compact, double value)
{
    std::string ascii = compact.toLatin1().toStdString(); // no digit comes from a non-ASCII char
    bool negative = false;
    std::size_t start = 0;
    if (!ascii.empty() && (ascii[0] == '+' || ascii[0] == '-')) {
        negative = ascii[0] == '-';
        start = 1;
    }
    if (start >= ascii.size() || !startsDecimalBody(static_cast<unsigned char>(ascii[start]))) {
        check(value == 0.0, "a text that starts no number reads non-zero", compact);
        return;
    }
    for (char& c : ascii) {
        if (c == 'd' || c == 'D')
            c = 'e';
    }

    double expected = 0.0;
    const auto [end, error] =
        std::from_chars(ascii.data() + start, ascii.data() + ascii.size(), expected);
    (void)end;
    if (error == std::errc::invalid_argument) {
        check(value == 0.0, "a text without digits reads non-zero", compact);
    } else if (error == std::errc::result_out_of_range) {
        check(std::isinf(value) || std::fabs(value) < std::numeric_limits<double>::min(),
              "a value out of a double's range reads neither infinite nor (nearly) zero", compact);
        check(value == 0.0 || std::signbit(value) == negative, "out of range with the wrong sign",
              compact);
    } else {
        check(value == (negative ? -expected : expected),
              "differs from the correctly rounded decimal value", compact);
    }
}

int radixDigit(QChar c, int radix)
{
    int value = -1;
    if (c >= u'0' && c <= u'9')
        value = c.unicode() - u'0';
    else if (c >= u'a' && c <= u'f')
        value = c.unicode() - u'a' + 10;
    else if (c >= u'A' && c <= u'F')
        value = c.unicode() - u'A' + 10;
    return value < radix ? value : -1;
}

// "&H"/"&O": up to FFFF a 16-bit pattern, up to FFFFFFFF a 32-bit one, above that unsigned.
void checkRadix(const QString& compact, double value)
{
    const QChar kind = compact.size() > 1 ? compact[1].toLower() : QChar();
    if (kind != u'h' && kind != u'o') {
        check(value == 0.0, "'&' without H or O reads non-zero", compact);
        return;
    }
    const int radix = kind == u'h' ? 16 : 8;
    std::uint64_t bits = 0;
    for (qsizetype i = 2; i < compact.size(); ++i) {
        const int digit = radixDigit(compact[i], radix);
        if (digit < 0)
            break;
        bits = bits * radix + digit;
        if (bits > 0xFFFF'FFFFu) {
            check(value > 4294967295.0, "a value beyond 32 bits does not read unsigned", compact);
            return;
        }
    }
    const double expected = bits <= 0xFFFFu
                                ? static_cast<std::int16_t>(static_cast<std::uint16_t>(bits))
                                : static_cast<std::int32_t>(static_cast<std::uint32_t>(bits));
    check(value == expected, "breaks the 16/32-bit rule", compact);
}

void checkText(const QString& text)
{
    const double value = lenientNumber(text);
    check(!std::isnan(value), "reads NaN", text);

    const QString compact = withoutBlanks(text);
    check(lenientNumber(compact) == value, "blanks change the value", text);
    // No number goes on with 'z', so whatever stood before it must read the same.
    check(lenientNumber(text + u'z') == value, "trailing text changes the value", text);

    if (compact.startsWith(u'&')) {
        checkRadix(compact, value);
        return;
    }
    checkDecimalAgainstFromChars(compact, value);
    if (!compact.isEmpty() && startsDecimalBody(compact[0].unicode()))
        check(lenientNumber(u'-' + compact) == -value, "a minus sign changes more than the sign",
              text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    checkText(fuzz::utf8Text(data, size));
    checkText(fuzz::utf16Text(data, size));
    return 0;
}
