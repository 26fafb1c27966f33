#include "commands/command_reference.h"

#include <QStringEncoder>
#include <QTest>

// The reference text as the operator's code page sees it: every byte, and the alignment of the
// sample commands.
class TestCommandReference : public QObject {
    Q_OBJECT

private slots:
    void bytesInCodePage936();
    void columnOfBar_data();
    void columnOfBar();

private:
    static QStringList lines();
};

QStringList TestCommandReference::lines()
{
    QStringList result = commandReferenceText().split(QStringLiteral("\r\n"));
    result.removeLast(); // the empty text after the last CR LF
    return result;
}

// Columns as the text's fixed-pitch font counts them: two for a Chinese character, which is
// also its width in bytes in code page 936.
static qsizetype columnsOf(QStringView text)
{
    QStringEncoder encoder("GB18030");
    const QByteArray bytes = encoder.encode(text);
    return bytes.size();
}

void TestCommandReference::bytesInCodePage936()
{
    // The whole text as it stands in code page 936, line by line: every character, blank,
    // mark and CR LF of the 40 lines, 1272 bytes.
    static const char expected[] =
        "\xd7\xa2\xd2\xe2\xb6\xcb\xbf\xda\xb4\xd3"
        "0\xbf\xaa\xca\xbc\r\n"                                                                // 1
        "\xc9\xe8\xd6\xc3\xc6\xf4\xca\xbc\xb6\xcb\xbf\xda\xb5\xd8\xd6\xb7\xba\xf3\xd7\xd4\xb6" // 2
        "\xaf\xc6\xf4\xb6\xaf\xce\xde\xcf\xdf\xc4\xa3\xca\xbd,\xd6\xb8\xc1\xee(\xd1\xa1\xc5"
        "\xe4\xb9\xa6\xc4\xdc)  |:SET_BOARD_ADR=0123.\r\n"
        "\xc7\xe5\xb3\xfd\xce\xde\xcf\xdf\xc4\xa3\xca\xbd(\xd1\xa1\xc5\xe4\xb9\xa6\xc4\xdc)  " // 3
        "|:SET_BOARD_ADR=FFFF.\r\n"
        "\r\n"                                                                                 // 4
        "\xc8\xab\xbf\xaa            |:::ZAVA.\r\n"                                            // 5
        "\xc8\xab\xbf\xaa            |:::ZAVB0-9999.\r\n"                                      // 6
        "\xc8\xab\xb9\xd8            |:::ZAVB.\r\n"                                            // 7
        "\r\n"                                                                                 // 8
        "\xc4\xb3\xc2\xb7\xbf\xaa\xc6\xe4\xcb\xfc\xb2\xbb\xb1\xe4  |:::ZAVZ1A.\r\n"            // 9
        "\xc4\xb3\xc2\xb7\xb9\xd8\xc6\xe4\xcb\xfc\xb2\xbb\xb1\xe4  |:::ZAVZ1B.\r\n"            // 10
        "\xc4\xb3\xc2\xb7\xc8\xa1\xb7\xb4\xc6\xe4\xcb\xfc\xb2\xbb\xb1\xe4|:::ZAVZ1Y.\r\n"      // 11
        "\r\n"                                                                                 // 12
        "\xb4\xf2\xbf\xaa\xc4\xb3\xbc\xb8\xc2\xb7\xc6\xe4\xcb\xfc\xb9\xd8  |:::ZAVB1,3,5,10-2" // 13
        "0.\r\n"
        "\xb4\xf2\xbf\xaa\xc4\xb3\xbc\xb8\xc2\xb7\xc6\xe4\xcb\xfc\xb2\xbb\xb1\xe4|:::ZAVZ1,3," // 14
        "5,10-20.\r\n"
        "\xb9\xd8\xc4\xb3\xbc\xb8\xc2\xb7\xc6\xe4\xcb\xfc\xb2\xbb\xb1\xe4  |:::ZAVZ1B,3B,5B,1" // 15
        "0-20B.\r\n"
        "\r\n" // 16
        "\xca\xbe\xc0\xfd"
        "1             |:::ZAVB1C3D,5N,12-20.\r\n" // 17
        "\xca\xbe\xc0\xfd"
        "2             |:::ZAVZ1E2F3G,30Y,12-20B.\r\n" // 18
        "\xca\xbe\xc0\xfd"
        "3             |:::ZAVB10AABBAAAA20CD30EFG.\r\n" // 19
        "\xca\xbe\xc0\xfd"
        "4             |:::ZAVB0-1999(EFG).\xa1\xb1\xa3\xac\r\n"                             // 20
        "\xa1\xb0()\xa1\xb1\xce\xaa\xbf\xe9\xcc\xee\xb3\xe4\xd6\xb8\xc1\xee\xa3\xac\xb1\xed" // 21
        "\xca\xbe\xb6\xd4\xc7\xb0\xc3\xe6\xb5\xc4\xb6\xcb\xbf\xda\xb6\xce\xb7\xb6\xce\xa7\xd1"
        "\xad\xbb\xb7\xcc\xee\xb3\xe4\xc0\xa8\xba\xc5\xc4\xda\xb2\xbf\xb5\xc4\xd6\xb8\xc1\xee"
        "\xa3\xac\r\n"
        "\xb4\xcb\xd6\xb8\xc1\xee\xb2\xfa\xc9\xfa\xc1\xf7\xcb\xae\xd0\xa7\xb9\xfb\xa1\xa3\r\n" // 22
        "AB\xa3\xba"
        "A\xb4\xf2\xbf\xaa\xa3\xac"
        "B\xb9\xd8\xb1\xd5\xa3\xac"
        "A\xbf\xc9\xd2\xd4" // 23
        "\xca\xa1\xc2\xd4\xb2\xbb\xd0\xb4\xa1\xa3\r\n"
        "CD\xa3\xba\xc1\xbd\xc2\xb7\xbd\xbb\xcc\xe6\xc9\xc1\xcb\xb8\r\n"                     // 24
        "EFG\xc8\xfd\xc2\xb7\xc1\xf7\xcb\xae,STB30.\xc9\xe8\xd6\xc3\xc1\xf7\xcb\xae\xcb\xd9" // 25
        "\xb6\xc8\xa1\xa3\r\n"
        "N\xc9\xc1\xcb\xb8\xc8\xfd\xb4\xce\xba\xf3\xbf\xaa\xa3\xac \r\n"                       // 26
        "L\xc9\xc1\xcb\xb8\xc1\xbd\xb4\xce\xba\xf3\xbf\xaa\xa3\xac\r\n"                        // 27
        "J\xc9\xc1\xcb\xb8\xd2\xbb\xb4\xce\xba\xf3\xbf\xaa\xa1\xa3\xcd\xa8\xb9\xfd\xa1\xb0:::" // 28
        "STA50.\xa1\xb1\xd6\xb8\xc1\xee\xc9\xe8\xd6\xc3\xc9\xc1\xcb\xb8\xcb\xd9\xb6\xc8\xa1"
        "\xa3\r\n"
        "OPQ\xc1\xbd\xc2\xb7\xc1\xc1\xc1\xf7\xcb\xae\r\n" // 29
        "Y\xd4\xad\xd7\xb4\xcc\xac\xc8\xa1\xb7\xb4\xa3\xac\xd6\xbb\xc4\xdc\xb6\xd4"
        "AB\xc8" // 30
        "\xa1\xb7\xb4\xa3\xac\xb2\xbb\xc4\xdc\xb8\xfc\xb8\xc4\xc6\xe4\xcb\xfc\xd7\xb4\xcc\xac"
        "\xa1\xa3\r\n"
        "Z\xb1\xa3\xb3\xd6\xd4\xad\xd7\xb4\xcc\xac\xa1\xa3\r\n"                               // 31
        "\r\n"                                                                                // 32
        "a~k\xbd\xa5\xb1\xe4\xb5\xf7\xb9\xe2\xb9\xa6\xc4\xdc\xd0\xa1\xd0\xb4\xd7\xd6\xc4\xb8" // 33
        "\r\n"
        "a 100%\xa3\xac"
        "b 0%\xa3\xac"
        "c 20%\xa3\xac"
        "d 40%\xa3\xac"
        "e 60%\xa3\xac"
        "f 80%\xa3" // 34
        "\xacg100%\xa3\xac\r\n"
        "h\xb4\xd3\xb5\xb1\xc7\xb0\xc1\xc1\xb6\xc8\xbd\xa5\xc1\xc1\xb5\xbd"
        "100%\xa3\xac\r\n" // 35
        "i\xb4\xd3\xb5\xb1\xc7\xb0\xc1\xc1\xb6\xc8\xbd\xa5\xb0\xb5\xb5\xbd"
        "0%,\r\n"                                                                             // 36
        "\xcd\xa8\xb9\xfd\xa1\xb0::::STB100.\xa1\xb1~\xa1\xb0::::STB200.\xa1\xb1\xc9\xe8\xd6" // 37
        "\xc3\xbd\xa5\xb1\xe4\xb5\xc4\xcb\xd9\xb6\xc8\r\n"
        "\xb4\xd3\xc8\xab\xb0\xb5\xb5\xbd\xc8\xab\xc1\xc1\xb5\xc4\xca\xb1\xbc\xe4\xb4\xd3"
        "1" // 38
        "\xc3\xeb~100\xc3\xeb\xa3\xac\xb2\xbb\xcd\xac\xd0\xcd\xba\xc5\xb5\xc4\xbf\xd8\xd6\xc6"
        "\xc6\xf7\xca\xb1\xbc\xe4\xbf\xc9\xc4\xdc\xb2\xbb\xd2\xbb\xd1\xf9\xa1\xa3\r\n"
        "\xb5\xf7\xb9\xe2\xb5\xc4\xd6\xb8\xc1\xee\xb2\xbb\xbf\xc9\xd2\xd4\xd3\xa6\xd3\xc3\xb5" // 39
        "\xbd\xbc\xcc\xb5\xe7\xc6\xf7\xb6\xcb\xbf\xda\xc9\xcf.\r\n"
        "\xd2\xbb\xcc\xf5\xd6\xb8\xc1\xee\xb5\xc4\xd7\xee\xb4\xf3\xb3\xa4\xb6\xc8\xca\xc7"
        "12" // 40
        "8\xd7\xd6\xbd\xda\r\n";
    QStringEncoder encoder("GB18030");
    QVERIFY(encoder.isValid());
    const QByteArray bytes = encoder.encode(commandReferenceText());
    QVERIFY(!encoder.hasError());
    QCOMPARE(qsizetype(sizeof expected - 1), qsizetype(1272));
    // Line by line first, so that a difference names its line.
    const QList<QByteArray> got = bytes.split('\n');
    const QList<QByteArray> want = QByteArray(expected).split('\n');
    QCOMPARE(got.size(), want.size());
    for (qsizetype i = 0; i < want.size(); ++i)
        QVERIFY2(got[i] == want[i], qPrintable(QStringLiteral("line %1").arg(i + 1)));
    QCOMPARE(bytes, QByteArray(expected, sizeof expected - 1));
}

void TestCommandReference::columnOfBar_data()
{
    QTest::addColumn<int>("line");   // 1-based, as the operator counts
    QTest::addColumn<int>("column"); // columns before the "|"; -1 for no "|"

    for (int line = 5; line <= 11; ++line) {
        if (line != 8)
            QTest::addRow("line %d", line) << line << 16;
    }
    for (int line = 13; line <= 20; ++line) {
        if (line != 16)
            QTest::addRow("line %d", line) << line << 18;
    }
    for (int line : {1, 4, 8, 12, 16, 21, 26, 32, 34, 37, 40})
        QTest::addRow("line %d", line) << line << -1;
}

void TestCommandReference::columnOfBar()
{
    QFETCH(int, line);
    QFETCH(int, column);

    const QString text = lines().at(line - 1);
    const qsizetype bar = text.indexOf(u'|');
    QCOMPARE(bar < 0 ? -1 : columnsOf(QStringView(text).left(bar)), qsizetype(column));
    if (bar >= 0)
        QCOMPARE(text.count(u'|'), 1);
}

QTEST_GUILESS_MAIN(TestCommandReference)
#include "tst_command_reference.moc"
