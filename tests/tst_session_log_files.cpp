// The session log and the run report on real files: the lines of each port's file, rotation at
// the limit, a gap in the log when the queue is full, and a log that cannot be written for a
// while (read-only directory, file-size limit, full disk) while the bench goes on.
#include "session_log/atomic_file.h"
#include "session_log/log_file.h"
#include "session_log/output_paths.h"
#include "session_log/session_writer.h"

#include <QtTest>
#include <algorithm>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <linux/capability.h>
#include <linux/magic.h>
#include <mutex>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

QByteArray contentsOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Root writes anywhere whatever the permission bits say; without CAP_DAC_OVERRIDE (and its
// read-search sibling) this thread, and threads it starts, obey them like anyone else.
bool setPermissionOverride(bool on)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    const unsigned bits = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
    if (on)
        data[0].effective |= bits & data[0].permitted;
    else
        data[0].effective &= ~bits;
    return ::syscall(SYS_capset, &header, data) == 0;
}

LogRecord record(qint64 ms, int index, LogRecord::Kind kind, const QByteArray& bytes,
                 const QString& text = {})
{
    LogRecord r;
    r.ms = ms;
    r.index = index;
    r.kind = kind;
    r.bytes = bytes;
    r.text = text;
    return r;
}

// Warnings arrive on the writer's thread.
struct Warnings {
    std::mutex mutex;
    QStringList texts;
    SessionWriter::Warn sink()
    {
        return [this](const QString& text) {
            std::lock_guard lock(mutex);
            texts << text;
        };
    }
    QStringList all()
    {
        std::lock_guard lock(mutex);
        return texts;
    }
};

// 2026-12-07 09:30:00.000 in Shanghai.
constexpr qint64 kT0 = 1796607000000;

} // namespace

class TestSessionLogFiles : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void linesOfTwoPorts();
    void silentPortsUnfinishedLineIsWritten();
    void rotation();
    void busyFileLeavesMemory();
    void fullQueueLeavesCountedGap();
    void unwritableForAWhile_data();
    void unwritableForAWhile();
    void atomicReport();
    void removedFolderIsMadeAgain();
    void runsOfOneSecondGetNamesOfTheirOwn();
};

void TestSessionLogFiles::initTestCase()
{
    qputenv("TZ", "Asia/Shanghai");
    ::tzset();
    // A file-size limit reports itself with a signal that would end the test.
    std::signal(SIGXFSZ, SIG_IGN);
}

