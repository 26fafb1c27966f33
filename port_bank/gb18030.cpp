#include "port_bank/gb18030.h"

namespace {

bool isLead(uchar byte)
{
    return byte >= 0x81 && byte <= 0xFE;
}

bool isDigit(uchar byte)
{
    return byte >= 0x30 && byte <= 0x39;
}

bool isTrail(uchar byte)
{
    return (byte >= 0x40 && byte <= 0x7E) || (byte >= 0x80 && byte <= 0xFE);
}

} // namespace

Gb18030::Unit Gb18030::unitAt(QByteArrayView bytes)
{
    const auto byte = [&bytes](qsizetype i) { return static_cast<uchar>(bytes[i]); };
    const qsizetype size = bytes.length();
    if (byte(0) < 0x80)
        return {1, true};
    if (!isLead(byte(0)))
        return {1, false};
    if (size < 2)
        return {0, false};
    if (isTrail(byte(1)))
        return {2, true};
    if (byte(1) == 0xFF)
        return {2, false}; // the converter takes the pair as one bad character
    if (isDigit(byte(1))) {
        if (size < 3)
            return {0, false};
        if (isLead(byte(2))) {
            if (size < 4)
                return {0, false};
            if (isDigit(byte(3)))
                return {4, true};
        }
    }
    return {1, false};
}

qsizetype Gb18030::wholeUnitsEnd(QByteArrayView bytes)
{
    // Everything up to the last byte that ends any unit is whole units, whatever it holds: only
    // what follows needs following, not the whole of a long piece.
    qsizetype i = bytes.length();
    while (i > 0 && !endsAnyUnit(static_cast<uchar>(bytes[i - 1])))
        --i;
    while (i < bytes.length()) {
        const qsizetype length = unitAt(bytes.sliced(i)).length;
        if (length == 0)
            return i;
        i += length;
    }
    return i;
}
