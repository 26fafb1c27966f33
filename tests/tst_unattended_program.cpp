// Unattended runs of the real program against lightbench-sim, as a script on a bench runs them:
// the printed verdict, the exit status and the report must name exactly the controller at fault.
#include <QtTest>
#include <csignal>
#include <memory>
#include <sys/resource.h>

namespace {

QByteArray contentsOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// lightbench-sim with its controllers behind links in folder; ports() gives its --port lines.
struct Simulator {
    QProcess process;
    QStringList bindings;

    bool start(const QStringList& arguments, const QString& folder, int controllers)
    {
        process.start(qEnvironmentVariable("LIGHTBENCH_SIM_PROGRAM"),
                      QStringList{"--headless", "--link", folder, "--controllers",
                                  QString::number(controllers)} +
                          arguments);
        if (!process.waitForStarted())
            return false;
        QByteArray printed;
        QDeadlineTimer deadline(10000);
        while (printed.count('\n') < controllers && !deadline.hasExpired()) {
            process.waitForReadyRead(100);
            printed += process.readAllStandardOutput();
        }
        for (const QByteArray& line : printed.trimmed().split('\n'))
            bindings += QString::fromLocal8Bit(line).split(' ');
        return printed.count('\n') == controllers;
    }
    ~Simulator()
    {
        process.terminate();
        process.waitForFinished(5000);
    }
};

struct Run {
    QProcess process;
    QByteArray out;

    void start(const QStringList& arguments, const QString& directory)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(directory);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(qEnvironmentVariable("LIGHTBENCH_PROGRAM"), arguments);
    }
    bool finish(int timeoutMs = 30000)
    {
        const bool done = process.waitForFinished(timeoutMs);
        out = process.readAllStandardOutput();
        return done && process.exitStatus() == QProcess::NormalExit;
    }
    // The verdict lines without their times, device paths replaced by "DEV".
    QStringList verdict() const
    {
        QStringList lines;
        static const QRegularExpression kDevice(QStringLiteral("^(port \\d+) \\S+"));
        static const QRegularExpression kTime(QStringLiteral("; first at [-0-9: .]+$"));
        for (const QString& line : QString::fromUtf8(out).split('\n', Qt::SkipEmptyParts))
            lines.append(QString(line).replace(kDevice, "\\1 DEV").replace(kTime, ""));
        return lines;
    }
    ~Run()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
};

// Whether xmllint finds the file well-formed.
bool wellFormed(const QString& path)
{
    QProcess lint;
    lint.start("xmllint", {"--noout", path});
    return lint.waitForFinished(30000) && lint.exitStatus() == QProcess::NormalExit &&
           lint.exitCode() == 0;
}

// The ports (the id of the row group they stand in, "port-N") of every element of class c.
QStringList rowsHolding(const QByteArray& page, const QString& c)
{
    QStringList rows, groups;
    QXmlStreamReader xml(page);
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            groups.append(xml.attributes().value("id").toString());
            if (xml.attributes().value("class") == c)
                rows.append(groups.filter("port-").value(0, "outside"));
        } else if (token == QXmlStreamReader::EndElement) {
            groups.removeLast();
        }
    }
    rows.removeDuplicates();
    return xml.hasError() ? QStringList{xml.errorString()} : rows;
}

// The JUnit file's test cases that hold a failure, by name.
QStringList failedCases(const QByteArray& junit)
{
    QStringList failed;
    QString name;
    QXmlStreamReader xml(junit);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("testcase"))
            name = xml.attributes().value("name").toString();
        else if (xml.name() == QLatin1String("failure"))
            failed.append(name);
    }
    return failed;
}

QStringList passing(const QList<int>& ports)
{
    QStringList lines;
    for (int port : ports)
        lines.append(QStringLiteral("port %1 DEV pass").arg(port));
    return lines;
}

} // namespace

class TestUnattendedProgram : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void sixteenControllersUnderTheFastSweep_data();
    void sixteenControllersUnderTheFastSweep();
    void mutedVanishingAndAbsentControllersFail();
    void expectedPatternAndSignalBeforeTheEnd();
    void refusedFilesLeaveNothingBehind();
    void pageThatCannotBeWrittenAtTheEnd();
    void pageShowsTheLogsGaps();
};