void TestSessionLogFiles::linesOfTwoPorts()
{
    QTemporaryDir dir;
    SessionWriter::Settings settings;
    settings.logDirectory = dir.path();
    settings.runName = QStringLiteral("2026-12-07T09-30-00");
    {
        SessionWriter writer(settings);
        using K = LogRecord::Kind;
        writer.log(record(kT0, 0, K::Opened, {}, "/dev/pts/7 115200,n,8,1"));
        writer.log(record(kT0 + 1, 2, K::Opened, {}, "/dev/pts/9 115200,n,8,1"));
        writer.log(record(kT0 + 10, 0, K::Sent, ":::ZAVB5."));
        writer.log(record(kT0 + 10, 2, K::Sent, ":::ZAVB5."));
        writer.log(record(kT0 + 25, 0, K::Received, "OK\r"));
        writer.log(record(kT0 + 26, 0, K::Received, "\n\xb5\xc6"));
        writer.log(record(kT0 + 27, 0, K::Received, "\xc1\xc1\xff\r\npartial"));
        writer.logSent(0, kT0 + 30, std::array<QByteArray, 3>{"\xb5\xc6\\", ":::ZAVB1-61.", "A\r"});
        writer.log(record(kT0 + 40, 2, K::Received, "\xba"));
        writer.log(record(kT0 + 50, 2, K::Lost, {}, "/dev/pts/9"));
        writer.log(record(kT0 + 60, 2, K::Dropped, {}, {}));
        writer.log(record(kT0 + 1070, 0, K::Received, "tail"));
        writer.finish();
    }
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files),
             (QStringList{"2026-12-07T09-30-00_port01.log", "2026-12-07T09-30-00_port03.log"}));
    QCOMPARE(contentsOf(dir.filePath("2026-12-07T09-30-00_port01.log")),
             QByteArray("2026-12-07 09:30:00.000 -- opened /dev/pts/7 115200,n,8,1\n"
                        "2026-12-07 09:30:00.010 TX :::ZAVB5.\n"
                        "2026-12-07 09:30:00.025 RX OK\\r\\n\n"
                        "2026-12-07 09:30:00.026 RX 灯亮\\xff\\r\\n\n"
                        "2026-12-07 09:30:00.027 RX partial\n"
                        "2026-12-07 09:30:00.030 TX 灯\\\\\n"
                        "2026-12-07 09:30:00.030 TX :::ZAVB1-61.\n"
                        "2026-12-07 09:30:00.030 TX A\\r\n"
                        "2026-12-07 09:30:01.070 RX tail\n"));
    QCOMPARE(contentsOf(dir.filePath("2026-12-07T09-30-00_port03.log")),
             QByteArray("2026-12-07 09:30:00.001 -- opened /dev/pts/9 115200,n,8,1\n"
                        "2026-12-07 09:30:00.010 TX :::ZAVB5.\n"
                        "2026-12-07 09:30:00.040 RX \\xba\n"
                        "2026-12-07 09:30:00.050 -- lost /dev/pts/9\n"
                        "2026-12-07 09:30:00.060 -- dropped 0 received bytes\n"));
}

// A prompt without a line end shows up once the port has been silent for a moment, while the
// program still runs.
void TestSessionLogFiles::silentPortsUnfinishedLineIsWritten()
{
    QTemporaryDir dir;
    SessionWriter::Settings settings;
    settings.logDirectory = dir.path();
    settings.runName = QStringLiteral("run");
    SessionWriter writer(settings);
    LogRecord prompt;
    prompt.ms = QDateTime::currentMSecsSinceEpoch();
    prompt.index = 4;
    prompt.kind = LogRecord::Kind::Received;
    prompt.bytes = "prompt> ";
    writer.log(std::move(prompt));
    QTRY_VERIFY_WITH_TIMEOUT(contentsOf(dir.filePath("run_port05.log")).endsWith(" RX prompt> \n"),
                             10000);
}

void TestSessionLogFiles::rotation()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("p.log");
    QByteArray lines;
    for (int i = 1; i <= 7; ++i)
        lines += QStringLiteral("line %1 ------------\n").arg(i).toLatin1(); // 20 bytes
    const QByteArray longLine(100, 'L');

    // The same lines in one go and one by one end in the same two files.
    for (bool oneByOne : {false, true}) {
        QFile::remove(path);
        QFile::remove(path + ".1");
        LogFile file(path, 64);
        if (oneByOne) {
            for (const QByteArray& line : lines.split('\n').mid(0, 7))
                QCOMPARE(file.append(line + '\n'), 20);
        } else {
            QCOMPARE(file.append(lines), lines.size());
        }
        QCOMPARE(contentsOf(path + ".1"), lines.mid(60, 60)); // lines 4 to 6
        QCOMPARE(contentsOf(path), lines.mid(120));           // line 7
    }

    // A line longer than the limit gets a file of its own, and the next line a new one.
    LogFile file(path, 64);
    QCOMPARE(file.append(longLine + '\n' + "after\n"), 107);
    QCOMPARE(contentsOf(path + ".1"), longLine + '\n');
    QCOMPARE(contentsOf(path), QByteArray("after\n"));

    // An existing file counts towards the limit when it is opened again.
    LogFile again(path, 64);
    QCOMPARE(again.append(QByteArray(60, 'x') + '\n'), 61);
    QCOMPARE(contentsOf(path), QByteArray(60, 'x') + '\n');
    QCOMPARE(contentsOf(path + ".1"), QByteArray("after\n"));
}

