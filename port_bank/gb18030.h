#pragma once

#include <QByteArrayView>

// Where one GB18030 character ends and the next begins, as Qt's converter reads a stream of
// bytes, for every reader of received bytes: the decoder, the receive bound's cuts and the
// log's visible text. A unit is one of:
//  - a byte below 0x80: a character;
//  - a lead byte (81-FE) with a trail byte (40-7E, 80-FE): a character of two bytes;
//  - lead, digit (30-39), lead, digit: a character of four bytes;
//  - a lead byte with 0xFF: two bytes that are no character;
//  - any other lead byte: one byte that is no character, and the byte after it is read afresh;
//  - 0x80 or 0xFF: one byte that is no character.
namespace Gb18030 {

struct Unit {
    qsizetype length; // 0: the bytes end before it is known
    bool character;   // false: no character (the converter gives U+FFFD)
};

// The unit at the front of bytes, which are not empty.
Unit unitAt(QByteArrayView bytes);

// Where the last whole unit ends: what follows it begins a unit that the next bytes finish.
qsizetype wholeUnitsEnd(QByteArrayView bytes);

// Whether a unit ends with this byte wherever it stands, so that the next byte begins one:
// every byte but digits and lead bytes.
constexpr bool endsAnyUnit(uchar byte)
{
    return !(byte >= 0x30 && byte <= 0x39) && !(byte >= 0x81 && byte <= 0xFE);
}

} // namespace Gb18030