void TestUnattendedProgram::initTestCase()
{
    QVERIFY(QFileInfo(qEnvironmentVariable("LIGHTBENCH_PROGRAM")).isExecutable());
    QVERIFY(QFileInfo(qEnvironmentVariable("LIGHTBENCH_SIM_PROGRAM")).isExecutable());
}

void TestUnattendedProgram::sixteenControllersUnderTheFastSweep_data()
{
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<int>("faulty"); // 0: none
    QTest::newRow("controller 7 drops commands")
        << QStringList{"--drop", "60", "--faulty", "7"} << 7;
    QTest::newRow("no fault") << QStringList{} << 0;
}

void TestUnattendedProgram::sixteenControllersUnderTheFastSweep()
{
    QFETCH(QStringList, faults);
    QFETCH(int, faulty);
    QTemporaryDir dir;
    Simulator sim;
    QVERIFY(sim.start(faults, dir.filePath("links"), 16));
    Run run;
    run.start(sim.bindings + QStringList{"--start", "fast", "--check", "0.5", "--check-timeout",
                                         "250", "--for", "5s", "--report", "run.csv", "--html",
                                         "run.html", "--junit", "run.xml"},
              dir.path());
    // The page is there from the start, saying the run goes on.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(dir.filePath("run.html")), 10000);
    QVERIFY(
        contentsOf(dir.filePath("run.html")).contains("<h1>Lightbench run: running, written at "));
    QVERIFY(run.finish());
    QCOMPARE(run.process.exitCode(), faulty ? 1 : 0);

    // The page and the JUnit file name the same port, and only that one.
    const QByteArray page = contentsOf(dir.filePath("run.html"));
    QVERIFY(wellFormed(dir.filePath("run.html")));
    QVERIFY(wellFormed(dir.filePath("run.xml")));
    QVERIFY(page.contains("<h1>Lightbench run: ended</h1>"));
    QCOMPARE(rowsHolding(page, "f"), faulty ? QStringList{"port-7"} : QStringList{});
    QCOMPARE(rowsHolding(page, "lf"), faulty ? QStringList{"port-7"} : QStringList{});
    QCOMPARE(rowsHolding(page, "u").size(), 16);
    QCOMPARE(failedCases(contentsOf(dir.filePath("run.xml"))),
             faulty ? QStringList{"port 7 " + sim.bindings[13].mid(2)} : QStringList{});

    QStringList expected = passing({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
    const QStringList printed = run.verdict();
    QCOMPARE(printed.size(), 17);
    if (faulty) {
        QVERIFY2(printed[faulty - 1].startsWith(QStringLiteral("port 7 DEV fail: ")),
                 qPrintable(printed[faulty - 1]));
        expected[faulty - 1] = printed[faulty - 1];
    }
    QCOMPARE(printed.mid(0, 16), expected);
    QVERIFY2(printed[16].startsWith(faulty ? "summary: 15 of 16 bound ports passed, 1 failed: 7; "
                                           : "summary: 16 of 16 bound ports passed, 0 failed; "),
             qPrintable(printed[16]));

    // The report says the same, port by port, with the counts the printed reasons give.
    const QList<QByteArray> report = contentsOf(dir.filePath("run.csv")).split('\n');
    QCOMPARE(report.size(), 18);
    QVERIFY(report[0].endsWith(",checks,missed,differed,answer_ms_p50,answer_ms_p99,"
                               "answer_ms_max,verdict"));
    // How many checks fit in the run depends on the machine's load; every port took part in them.
    const QRegularExpressionMatch total =
        QRegularExpression(QStringLiteral("; (\\d+) checks")).match(printed[16]);
    QVERIFY2(total.hasMatch() && total.captured(1).toInt() >= 2, qPrintable(printed[16]));
    for (int port = 1; port <= 16; ++port) {
        const QList<QByteArray> fields = report[port].split(',');
        QCOMPARE(fields.last(), port == faulty ? QByteArray("fail") : QByteArray("pass"));
        const QByteArray missed = fields[fields.size() - 6], differed = fields[fields.size() - 5];
        const int checks = fields[fields.size() - 7].toInt();
        QVERIFY(checks >= 1 && checks <= total.captured(1).toInt());
        if (port != faulty) {
            QCOMPARE(missed + "," + differed, QByteArray("0,0"));
            continue;
        }
        QVERIFY(missed.toInt() + differed.toInt() > 0);
        for (const auto& [name, count] : {std::pair{"missed", missed}, {"differed", differed}}) {
            if (count != "0")
                QVERIFY2(printed[port - 1].contains(QString("%1 %2").arg(name, count)),
                         qPrintable(printed[port - 1]));
        }
    }
}

// A page, JUnit or report file that could not be written, or two options naming one file: the
// line is refused before anything is made, the log directory included.
void TestUnattendedProgram::refusedFilesLeaveNothingBehind()
{
    QTemporaryDir dir;
    for (const QStringList& arguments :
         {QStringList{"--html", "missing/run.html"},
          {"--junit", "."},
          {"--html", "run.html", "--report", "./run.html"},
          {"--junit", "run.xml", "--html", dir.filePath("run.xml"), "--log", "logs"},
          {"--log", "logs", "--junit", "missing/run.xml"}}) {
        Run run;
        run.start(arguments + QStringList{"--for", "1s"}, dir.path()); // ends, if not refused
        QVERIFY(run.finish());
        QCOMPARE(run.process.exitCode(), 2);
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList());
    }
}

// A page that cannot be replaced at the end (its temporary name is taken by a directory): the
// run's ports all passed, but the status says its evidence is not all there.
void TestUnattendedProgram::pageThatCannotBeWrittenAtTheEnd()
{
    QTemporaryDir dir;
    Simulator sim;
    QVERIFY(sim.start({}, dir.filePath("links"), 2));
    Run run;
    run.start(sim.bindings + QStringList{"--for", "2s", "--html", "run.html"}, dir.path());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(dir.filePath("run.html")), 10000);
    QVERIFY(QDir(dir.path()).mkdir("run.html.tmp"));
    QVERIFY(run.finish());
    QCOMPARE(run.process.exitCode(), 3);
    QCOMPARE(run.verdict().last().left(43), "summary: 2 of 2 bound ports passed, 0 faile");
}