// Two ports flood the queue, one a command at a time and one three at a time: each of them gets
// a counted gap (lines and bytes), and a quiet port in between loses nothing, as every port has a
// share of the queue of its own.
// Of sixteen megabytes written at speed, only the last pieces are still in the memory, and the
// file holds every line.
void TestSessionLogFiles::busyFileLeavesMemory()
{
    QTemporaryDir dir;
    struct statfs where {};
    QVERIFY(::statfs(QFile::encodeName(dir.path()).constData(), &where) == 0);
    if (where.f_type == TMPFS_MAGIC)
        QSKIP("a file system in memory keeps its files there");
    const QString path = dir.filePath("busy.log");
    QByteArray lines;
    for (int i = 0; lines.size() < 256 * 1024 - 64; ++i)
        lines += "2026-12-07 09:30:00.120 TX :::ZAVB" + QByteArray::number(i) + ".\n";
    constexpr int kWrites = 64;
    {
        LogFile file(path, qint64(1) << 40);
        for (int i = 0; i < kWrites; ++i)
            QCOMPARE(file.append(lines), lines.size());

        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(fd >= 0);
        const std::size_t size = std::size_t(lines.size()) * kWrites;
        void* map = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
        ::close(fd);
        QVERIFY(map != MAP_FAILED);
        const std::size_t page = std::size_t(::sysconf(_SC_PAGESIZE));
        std::vector<unsigned char> resident((size + page - 1) / page);
        const int status = ::mincore(map, size, resident.data());
        ::munmap(map, size);
        QCOMPARE(status, 0);
        const auto cached = std::size_t(
            std::count_if(resident.begin(), resident.end(), [](unsigned char p) { return p & 1; }));
        QVERIFY2(
            cached * page <= 4 * 1024 * 1024,
            qPrintable(QStringLiteral("%1 KiB of the file in memory").arg(cached * page / 1024)));
    }
    QCOMPARE(contentsOf(path), lines.repeated(kWrites));
}

void TestSessionLogFiles::fullQueueLeavesCountedGap()
{
    QTemporaryDir dir;
    SessionWriter::Settings settings;
    settings.logDirectory = dir.path();
    settings.runName = QStringLiteral("run");
    settings.queueLimit = 16 * 4000;
    int accepted[2] = {0, 0};
    int turnedAway[2] = {0, 0};
    qint64 bytesTurnedAway[2] = {0, 0};
    int quietSent = 0;
    {
        SessionWriter writer(settings);
        for (int i = 0; i < 2000; ++i) {
            const QByteArray command = QByteArray::number(i);
            const bool taken = writer.log(record(kT0 + i, 1, LogRecord::Kind::Sent, command));
            (taken ? accepted[0] : turnedAway[0]) += 1;
            bytesTurnedAway[0] += taken ? 0 : command.size();

            const QList<QByteArray> three = {QByteArray::number(3 * i),
                                             QByteArray::number(3 * i + 1),
                                             QByteArray::number(3 * i + 2)};
            const bool threeTaken = writer.logSent(2, kT0 + i, three);
            (threeTaken ? accepted[1] : turnedAway[1]) += 3;
            bytesTurnedAway[1] += threeTaken ? 0 : three.join().size();
            if (i % 50 == 0) {
                QVERIFY(writer.log(record(kT0 + i, 5, LogRecord::Kind::Sent, "quiet")));
                ++quietSent;
            }
        }
        writer.finish();
        QCOMPARE(writer.linesLost(1) + writer.linesLost(2),
                 std::uint64_t(turnedAway[0] + turnedAway[1]));
        QCOMPARE(writer.linesLost(5), 0u);
    }
    QCOMPARE(contentsOf(dir.filePath("run_port06.log")).count(" TX quiet\n"), quietSent);
    for (int port : {0, 1}) {
        QVERIFY(turnedAway[port] > 0);
        const QList<QByteArray> lines =
            contentsOf(dir.filePath(QStringLiteral("run_port0%1.log").arg(port + 2))).split('\n');
        int tx = 0;
        int gapLines = 0;
        qint64 gapBytes = 0;
        QRegularExpression gap(" -- log queue full: (\\d+) lines \\((\\d+) bytes\\) not logged$");
        int previous = -1;
        for (const QByteArray& line : lines) {
            if (line.isEmpty())
                continue;
            const auto match = gap.match(QString::fromUtf8(line));
            if (match.hasMatch()) {
                gapLines += match.captured(1).toInt();
                gapBytes += match.captured(2).toLongLong();
                continue;
            }
            QVERIFY2(line.contains(" TX "), line.constData());
            const int number = line.mid(line.indexOf(" TX ") + 4).toInt();
            QVERIFY2(number > previous, line.constData()); // in the order sent
            previous = number;
            ++tx;
        }
        QCOMPARE(tx, accepted[port]);
        QCOMPARE(gapLines, turnedAway[port]);
        QCOMPARE(gapBytes, bytesTurnedAway[port]);
    }
}

