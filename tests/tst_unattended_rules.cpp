// The rules behind an unattended run's verdict, fed directly: the judging of one check's answers,
// the answer line, the answer-time histogram, the run record's fixed buckets, the verdict's text,
// the exit status and the duration texts.
#include "session_log/local_timestamp.h"
#include "unattended_run/answer_histogram.h"
#include "unattended_run/answer_judge.h"
#include "unattended_run/answer_line.h"
#include "unattended_run/final_status.h"
#include "unattended_run/run_record.h"
#include "unattended_run/unattended_options.h"
#include "unattended_run/verdict.h"

#include <QtTest>

using Outcome = CheckJudgement::Outcome;

class TestUnattendedRules : public QObject {
    Q_OBJECT
private slots:
    void judgingAnswers();
    void answerIsTheLastCompleteLine();
    void answerTimePercentiles();
    void recordKeepsItsSizeOverAWeek();
    void verdictLinesAndExitStatus();
    void durations_data();
    void durations();
};

void TestUnattendedRules::judgingAnswers()
{
    std::array<bool, 16> asked{};
    CheckAnswers answers;
    for (int i = 0; i < 5; ++i) {
        asked[i] = true;
        answers[i] = QByteArray("G:BBA");
    }
    answers[1] = QByteArray("G:BBB");
    answers[3].reset();
    asked[9] = true; // asked, never answered: missed, not counted against the majority
    CheckJudgement judged = judgeAnswers(asked, answers, nullptr);
    QCOMPARE(judged.majority, QByteArray("G:BBA"));
    QVERIFY(!judged.noMajority);
    const std::array<Outcome, 10> expected = {
        Outcome::Agreed,   Outcome::Differed, Outcome::Agreed,   Outcome::Missed,
        Outcome::Agreed,   Outcome::NotAsked, Outcome::NotAsked, Outcome::NotAsked,
        Outcome::NotAsked, Outcome::Missed};
    for (int i = 0; i < 10; ++i)
        QCOMPARE(judged.outcomes[i], expected[i]);

    // Two against two: no majority, nobody differs.
    answers[3] = QByteArray("G:BBB");
    answers[4].reset();
    judged = judgeAnswers(asked, answers, nullptr);
    QVERIFY(judged.noMajority);
    QCOMPARE(judged.outcomes[1], Outcome::Agreed);
    QCOMPARE(judged.outcomes[9], Outcome::Missed);

    // A pattern judges each answer alone, wherever it matches, on the decoded text.
    answers[2] = QByteArray("\xb5\xc6 on"); // "灯 on" in GB18030
    const QRegularExpression pattern(QStringLiteral("BBA|灯"));
    judged = judgeAnswers(asked, answers, &pattern);
    QCOMPARE(judged.outcomes[0], Outcome::Agreed);
    QCOMPARE(judged.outcomes[1], Outcome::Differed);
    QCOMPARE(judged.outcomes[2], Outcome::Agreed);
    QVERIFY(!judged.noMajority);
}

void TestUnattendedRules::answerIsTheLastCompleteLine()
{
    AnswerLine line;
    line.add("ly:1\r\nG:B", 10);
    QCOMPARE(line.answer(), QByteArray("ly:1"));
    QCOMPARE(line.answerEndNs(), 10);
    line.add("BA\r", 20);
    line.add("\n", 30); // the LF of CR LF ends nothing more
    QCOMPARE(line.answer(), QByteArray("G:BBA"));
    QCOMPARE(line.answerEndNs(), 20);
    QCOMPARE(line.lastByteNs(), 30);
    line.add("half", 40);
    QCOMPARE(line.answer(), QByteArray("G:BBA"));
    QCOMPARE(line.unfinished(), QByteArray("half"));
    line.begin();
    QVERIFY(!line.hasAnswer());
}

void TestUnattendedRules::answerTimePercentiles()
{
    AnswerHistogram times;
    QCOMPARE(times.percentileMicros(0.5), 0);
    for (int i = 1; i <= 98; ++i)
        times.add(40); // exact below 64 µs
    times.add(1000);
    times.add(250000);
    QCOMPARE(times.percentileMicros(0.50), 40);
    QCOMPARE(times.percentileMicros(0.99), 1007); // 1000 µs lies in the step 992..1007
    QCOMPARE(times.maxMicros(), 250000);
    QCOMPARE(times.percentileMicros(1.0), 250000); // never above the maximum
    // Every step is within 1/32 of the values it holds.
    for (std::int64_t v : {64, 100, 1000, 33333, 999999, 123456789}) {
        const std::int64_t edge = AnswerHistogram::upperEdge(AnswerHistogram::counterFor(v));
        QVERIFY(edge >= v && edge - v <= v / 32 + 1);
    }
}

