#pragma once

// Shared by the fuzz targets: the two ways the fuzzer's bytes become text, and the one way an
// invariant fails.

#include <QByteArrayView>
#include <QString>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fuzz {

// The bytes read as UTF-8, as typed or pasted text arrives; invalid sequences become U+FFFD.
inline QString utf8Text(const std::uint8_t* data, std::size_t size)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

// The bytes taken as raw UTF-16 code units (an odd last byte is dropped), so that lone
// surrogates, NULs and anything else a QString can hold reach the parser too.
inline QString utf16Text(const std::uint8_t* data, std::size_t size)
{
    QString text(static_cast<qsizetype>(size / 2), Qt::Uninitialized);
    std::memcpy(text.data(), data, size / 2 * 2); // memcpy: the input need not be aligned
    return text;
}

// The text with everything outside printable ASCII as \uXXXX, so the report shows the input
// that broke the rule even when it is mostly control characters.
inline QByteArray escaped(const QString& text)
{
    QByteArray out;
    for (QChar c : text) {
        if (c.unicode() >= 0x20 && c.unicode() < 0x7f && c != u'\\')
            out += static_cast<char>(c.unicode());
        else
            out += "\\u" + QByteArray::number(c.unicode(), 16).rightJustified(4, '0');
    }
    return out;
}

// libFuzzer treats an abort as a crash and keeps the input that caused it.
inline void check(bool holds, const char* rule, const QString& input)
{
    if (holds)
        return;
    std::fprintf(stderr, "broken: %s\ninput: \"%s\"\n", rule, escaped(input).constData());
    std::abort();
}

// The layout shared by the targets that feed bytes in pieces: byte 0 says how many piece lengths
// follow it (1 to 8, the rest of byte 0 is the target's own), then come the lengths, then the data.
struct CutInput {
    QByteArrayView cuts;
    QByteArrayView data;
};

inline CutInput splitCuts(QByteArrayView input)
{
    const qsizetype header =
        input.isEmpty()
            ? 0
            : std::min<qsizetype>(1 + static_cast<std::uint8_t>(input[0]) % 8, input.size());
    return {header > 0 ? input.sliced(1, header - 1) : QByteArrayView(), input.sliced(header)};
}

} // namespace fuzz
