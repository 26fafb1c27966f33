#include "commands/command_reference.h"

#include <QStringEncoder>
#include <QTest>

// The reference text as the operator's code page sees it: line ends, length and alignment.
class TestCommandReference : public QObject {
    Q_OBJECT

private slots:
    void lineEnds();
    void lengthInCodePage936();
    void columnOfBar_data();
    void columnOfBar();
    void fragileLines_data();
    void fragileLines();

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

void TestCommandReference::lineEnds()
{
    const QString text = commandReferenceText();
    QVERIFY(text.endsWith(QStringLiteral("\r\n")));
    QCOMPARE(text.count(QStringLiteral("\r\n")), 40);
    // No CR or LF other than in the 40 pairs.
    QCOMPARE(text.count(u'\r'), 40);
    QCOMPARE(text.count(u'\n'), 40);
}

void TestCommandReference::lengthInCodePage936()
{
    QStringEncoder encoder("GB18030");
    QVERIFY(encoder.isValid());
    const QByteArray bytes = encoder.encode(commandReferenceText());
    QVERIFY(!encoder.hasError());
    QCOMPARE(bytes.size(), 1272);
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

void TestCommandReference::fragileLines_data()
{
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("text");

    // What an editor or formatter most easily spoils: trailing blanks, curly quotes and
    // full-width marks next to ASCII ones.
    QTest::newRow("two blanks before the bar")
        << 3 << QStringLiteral(u"清除无线模式(选配功能)  |:SET_BOARD_ADR=FFFF.");
    QTest::newRow("quote and comma after the command")
        << 20 << QStringLiteral(u"示例4             |:::ZAVB0-1999(EFG).”，");
    QTest::newRow("trailing blank") << 26 << QStringLiteral(u"N闪烁三次后开， ");
    QTest::newRow("curly quotes") << 37
                                  << QStringLiteral(
                                         u"通过“::::STB100.”~“::::STB200.”设置渐变的速度");
    QTest::newRow("ASCII comma at the end") << 36 << QStringLiteral(u"i从当前亮度渐暗到0%,");
}

void TestCommandReference::fragileLines()
{
    QFETCH(int, line);
    QFETCH(QString, text);
    QCOMPARE(lines().at(line - 1), text);
}

QTEST_GUILESS_MAIN(TestCommandReference)
#include "tst_command_reference.moc"