// A disk that fills up (a file-size limit the program inherits plays it) under the fast sweep's
// log: the page marks the gaps in that port's row, counts the lines lost as the report does, and
// says the evidence is incomplete; so does the status.
void TestUnattendedProgram::pageShowsTheLogsGaps()
{
    QTemporaryDir dir;
    Simulator sim;
    QVERIFY(sim.start({}, dir.filePath("links"), 1));
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    QVERIFY(::getrlimit(RLIMIT_FSIZE, &limit) == 0);
    const rlim_t unlimited = limit.rlim_cur;
    limit.rlim_cur = std::min<rlim_t>(64 * 1024, limit.rlim_max);
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &limit) == 0);
    Run run;
    run.start(sim.bindings + QStringList{"--start", "fast", "--for", "3s", "--log", "logs",
                                         "--report", "run.csv", "--html", "run.html"},
              dir.path());
    QVERIFY(run.process.waitForStarted());
    limit.rlim_cur = unlimited;
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &limit) == 0);
    QVERIFY(run.finish());
    QCOMPARE(run.process.exitCode(), 3);

    const QByteArray page = contentsOf(dir.filePath("run.html"));
    QVERIFY(wellFormed(dir.filePath("run.html")));
    QCOMPARE(rowsHolding(page, "g"), QStringList{"port-1"});
    QVERIFY(page.contains("<dt>Evidence</dt><dd><span class=\"fail\">incomplete</span>"));
    const QList<QByteArray> report = contentsOf(dir.filePath("run.csv")).split('\n');
    const qsizetype column = report[0].split(',').indexOf("log_lines_lost");
    QVERIFY(column > 0);
    const QByteArray lost = report[1].split(',').value(column);
    QVERIFY2(lost.toInt() > 0, report[1].constData());
    QVERIFY2(page.contains("<th>log_lines_lost</th><td>" + lost + "</td>"), page.constData());
}