// A port that opens, is lost and returns again and again, and is checked all the while, for an
// hour, a night and a week: the buckets stay 64, the counts stay exact, open time adds up.
void TestUnattendedRules::recordKeepsItsSizeOverAWeek()
{
    for (const std::int64_t runMs : {3600'000LL, 8 * 3600'000LL, 7 * 24 * 3600'000LL}) {
        std::int64_t now = 1'000'000;
        RunRecord record(now, [&now] { return now; });
        record.bind(2, QStringLiteral("/dev/ttyUSB2"));
        record.portEvent(2, PortObserver::Event::Opened, QStringLiteral("/dev/ttyUSB2 9600"));
        std::int64_t upMs = 0, opened = now;
        std::uint64_t losses = 0, differed = 0;
        for (std::int64_t step = 0; now < 1'000'000 + runMs; ++step) {
            now += runMs / 500;
            if (step % 10 == 3) {
                record.portEvent(2, PortObserver::Event::Lost, QStringLiteral("/dev/ttyUSB2"));
                upMs += now - opened;
                ++losses;
            } else if (step % 10 == 4) {
                record.portEvent(2, PortObserver::Event::Returned, QStringLiteral("/dev/ttyUSB2"));
                opened = now;
            } else if (step % 7 == 0) {
                record.differed(2, 2500, QString(200, QLatin1Char('x')), QStringLiteral("G:B"));
                ++differed;
            } else {
                record.agreed(2, 1500);
            }
        }
        record.end();
        upMs += now - opened;
        const PortRunRecord& port = record.port(2);
        QCOMPARE(port.buckets().size(), size_t(64));
        QVERIFY(record.axis().endMs() > now &&
                record.axis().startMs() + 32 * record.axis().widthMs() <= now);
        std::int64_t bucketUp = 0;
        std::uint64_t bucketLost = 0, bucketDiffered = 0;
        for (const TimelineBucket& bucket : port.buckets()) {
            bucketUp += bucket.upMs;
            bucketLost += bucket.lost.count;
            bucketDiffered += bucket.differed.count;
            QVERIFY(bucket.differed.first.size() <= 80);
        }
        QCOMPARE(bucketUp, upMs);
        QCOMPARE(bucketLost, losses);
        QCOMPARE(port.losses(), losses);
        QCOMPARE(bucketDiffered, differed);
        QCOMPARE(port.buckets()[0].opened.firstMs, 1'000'000);
        QCOMPARE(port.buckets()[0].differed.firstMs, 1'000'000 + runMs / 500);
        QCOMPARE(port.answerTimes().maxMicros(), 2500);
    }
}

void TestUnattendedRules::verdictLinesAndExitStatus()
{
    std::int64_t now = 1796607000000;
    RunRecord record(now, [&now] { return now; });
    record.bind(0, QStringLiteral("/dev/a"));
    record.bind(1, QStringLiteral("/dev/b"));
    record.bind(4, QStringLiteral("/dev/e"));
    for (int i : {0, 1})
        record.portEvent(i, PortObserver::Event::Opened, QStringLiteral("/dev/x 9600"));
    record.countCheck();
    record.agreed(0, 900);
    now += 1500;
    record.missed(1, QString(), QStringLiteral("G:B"));
    record.differed(1, 700, QStringLiteral("G:A"), QStringLiteral("G:B"));
    record.portEvent(1, PortObserver::Event::Lost, QStringLiteral("/dev/b"));
    record.end();

    QCOMPARE(verdictLine(1, record.port(0)), QByteArray("port 1 /dev/a pass"));
    QCOMPARE(verdictLine(2, record.port(1)),
             "port 2 /dev/b fail: lost 1, missed 1, differed 1; first at " +
                 LocalTimestamp().text(now));
    QCOMPARE(verdictLine(5, record.port(4)),
             "port 5 /dev/e fail: never opened; first at " + LocalTimestamp().text(now - 1500));
    QCOMPARE(verdictLine(3, record.port(2)), QByteArray()); // nothing bound: not judged
    QVERIFY(verdictText(record).endsWith(
        "\nsummary: 1 of 3 bound ports passed, 2 failed: 2, 5; 1 checks\n"));
    // A failed port's 1 hides the 3 of lost evidence: the summary still says it.
    QVERIFY(verdictText(record, false).endsWith("; 1 checks; evidence incomplete\n"));
    QVERIFY(anyPortFailed(record));
    const VerdictColumns columns = verdictColumns(record.port(1));
    QCOMPARE(columns.checks, 2u);
    QVERIFY(!columns.passed);

    // 1 wins over 3; a run that is not unattended does not depend on the verdict.
    QCOMPARE(finalExitStatus(true, true, true), 1);
    QCOMPARE(finalExitStatus(true, false, true), 3);
    QCOMPARE(finalExitStatus(true, false, false), 0);
    QCOMPARE(finalExitStatus(false, true, false), 0);
    QCOMPARE(finalExitStatus(false, true, true), 3);
}

void TestUnattendedRules::durations_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("ms"); // -1: refused
    QTest::newRow("seconds") << "90s" << qint64(90000);
    QTest::newRow("bare") << "15" << qint64(15000);
    QTest::newRow("minutes") << "30m" << qint64(1800000);
    QTest::newRow("hours") << "8h" << qint64(28800000);
    QTest::newRow("fraction") << "1.5h" << qint64(5400000);
    QTest::newRow("zero") << "0s" << qint64(-1);
    QTest::newRow("negative") << "-5m" << qint64(-1);
    QTest::newRow("unknown unit") << "3d" << qint64(-1);
    QTest::newRow("no number") << "h" << qint64(-1);
    QTest::newRow("beyond a year") << "9000h" << qint64(-1);
}

void TestUnattendedRules::durations()
{
    QFETCH(QString, text);
    QFETCH(qint64, ms);
    const std::optional<std::int64_t> parsed = parseDurationMs(text);
    QCOMPARE(parsed ? qint64(*parsed) : qint64(-1), ms);
}

QTEST_GUILESS_MAIN(TestUnattendedRules)
#include "tst_unattended_rules.moc"
