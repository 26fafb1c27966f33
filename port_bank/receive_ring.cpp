#include "port_bank/receive_ring.h"

#include "port_bank/gb18030.h"

#include <algorithm>
#include <cstring>

ReceiveRing::ReceiveRing(qsizetype capacity) : capacity_(capacity) {}

// Logical positions: the carry below 0, then the bytes held, then the incoming ones.
uchar ReceiveRing::at(qsizetype logical, QByteArrayView incoming) const
{
    if (logical < 0)
        return uchar(carry_[carry_.size() + logical]);
    if (logical >= size_)
        return uchar(incoming[logical - size_]);
    const qsizetype index = head_ + logical;
    return uchar(storage_[index < capacity_ ? index : index - capacity_]);
}

// Where the unit that begins at from ends; nothing when the bytes (up to total) end before it
// does.
std::optional<qsizetype> ReceiveRing::unitEnd(qsizetype from, qsizetype total,
                                              QByteArrayView incoming) const
{
    char unit[4];
    const qsizetype length = std::min<qsizetype>(4, total - from);
    for (qsizetype i = 0; i < length; ++i)
        unit[i] = char(at(from + i, incoming));
    const qsizetype taken = Gb18030::unitAt(QByteArrayView(unit, length)).length;
    if (taken == 0)
        return std::nullopt;
    return from + taken;
}

// A unit start at or before position: after the nearest byte that ends any unit, or else the
// start of the carry.
qsizetype ReceiveRing::startBefore(qsizetype position, QByteArrayView incoming) const
{
    while (position > -carry_.size() && !Gb18030::endsAnyUnit(at(position - 1, incoming)))
        --position;
    return position;
}

qsizetype ReceiveRing::append(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return 0;
    if (storage_.isEmpty())
        storage_.resize(capacity_);

    const qsizetype overflow = size_ + bytes.size() - capacity_;
    qsizetype dropped = 0;
    if (overflow > 0) {
        // The first unit start at or after the overflow; only bytes that are dropped (and the
        // rest of a unit cut by the overflow) are looked at.
        const qsizetype total = size_ + bytes.size();
        std::optional<qsizetype> cut = startBefore(overflow, bytes);
        while (cut && *cut < overflow)
            cut = unitEnd(*cut, total, bytes);
        dropped = cut.value_or(total);
        carry_.clear();
        if (dropped >= size_) {
            bytes = bytes.sliced(dropped - size_);
            head_ = 0;
            size_ = 0;
        } else {
            head_ = (head_ + dropped) % capacity_;
            size_ -= dropped;
        }
    }
    store(bytes);
    return dropped;
}

void ReceiveRing::store(QByteArrayView bytes)
{
    qsizetype tail = (head_ + size_) % capacity_;
    const char* from = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const qsizetype piece = std::min(left, capacity_ - tail);
        std::memcpy(storage_.data() + tail, from, size_t(piece));
        from += piece;
        left -= piece;
        size_ += piece;
        tail = (tail + piece) % capacity_;
    }
}

QByteArray ReceiveRing::takeAll()
{
    if (size_ == 0)
        return QByteArray();
    QByteArray out(size_, Qt::Uninitialized);
    const qsizetype first = std::min(size_, capacity_ - head_);
    std::memcpy(out.data(), storage_.constData() + head_, size_t(first));
    std::memcpy(out.data() + first, storage_.constData(), size_t(size_ - first));
    // The unit left unfinished at the end, which the decoder holds, begins the next take.
    qsizetype start = startBefore(size_, {});
    for (std::optional<qsizetype> end; start < size_ && (end = unitEnd(start, size_, {}));)
        start = *end;
    QByteArray carry;
    for (qsizetype i = start; i < size_; ++i)
        carry.append(char(at(i, {})));
    carry_ = carry;
    head_ = 0;
    size_ = 0;
    return out;
}

void ReceiveRing::clear()
{
    head_ = 0;
    size_ = 0;
    carry_.clear();
}