// A controller that answers too late misses; one that vanishes is lost; a bound device that is
// never there never opens. Each fails for its own reason, and the healthy one passes.
void TestUnattendedProgram::mutedVanishingAndAbsentControllersFail()
{
    QTemporaryDir dir;
    Simulator muted, vanishing;
    QVERIFY(muted.start({"--reply-delay", "900", "--faulty", "2"}, dir.filePath("a"), 2));
    QVERIFY(vanishing.start({"--vanish", "1"}, dir.filePath("b"), 1));
    Run run;
    run.start({"--port", "1=" + dir.filePath("a/port1"), "--port", "2=" + dir.filePath("a/port2"),
               "--port", "3=" + dir.filePath("b/port1"), "--port", "4=" + dir.filePath("none"),
               "--check", "0.5", "--check-timeout", "300", "--for", "4s"},
              dir.path());
    QVERIFY(run.finish());
    QCOMPARE(run.process.exitCode(), 1);
    const QStringList printed = run.verdict();
    QCOMPARE(printed.size(), 5);
    QCOMPARE(printed[0], "port 1 DEV pass");
    QVERIFY2(QRegularExpression("^port 2 DEV fail: missed \\d+$").match(printed[1]).hasMatch(),
             qPrintable(printed[1]));
    QVERIFY2(QRegularExpression("^port 3 DEV fail: lost \\d+$").match(printed[2]).hasMatch(),
             qPrintable(printed[2]));
    QCOMPARE(printed[3], "port 4 DEV fail: never opened");
    QCOMPARE(printed[4].left(47), "summary: 1 of 4 bound ports passed, 3 failed: 2");
}

// Controllers of two kinds: the pattern fits the 32-channel answers, not the 8-channel one. A
// SIGTERM long before --for ends the run, and the verdict and status are those of its end.
void TestUnattendedProgram::expectedPatternAndSignalBeforeTheEnd()
{
    QTemporaryDir dir;
    Simulator wide, narrow;
    QVERIFY(wide.start({}, dir.filePath("a"), 2));
    QVERIFY(narrow.start({"--channels", "8"}, dir.filePath("b"), 1));
    Run run;
    run.start({"--port", "1=" + dir.filePath("a/port1"), "--port", "2=" + dir.filePath("b/port1"),
               "--port", "3=" + dir.filePath("a/port2"), "--check", "0.3", "--expect",
               "^G:[AB]{32}$", "--for", "60s", "--log", "logs"},
              dir.path());
    const auto logOf = [&](int port) {
        const QStringList files =
            QDir(dir.filePath("logs")).entryList({QString("*_port0%1.log").arg(port)});
        return files.isEmpty() ? QByteArray() : contentsOf(dir.filePath("logs/" + files[0]));
    };
    QTRY_VERIFY_WITH_TIMEOUT(logOf(2).contains("-- check: answered"), 10000);
    ::kill(pid_t(run.process.processId()), SIGTERM);
    QVERIFY(run.finish());
    QCOMPARE(run.process.exitCode(), 1);
    const QStringList printed = run.verdict();
    QCOMPARE(printed.size(), 4);
    QCOMPARE(printed[0], "port 1 DEV pass");
    QVERIFY2(QRegularExpression("^port 2 DEV fail: differed \\d+$").match(printed[1]).hasMatch(),
             qPrintable(printed[1]));
    QCOMPARE(printed[2], "port 3 DEV pass");
    QVERIFY(logOf(2).contains("-- check: answered \"G:BBBBBBBB\", which does not match "
                              "\"/^G:[AB]{32}$/\"\n"));
    QVERIFY(!logOf(1).contains("-- check"));
}

QTEST_GUILESS_MAIN(TestUnattendedProgram)
#include "tst_unattended_program.moc"
