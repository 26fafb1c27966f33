#include "run_page/page_tables.h"

#include "run_page/markup_text.h"
#include "unattended_run/run_record.h"

namespace PageTables {

QList<QStringList> splitCsv(const QByteArray& csv)
{
    const QString text = QString::fromUtf8(csv);
    QList<QStringList> records;
    QStringList fields;
    QString field;
    bool quoted = false, any = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        any = true;
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < text.size() && text[i + 1] == QLatin1Char('"'))
                field += text[++i];
            else if (c == QLatin1Char('"'))
                quoted = false;
            else
                field += c;
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            fields.append(std::exchange(field, QString()));
        } else if (c == QLatin1Char('\n')) {
            fields.append(std::exchange(field, QString()));
            records.append(std::exchange(fields, QStringList()));
            any = false;
        } else {
            field += c;
        }
    }
    if (any) {
        fields.append(field);
        records.append(fields);
    }
    return records;
}

QByteArray html(const RunRecord& record, const QByteArray& reportCsv)
{
    const QList<QStringList> rows = splitCsv(reportCsv);
    if (rows.isEmpty())
        return "<p>No report figures yet.</p>";
    const QStringList& names = rows.first();
    QByteArray out = "<div class=\"tables\">";
    for (int i = 0; i < RunRecord::kPorts && i + 1 < rows.size(); ++i) {
        if (!record.port(i).isBound())
            continue;
        const QStringList& values = rows[i + 1];
        out += "<table><caption>Port " + QByteArray::number(i + 1) + "</caption>";
        for (qsizetype column = 0; column < names.size(); ++column) {
            const QString value = column < values.size() ? values[column] : QString();
            const bool failed =
                names[column] == QLatin1String("verdict") && value == QLatin1String("fail");
            out += "<tr><th>" + markup(names[column]) + "</th><td" +
                   (failed ? " class=\"fail\"" : "") + ">" + markup(value) + "</td></tr>";
        }
        out += "</table>";
    }
    return out + "</div>";
}

} // namespace PageTables