// How a log directory stops taking lines, and how it takes them again.
struct Outage {
    std::function<bool(const QString& dir)> prepare; // before any file; false: cannot be played
    std::function<bool(const QString& dir)> start;
    std::function<void(const QString& dir)> end;
    qint64 logLimit;
    QString reason; // in the line that says writing works again
};
Q_DECLARE_METATYPE(Outage)

void TestSessionLogFiles::unwritableForAWhile_data()
{
    QTest::addColumn<Outage>("outage");

    // Open files take lines whatever the directory's mode; the rotation at the limit and the
    // new file after it are what the directory refuses.
    QTest::newRow("read-only directory")
        << Outage{[](const QString&) { return true; },
                  [](const QString& dir) {
                      return (::geteuid() != 0 || setPermissionOverride(false)) &&
                             ::chmod(QFile::encodeName(dir).constData(), 0555) == 0;
                  },
                  [](const QString& dir) { ::chmod(QFile::encodeName(dir).constData(), 0755); },
                  2048, QStringLiteral("Permission denied")};

    const auto setFileSizeLimit = [](rlim_t bytes) {
        rlimit limit{};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = std::min(bytes, limit.rlim_max);
        return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    };
    QTest::newRow("file-size limit") << Outage{
        [](const QString&) { return true; }, [=](const QString&) { return setFileSizeLimit(4096); },
        [=](const QString&) { setFileSizeLimit(RLIM_INFINITY); }, 100 << 20,
        QStringLiteral("File too large")};

    // A small file system of its own, filled up by another file and freed again.
    QTest::newRow("full disk") << Outage{
        [](const QString& dir) {
            return ::mount("tmpfs", QFile::encodeName(dir).constData(), "tmpfs", 0, "size=64k") ==
                   0;
        },
        [](const QString& dir) {
            QFile filler(dir + "/filler");
            if (!filler.open(QIODevice::WriteOnly))
                return false;
            const QByteArray block(1024, 'f');
            while (filler.write(block) == block.size() && filler.flush()) {
            }
            return true;
        },
        [](const QString& dir) { QFile::remove(dir + "/filler"); }, 100 << 20,
        QStringLiteral("No space left on device")};
}

