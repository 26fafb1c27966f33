#include "commands/lenient_number.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <string>

namespace {

// Enough significant digits to round any decimal text correctly (a double's exact halfway
// points have at most 767); the rest only tells whether something non-zero followed.
constexpr std::size_t kMaxSignificantDigits = 800;
// Beyond this decimal exponent every double is infinite or zero; keeps the sums from overflowing.
constexpr std::int64_t kExponentLimit = 1'000'000'000;

bool isBlank(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

// Walks a text one character at a time with the blanks left out.
class NonBlankReader {
public:
    explicit NonBlankReader(QStringView text) : m_text(text) { skipBlanks(); }

    // The current character; 0 at the end (a NUL in the text ends the number as well).
    char16_t peek() const { return m_pos < m_text.size() ? m_text[m_pos].unicode() : u'\0'; }
    void next()
    {
        ++m_pos;
        skipBlanks();
    }

private:
    void skipBlanks()
    {
        while (m_pos < m_text.size() && isBlank(m_text[m_pos].unicode()))
            ++m_pos;
    }

    QStringView m_text;
    qsizetype m_pos = 0;
};

int digitValue(char16_t c, int radix)
{
    int value = -1;
    if (c >= u'0' && c <= u'9')
        value = c - u'0';
    else if (c >= u'a' && c <= u'f')
        value = c - u'a' + 10;
    else if (c >= u'A' && c <= u'F')
        value = c - u'A' + 10;
    return value < radix ? value : -1;
}

bool isDecimalDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

double readRadixNumber(NonBlankReader& in, int radix)
{
    std::uint64_t bits = 0;
    bool beyond32Bits = false;
    double plainValue = 0.0; // used once the value no longer fits 32 bits
    for (int digit; (digit = digitValue(in.peek(), radix)) >= 0; in.next()) {
        if (beyond32Bits) {
            plainValue = plainValue * radix + digit;
        } else {
            bits = bits * radix + digit; // at most 2^36: no overflow
            if (bits > 0xFFFF'FFFFu) {
                beyond32Bits = true;
                plainValue = static_cast<double>(bits);
            }
        }
    }
    if (beyond32Bits)
        return plainValue;
    if (bits <= 0xFFFFu)
        return static_cast<std::int16_t>(static_cast<std::uint16_t>(bits));
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(bits));
}

// Reads the exponent after e/E/d/D. One without digits counts as 0, which leaves the value as
// it was, so "1e" and "1e-" read 1 without looking ahead.
std::int64_t readExponent(NonBlankReader& in)
{
    const char16_t marker = in.peek();
    if (marker != u'e' && marker != u'E' && marker != u'd' && marker != u'D')
        return 0;
    in.next();
    bool negative = false;
    if (in.peek() == u'+' || in.peek() == u'-') {
        negative = in.peek() == u'-';
        in.next();
    }
    std::int64_t exponent = 0;
    for (; isDecimalDigit(in.peek()); in.next()) {
        if (exponent < kExponentLimit)
            exponent = exponent * 10 + (in.peek() - u'0');
    }
    return negative ? -exponent : exponent;
}

// Collects the decimal digits as a bounded ASCII mantissa 0.DDD with a power of ten, so that
// std::from_chars never sees more than a few hundred characters.
class DecimalDigits {
public:
    void add(char16_t c, bool beforePoint)
    {
        if (m_digits.empty() && c == u'0') {
            if (!beforePoint)
                --m_pointExponent; // 0.05 is 0.5 times 10^-1
            return;
        }
        if (m_digits.size() < kMaxSignificantDigits)
            m_digits.push_back(static_cast<char>(c));
        else if (c != u'0')
            m_droppedNonZero = true;
        if (beforePoint)
            ++m_pointExponent;
    }

    double value(std::int64_t exponent) const
    {
        if (m_digits.empty())
            return 0.0;
        const std::int64_t total = m_pointExponent + exponent;
        if (total > 400)
            return std::numeric_limits<double>::infinity();
        if (total < -400)
            return 0.0;

        std::string text = "0." + m_digits;
        if (m_droppedNonZero)
            text += '1'; // keeps a value just above a halfway point from rounding down
        text += 'e';
        text += std::to_string(total);

        double result = 0.0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), result);
        Q_UNUSED(end);
        if (error == std::errc::result_out_of_range)
            return total > 0 ? std::numeric_limits<double>::infinity() : 0.0;
        return result;
    }

private:
    std::string m_digits; // significant digits, no leading zeros
    std::int64_t m_pointExponent = 0;
    bool m_droppedNonZero = false;
};

double readDecimalNumber(NonBlankReader& in)
{
    bool negative = false;
    if (in.peek() == u'+' || in.peek() == u'-') {
        negative = in.peek() == u'-';
        in.next();
    }

    DecimalDigits digits;
    bool anyDigit = false;
    for (; isDecimalDigit(in.peek()); in.next()) {
        digits.add(in.peek(), true);
        anyDigit = true;
    }
    if (in.peek() == u'.') {
        in.next();
        for (; isDecimalDigit(in.peek()); in.next()) {
            digits.add(in.peek(), false);
            anyDigit = true;
        }
    }
    if (!anyDigit)
        return 0.0; // "-", "." and "+." are no number

    const double magnitude = digits.value(readExponent(in));
    return negative ? -magnitude : magnitude;
}

} // namespace

double lenientNumber(QStringView text)
{
    NonBlankReader in(text);
    if (in.peek() != u'&')
        return readDecimalNumber(in);

    in.next();
    const char16_t kind = in.peek();
    if (kind == u'h' || kind == u'H') {
        in.next();
        return readRadixNumber(in, 16);
    }
    if (kind == u'o' || kind == u'O') {
        in.next();
        return readRadixNumber(in, 8);
    }
    return 0.0;
}
