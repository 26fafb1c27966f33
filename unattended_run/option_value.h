#pragma once

#include <QString>
#include <QStringList>
#include <span>

// Reads an option that takes a value, given as "--name VALUE" or "--name=VALUE". A separate value
// may not look like an option ("--log -h" is a slip, not a directory named "-h"); with
// negativeValues, a value such as "-1" is taken, so that it is refused as a number instead.
struct OptionValue {
    enum class Read { NotOurs, Taken, Refused };

    static Read read(const QStringList& arguments, qsizetype& i, std::span<const QString> names,
                     bool negativeValues, OptionValue& option, QString& why);

    QString name;
    QString value;
};
