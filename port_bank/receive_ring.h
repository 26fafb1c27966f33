#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <optional>

// The bytes a port received since the last read, up to a fixed capacity. Past it the oldest
// bytes go, always whole GB18030 characters, so that what is kept decodes as it arrived. Every
// operation costs in proportion to the bytes it moves, never to the capacity.
//
// Characters are told apart as the decoder does (gb18030.h), following the stream from a byte
// that ends any character: the ring keeps the first bytes of a character begun before the last
// take (which the decoder holds), so that its end is still taken for an end.
class ReceiveRing {
public:
    explicit ReceiveRing(qsizetype capacity);

    // Adds bytes at the newest end. Returns how many bytes were dropped at the oldest end to
    // make room (a few more than the overflow when it ends inside a character).
    qsizetype append(QByteArrayView bytes);

    // Everything held, oldest first; the ring is empty afterwards.
    QByteArray takeAll();

    // Forgets everything, and starts the character stream afresh (a port that opens again).
    void clear();

    qsizetype size() const { return size_; }
    qsizetype capacity() const { return capacity_; }

private:
    uchar at(qsizetype logical, QByteArrayView incoming) const;
    std::optional<qsizetype> unitEnd(qsizetype from, qsizetype total,
                                     QByteArrayView incoming) const;
    qsizetype startBefore(qsizetype position, QByteArrayView incoming) const;
    void store(QByteArrayView bytes);

    QByteArray storage_; // allocated at the first append
    qsizetype capacity_;
    qsizetype head_ = 0; // index of the oldest byte in storage_
    qsizetype size_ = 0;
    // The bytes before the oldest one that begin its character, taken out by the last take;
    // logical positions below 0 stand for them.
    QByteArray carry_;
};