void TestSessionLogFiles::unwritableForAWhile()
{
    QFETCH(Outage, outage);
    QTemporaryDir top;
    const QString dir = top.filePath("logs");
    QVERIFY(QDir().mkpath(dir));
    const bool mounted = QTest::currentDataTag() == QByteArray("full disk");
    if (!outage.prepare(dir))
        QSKIP("cannot mount a small tmpfs here; the file-size limit plays the full disk");
    const auto cleanUp = qScopeGuard([&] {
        outage.end(dir);
        setPermissionOverride(true);
        if (mounted)
            ::umount2(QFile::encodeName(dir).constData(), MNT_DETACH);
    });

    Warnings warnings;
    SessionWriter::Settings settings;
    settings.logDirectory = dir;
    settings.logLimit = outage.logLimit;
    settings.runName = QStringLiteral("run");
    settings.reportPath = top.filePath("report.csv");
    // Capabilities belong to threads: the writer's thread inherits them from this one.
    if (QTest::currentDataTag() == QByteArray("read-only directory") && ::geteuid() == 0 &&
        !setPermissionOverride(false))
        QSKIP("cannot give up CAP_DAC_OVERRIDE, so root writes into a read-only directory");
    SessionWriter writer(settings, warnings.sink());

    int sent = 0;
    const auto sendTo = [&](int index) {
        writer.log(record(QDateTime::currentMSecsSinceEpoch(), index, LogRecord::Kind::Sent,
                          QByteArray(":::ZAVB") + QByteArray::number(sent) + QByteArray(40, '.')));
    };
    const auto sendToBoth = [&] {
        sendTo(0);
        sendTo(1);
        ++sent;
    };
    sendToBoth();
    QTRY_VERIFY(QFile::exists(dir + "/run_port01.log") && QFile::exists(dir + "/run_port02.log"));

    QVERIFY(outage.start(dir));
    // The bench goes on sending while nothing can be written.
    for (int i = 0; i < 300; ++i)
        sendToBoth();
    QTRY_COMPARE_WITH_TIMEOUT(warnings.all().size(), 2, 10000);
    writer.writeReport("port,device\n");
    // Past the writer's next try, which fails again.
    for (int i = 0; i < 15; ++i) {
        sendToBoth();
        QTest::qWait(100);
    }
    QCOMPARE(warnings.all().size(), 2); // one per port, however many lines were lost
    QVERIFY2(warnings.all()[0].contains("port 1") || warnings.all()[1].contains("port 1"),
             qPrintable(warnings.all().join('\n')));
    QVERIFY2(warnings.all().join('\n').contains(outage.reason),
             qPrintable(warnings.all().join('\n')));
    if (QTest::currentDataTag() != QByteArray("read-only directory")) {
        // The report does not wait for the log.
        QTRY_COMPARE(contentsOf(settings.reportPath), QByteArray("port,device\n"));
    }

    outage.end(dir);
    QTRY_VERIFY_WITH_TIMEOUT((sendToBoth(), QTest::qWait(50),
                              contentsOf(dir + "/run_port01.log").contains("works again") &&
                                  contentsOf(dir + "/run_port02.log").contains("works again")),
                             10000);
    // A second outage, still going on at the end: its lines are counted too.
    QVERIFY(outage.start(dir));
    for (int i = 0; i < 100; ++i)
        sendToBoth();
    writer.finish();
    QCOMPARE(warnings.all().size(), 2);

    for (int index : {0, 1}) {
        const QString name = QStringLiteral("run_port0%1.log").arg(index + 1);
        const QByteArray log = contentsOf(dir + "/" + name);
        QVERIFY(log.endsWith('\n'));
        const QList<QByteArray> lines = log.chopped(1).split('\n');
        const QRegularExpression shape(
            "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} (TX :::ZAVB\\d+\\.{40}|-- .*)$");
        qint64 lost = -1;
        int written = 0;
        QByteArray previousTime;
        for (const QByteArray& line : lines) {
            // Every line whole, none cut by the failure, and time never goes back.
            QVERIFY2(shape.match(QString::fromUtf8(line)).hasMatch(), line.constData());
            QVERIFY2(line.left(23) >= previousTime, line.constData());
            previousTime = line.left(23);
            const QRegularExpression notice(
                " -- log writing works again: (\\d+) lines not written \\((.*)\\)$");
            const auto match = notice.match(QString::fromUtf8(line));
            if (match.hasMatch()) {
                QCOMPARE(lost, qint64(-1));
                lost = match.captured(1).toLongLong();
                QVERIFY2(match.captured(2).contains(outage.reason), line.constData());
            } else {
                ++written;
            }
        }
        QVERIFY2(lost > 0, log.right(500).constData());
        // Without rotation the file holds every line: written and lost add up to all sent.
        QVERIFY(qint64(writer.linesLost(index)) > lost);
        if (!QFile::exists(dir + "/" + name + ".1"))
            QCOMPARE(written + qint64(writer.linesLost(index)), qint64(sent));
    }
}

