// The filter line's syntax and test, alone and level by level through the
// remainder parser.
#include "ui/views/FilterParser.h"

#include <QtTest>

class TestFilterParser : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void matching_data();
    void matching();
    void remainder_data();
    void remainder();
    void treeLevels();
};

void TestFilterParser::parse_data()
{
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QStringList>("included");
    QTest::addColumn<QStringList>("excluded");
    QTest::newRow("empty") << QStringList{""} << QStringList{} << QStringList{};
    QTest::newRow("spaces only") << QStringList{"   "} << QStringList{} << QStringList{};
    QTest::newRow("lone hyphen") << QStringList{" - "} << QStringList{} << QStringList{};
    QTest::newRow("double hyphen excludes a hyphen") << QStringList{"--"} << QStringList{} << QStringList{"-"};
    QTest::newRow("words as typed") << QStringList{"  Live-set  -Remix x- \"a\" "}
                                    << QStringList{"Live-set", "x-", "\"a\""} << QStringList{"Remix"};
    QTest::newRow("only blanks split") << QStringList{"a\tb c"} << QStringList{"a\tb", "c"} << QStringList{};
    QTest::newRow("duplicates kept") << QStringList{"a a -b -b"} << QStringList{"a", "a"} << QStringList{"b", "b"};
    QTest::newRow("two texts append") << QStringList{"a -b", "c"} << QStringList{"a", "c"} << QStringList{"b"};
}

void TestFilterParser::parse()
{
    QFETCH(QStringList, texts);
    QFETCH(QStringList, included);
    QFETCH(QStringList, excluded);
    FilterParser l_parser;
    for (const QString& l_text : texts)
        l_parser.Parse(l_text);
    QCOMPARE(l_parser.IncludeTokens(), included);
    QCOMPARE(l_parser.ExcludeTokens(), excluded);
}

void TestFilterParser::matching_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("result");
    QTest::newRow("empty filter, empty text") << "" << "" << int(Match);
    QTest::newRow("lone hyphen") << "-" << "anything" << int(Match);
    QTest::newRow("hyphen excluded") << "--" << "live-set" << int(Mismatch);
    QTest::newRow("hyphen excluded, none there") << "--" << "liveset" << int(Match);
    QTest::newRow("abc -abc, with abc") << "abc -abc" << "xABCx" << int(Mismatch);
    QTest::newRow("abc -abc, without") << "abc -abc" << "xyz" << int(PartialMatch);
    QTest::newRow("case and no word bounds") << "MIX" << "remix.mp3" << int(Match);
    QTest::newRow("excluded whatever the case") << "-live" << "LiveSet" << int(Mismatch);
    QTest::newRow("excluded wins over included") << "set -live" << "LiveSet" << int(Mismatch);
    QTest::newRow("empty text, wanted words") << "a" << "" << int(PartialMatch);
    QTest::newRow("empty text, unwanted only") << "-a" << "" << int(Match);
    QTest::newRow("non-ASCII case") << "ÄRGER" << "das ärgernis" << int(Match);
}

void TestFilterParser::matching()
{
    QFETCH(QString, filter);
    QFETCH(QString, text);
    QFETCH(int, result);
    FilterParser l_parser;
    l_parser.Parse(filter);
    QCOMPARE(int(l_parser.IsMatching(text, nullptr)), result);
}

void TestFilterParser::remainder_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("included");
    QTest::addColumn<QStringList>("excluded");
    QTest::newRow("empty filter") << "" << "x" << int(Match) << QStringList{} << QStringList{};
    QTest::newRow("a a on a text without a") << "a a" << "xyz" << int(PartialMatch) << QStringList{"a", "a"}
                                             << QStringList{};
    QTest::newRow("excluded found: emptied, not filled") << "x -y" << "y" << int(Mismatch) << QStringList{}
                                                         << QStringList{};
    QTest::newRow("all wanted found") << "jazz -live" << "Jazz" << int(Match) << QStringList{} << QStringList{"live"};
    QTest::newRow("some wanted found") << "jazz blue -live" << "jazz" << int(PartialMatch) << QStringList{"blue"}
                                       << QStringList{"live"};
}

void TestFilterParser::remainder()
{
    QFETCH(QString, filter);
    QFETCH(QString, text);
    QFETCH(int, result);
    QFETCH(QStringList, included);
    QFETCH(QStringList, excluded);
    FilterParser l_parser;
    l_parser.Parse(filter);
    // A remainder left from an earlier test is emptied first.
    FilterParser l_rest;
    l_rest.Parse("old -older");
    QCOMPARE(int(l_parser.IsMatching(text, &l_rest)), result);
    QCOMPARE(l_rest.IncludeTokens(), included);
    QCOMPARE(l_rest.ExcludeTokens(), excluded);
}

// A word found in a folder need not occur again in its files; an unwanted
// word is tested at every level.
void TestFilterParser::treeLevels()
{
    FilterParser l_parser;
    l_parser.Parse("jazz blue -live");
    FilterParser l_rest;
    QCOMPARE(l_parser.IsMatching("music/jazz", &l_rest), PartialMatch);
    QCOMPARE(l_rest.IsMatching("blue train.mp3", nullptr), Match);
    QCOMPARE(l_rest.IsMatching("train.mp3", nullptr), PartialMatch);
    QCOMPARE(l_rest.IsMatching("blue (live).mp3", nullptr), Mismatch);
    FilterParser l_deeper;
    QCOMPARE(l_rest.IsMatching("blue", &l_deeper), Match);
    QCOMPARE(l_deeper.IsMatching("anything.mp3", nullptr), Match);
}

QTEST_MAIN(TestFilterParser)
#include "tst_filter_parser.moc"
