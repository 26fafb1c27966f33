#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>

class RunRecord;

// The page's figures: a table per bound port with the run report's columns and values, read
// from the report's own CSV so that the two always agree.
namespace PageTables {
QByteArray html(const RunRecord& record, const QByteArray& reportCsv);
// The CSV's records and fields: quoted fields may hold commas, quotes (doubled) and line ends.
QList<QStringList> splitCsv(const QByteArray& csv);
} // namespace PageTables
