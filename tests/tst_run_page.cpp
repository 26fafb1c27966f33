// The run page and the JUnit file drawn from a run record fed by a fake clock: their size in the
// worst case, whatever the run's length, and text from outside that must stay text.
#include "run_page/junit_report.h"
#include "run_page/run_page.h"
#include "run_page/run_page_files.h"
#include "run_page/timeline_columns.h"
#include "session_log/run_report.h"
#include "unattended_run/run_record.h"

#include <QtTest>

namespace {

constexpr std::int64_t kStart = 1'796'000'000'000; // 2026-11-30 00:53:20 UTC

// xmllint's verdict on a file: empty when it is well-formed.
QString xmllintErrors(const QByteArray& contents)
{
    QTemporaryFile file;
    if (!file.open() || file.write(contents) != contents.size() || !file.flush())
        return QStringLiteral("cannot write the file");
    QProcess lint;
    lint.start(QStringLiteral("xmllint"), {QStringLiteral("--noout"), file.fileName()});
    if (!lint.waitForFinished(30000))
        return QStringLiteral("xmllint did not finish");
    return lint.exitCode() == 0 ? QString() : QString::fromUtf8(lint.readAllStandardError());
}

// Every element's name, and the text of each kind of element, read as XML.
struct Parsed {
    QStringList elements;
    QStringList titles;
};

Parsed parse(const QByteArray& page)
{
    Parsed parsed;
    QXmlStreamReader xml(page);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        parsed.elements.append(xml.name().toString());
        if (xml.name() == QLatin1String("title"))
            parsed.titles.append(xml.readElementText(QXmlStreamReader::IncludeChildElements));
    }
    if (xml.hasError())
        parsed.elements.append(QStringLiteral("ERROR ") + xml.errorString());
    return parsed;
}

} // namespace

class TestRunPage : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { qputenv("TZ", "UTC"); }
    void worstCaseSizeDoesNotGrowWithTheRun();
    void bandTimesAddUp();
    void textFromOutsideStaysText();
    void pageIsRewrittenUntilTheEnd();
};