void TestSessionLogFiles::atomicReport()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("report.csv");
    QCOMPARE(writeFileAtomically(path, "first\n"), QString());
    // A reader of the old report keeps reading it whole: the new one is a new file.
    QFile reader(path);
    QVERIFY(reader.open(QIODevice::ReadOnly));
    QCOMPARE(writeFileAtomically(path, "second\n"), QString());
    QCOMPARE(reader.readAll(), QByteArray("first\n"));
    QCOMPARE(contentsOf(path), QByteArray("second\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"report.csv"});

    const QString error = writeFileAtomically(dir.filePath("missing/report.csv"), "x");
    QVERIFY2(error.contains("No such file or directory"), qPrintable(error));
    QVERIFY(!QFile::exists(dir.filePath("missing")));
}

// The log folder is deleted during the run: the next write notices, makes it again and goes on in
// a new file, which says so and holds every line logged since.
void TestSessionLogFiles::removedFolderIsMadeAgain()
{
    QTemporaryDir top;
    const QString dir = top.filePath("logs");
    QVERIFY(QDir().mkpath(dir));
    Warnings warnings;
    SessionWriter::Settings settings;
    settings.logDirectory = dir;
    settings.runName = QStringLiteral("run");
    SessionWriter writer(settings, warnings.sink());
    const QString path = dir + "/run_port01.log";
    writer.log(record(kT0, 0, LogRecord::Kind::Sent, "before"));
    QTRY_VERIFY(contentsOf(path).contains(" TX before\n"));

    QVERIFY(QDir(dir).removeRecursively());
    for (int i = 0; i < 5; ++i)
        writer.log(record(kT0 + 1 + i, 0, LogRecord::Kind::Sent, "after" + QByteArray::number(i)));
    QTRY_VERIFY_WITH_TIMEOUT(contentsOf(path).contains(" TX after4\n"), 5000);
    writer.finish();
    const QByteArray log = contentsOf(path);
    QVERIFY2(log.startsWith("2026-12-07 09:30:00.001 -- log file removed during the run: a new one "
                            "is begun\n"),
             log.constData());
    for (int i = 0; i < 5; ++i)
        QVERIFY2(log.contains(" TX after" + QByteArray::number(i) + "\n"), log.constData());
    QCOMPARE(warnings.all().size(), 1);
    QVERIFY2(warnings.all()[0].contains("port 1") && warnings.all()[0].contains("removed"),
             qPrintable(warnings.all()[0]));
    QCOMPARE(writer.linesLost(0), 0u);
}

// Two runs started in the same second into one folder never share a file: the second gets a
// name of its own, and so does a run after one that left files of that second behind.
void TestSessionLogFiles::runsOfOneSecondGetNamesOfTheirOwn()
{
    QTemporaryDir dir;
    const QString second = QStringLiteral("2026-12-07T09-30-00");
    QString firstClaim, secondClaim, thirdClaim;
    QCOMPARE(claimRunName(dir.path(), second, firstClaim), second);
    QCOMPARE(claimRunName(dir.path(), second, secondClaim), second + "b");
    QVERIFY(firstClaim != secondClaim && QFile::exists(firstClaim) && QFile::exists(secondClaim));
    // The first run ends (its claim goes), its files stay.
    QFile file(dir.filePath(second + "_port01.log"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(QFile::remove(firstClaim));
    QCOMPARE(claimRunName(dir.path(), second, thirdClaim), second + "c");
    // No file of this run sorts before the files of the runs before it.
    QVERIFY(SessionWriter::logFileName(second, 16) < SessionWriter::logFileName(second + "b", 1));
}

QTEST_GUILESS_MAIN(TestSessionLogFiles)
#include "tst_session_log_files.moc"