// Sixteen ports, every column of every row holding every kind of mark with texts at their
// longest in markup (80 ampersands each), for an hour, a night and a week.
void TestRunPage::worstCaseSizeDoesNotGrowWithTheRun()
{
    const QString longest(80, QLatin1Char('&'));
    QList<qsizetype> sizes;
    for (const std::int64_t hours : {1, 8, 7 * 24}) {
        std::int64_t now = kStart;
        RunRecord record(kStart, [&now] { return now; });
        record.setCommandLine({longest, longest});
        ReportRows rows;
        for (int i = 0; i < RunRecord::kPorts; ++i) {
            rows[std::size_t(i)].device = longest;
            record.bind(i, longest);
        }
        const std::int64_t span = hours * 3600 * 1000;
        for (int step = 0; step < 512; ++step) {
            now = kStart + span * step / 512;
            for (int i = 0; i < RunRecord::kPorts; ++i) {
                record.portEvent(i, PortObserver::Event::Opened, longest);
                record.missed(i, longest, longest);
                record.differed(i, 999'999'999, longest, longest);
                record.logGap(i, now, now + 999, 4'000'000'000);
                record.portEvent(i, PortObserver::Event::Lost, longest);
            }
            record.countCheck();
        }
        now = kStart + span;
        record.end();
        for (int i = 0; i < RunRecord::kPorts; ++i)
            rows[std::size_t(i)].verdict.judged = true;
        const QByteArray page = runPageHtml(record, {longest, now, false, runReportCsv(rows, now)});
        const Parsed parsed = parse(page);
        QCOMPARE(parsed.elements.filter(QStringLiteral("ERROR")), QStringList());
        // Every port: two labels and 32 columns of three marks each.
        QCOMPARE(parsed.titles.size(), 1 + 16 * (2 + 32 * 3));
        sizes.append(page.size());
    }
    qInfo() << "worst-case page bytes for an hour, a night, a week:" << sizes;
    for (qsizetype size : sizes) {
        QVERIFY2(size < 2 * 1024 * 1024, qPrintable(QString::number(size)));
        QVERIFY(std::abs(size - sizes[0]) * 10 <= sizes[0]);
    }
}

// A port bound from the start, opened after 10 s, lost at 20 s and back at 40 s, in a run of
// 100 s, and one never opened: the rows' never-opened, up and down times, and where a mark is.
void TestRunPage::bandTimesAddUp()
{
    std::int64_t now = kStart;
    RunRecord record(kStart, [&now] { return now; });
    record.bind(0, QStringLiteral("/dev/ttyS0"));
    record.bind(1, QStringLiteral("/dev/ttyS1"));
    now += 10'000;
    record.portEvent(0, PortObserver::Event::Opened, QStringLiteral("/dev/ttyS0 9600"));
    now += 10'000;
    record.portEvent(0, PortObserver::Event::Lost, QStringLiteral("/dev/ttyS0"));
    now += 20'000;
    record.portEvent(0, PortObserver::Event::Returned, QStringLiteral("/dev/ttyS0 9600"));
    now += 50'000;
    record.missed(0, QStringLiteral(":::G"), QString());
    now += 10'000;
    record.end();

    for (const auto& [port, never, up, down] :
         {std::tuple{0, 10'000, 70'000, 20'000}, {1, 100'000, 0, 0}}) {
        const std::vector<TimelineColumn> columns = timelineColumns(record, port, now);
        QCOMPARE(columns.size(), std::size_t(32)); // 100 one-second buckets, then 50 of two
        std::int64_t sums[3] = {};
        for (const TimelineColumn& column : columns) {
            // Up time where the port was up: nothing in the 20 s it was away.
            if (column.startMs >= kStart + 20'000 && column.endMs <= kStart + 40'000)
                QCOMPARE(column.events.upMs, 0);
            sums[0] += column.neverOpenedMs;
            sums[1] += column.events.upMs;
            sums[2] += column.downMs;
        }
        QCOMPARE(sums[0], never);
        QCOMPARE(sums[1], up);
        QCOMPARE(sums[2], down);
        QCOMPARE(columns.front().startMs, kStart);
        QCOMPARE(columns.back().endMs, kStart + 100'000);
    }
    // The miss at 90 s is in the column that holds 90 s.
    for (const TimelineColumn& column : timelineColumns(record, 0, now))
        QCOMPARE(column.events.missed.count,
                 column.startMs <= kStart + 90'000 && kStart + 90'000 < column.endMs ? 1u : 0u);
}

// An answer, a device and the command line that try to end the title and start a script, with
// a control character XML cannot hold: the page and the JUnit file stay well-formed, hold no
// script element, and keep the text as text.
void TestRunPage::textFromOutsideStaysText()
{
    const QString hostile = QStringLiteral("</title><script>alert(1)</script>\x01\"'&");
    std::int64_t now = kStart;
    RunRecord record(kStart, [&now] { return now; });
    record.setCommandLine({QStringLiteral("--port"), QStringLiteral("1=") + hostile});
    record.bind(0, hostile);
    record.bind(1, QStringLiteral("/dev/ttyS1"));
    for (int i = 0; i < 2; ++i)
        record.portEvent(i, PortObserver::Event::Opened, QStringLiteral("x"));
    now += 5000;
    record.differed(0, 1500, hostile, QStringLiteral("OK"));
    record.agreed(1, 1500);
    now += 5000;
    record.end();
    ReportRows rows;
    rows[0].device = hostile;
    const QByteArray page = runPageHtml(record, {hostile, now, true, runReportCsv(rows, now)});
    const QByteArray junit = junitXml(record, true);

    for (const QByteArray& file : {page, junit}) {
        QCOMPARE(xmllintErrors(file), QString());
        const Parsed parsed = parse(file);
        QVERIFY(!parsed.elements.contains(QStringLiteral("script")));
        QVERIFY(!file.contains('\x01'));
    }
    QVERIFY(page.contains("<meta http-equiv=\"Content-Security-Policy\" content=\"default-src "
                          "'none'; style-src 'unsafe-inline'\"/>"));
    const Parsed parsed = parse(page);
    QVERIFY(parsed.titles.contains(
        "port 1: 1 differing answers; the first at 2026-11-30 00:53:25.000, answered "
        "\"</title><script>alert(1)</script>\"'&\", expected \"OK\""));
    QVERIFY(junit.contains("<testcase classname=\"lightbench\" name=\"port 1 "
                           "&lt;/title&gt;&lt;script&gt;alert(1)&lt;/script&gt;&quot;&#39;&amp;\" "
                           "time=\"10.000\">\n      <failure message=\"differed 1\" "
                           "type=\"differed 1\">"));
    QVERIFY(junit.contains("<testcase classname=\"lightbench\" name=\"port 2 /dev/ttyS1\" "
                           "time=\"10.000\"/>"));
    QVERIFY(junit.contains("<testsuite name=\"lightbench\" tests=\"2\" failures=\"1\" "
                           "errors=\"0\" time=\"10.000\" timestamp=\"2026-11-30T00:53:20\">"));
}

// The page is written at once, then again every interval (drawn anew each time), and the end
// writes both files.
void TestRunPage::pageIsRewrittenUntilTheEnd()
{
    QTemporaryDir dir;
    const QString html = dir.filePath(QStringLiteral("run.html"));
    const QString junit = dir.filePath(QStringLiteral("run.xml"));
    int drawn = 0;
    RunPageFiles files(
        {html, junit}, [&drawn] { return QByteArray::number(++drawn); }, 20);
    files.start();
    QTRY_VERIFY(QFileInfo::exists(html));
    QTRY_VERIFY_WITH_TIMEOUT(drawn >= 3, 10000);
    QVERIFY(!QFileInfo::exists(junit));
    QCOMPARE(files.finish("junit"), QStringList());
    QFile page(html), xml(junit);
    QVERIFY(page.open(QIODevice::ReadOnly) && xml.open(QIODevice::ReadOnly));
    QCOMPARE(page.readAll(), QByteArray::number(drawn));
    QCOMPARE(xml.readAll(), QByteArray("junit"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList({"run.html", "run.xml"}));

    // A JUnit file that cannot be written is said, and the page is still written.
    RunPageFiles blocked({html, dir.filePath(QStringLiteral("missing/run.xml"))},
                         [] { return QByteArray("last"); });
    const QStringList failures = blocked.finish("junit");
    QCOMPARE(failures.size(), 1);
    QVERIFY2(failures[0].startsWith("JUnit file: cannot create "), qPrintable(failures[0]));
}

QTEST_GUILESS_MAIN(TestRunPage)
#include "tst_run_page.moc"
