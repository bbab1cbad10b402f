// The query syntax of incoming searches, case by case.
#include "shares/SearchParser.h"

#include <QtTest>

using Words = QStringList;
Q_DECLARE_METATYPE(std::string)

namespace
{
Words ToWords(const std::set<std::string>& i_set)
{
    Words l_words;
    for (const std::string& l_word : i_set)
        l_words << QString::fromStdString(l_word);
    return l_words;
}
}  // namespace

class TestSearchParser : public QObject
{
    Q_OBJECT

private slots:
    void Parses_data();
    void Parses();
    void SecondCallAddsToTheSets();
    void SetsAreOrderedByBytes();
};

void TestSearchParser::Parses_data()
{
    QTest::addColumn<std::string>("query");
    QTest::addColumn<Words>("included");
    QTest::addColumn<Words>("part");
    QTest::addColumn<Words>("excluded");
    QTest::addColumn<bool>("result");

    QTest::newRow("empty") << std::string("") << Words{} << Words{} << Words{} << false;
    QTest::newRow("blanks only") << std::string(" \t  ") << Words{} << Words{} << Words{} << false;
    QTest::newRow("lone minus") << std::string("-") << Words{} << Words{} << Words{} << false;
    QTest::newRow("lone asterisk") << std::string("*") << Words{} << Words{} << Words{} << false;
    QTest::newRow("final minus") << std::string("abc -") << Words{"abc"} << Words{} << Words{} << false;
    QTest::newRow("final asterisk") << std::string("abc *") << Words{"abc"} << Words{} << Words{} << false;
    QTest::newRow("minus then blank") << std::string("abc - def") << Words{"abc"} << Words{} << Words{} << false;
    QTest::newRow("excluded only") << std::string("-abc") << Words{} << Words{} << Words{"abc"} << false;
    QTest::newRow("included and excluded") << std::string("abc -abc") << Words{"abc"} << Words{} << Words{"abc"} << true;
    QTest::newRow("repeats once") << std::string("abc abc\tabc") << Words{"abc"} << Words{} << Words{} << true;
    QTest::newRow("part") << std::string("*mix") << Words{} << Words{"mix"} << Words{} << true;
    QTest::newRow("double minus") << std::string("--a") << Words{} << Words{} << Words{"-a"} << false;
    QTest::newRow("minus asterisk") << std::string("-*a") << Words{} << Words{} << Words{"*a"} << false;
    QTest::newRow("asterisk minus") << std::string("*-a") << Words{} << Words{"-a"} << Words{} << true;
    QTest::newRow("phrase") << std::string("\"foo bar\" baz") << Words{"baz", "foo bar"} << Words{} << Words{} << true;
    QTest::newRow("phrase keeps blanks") << std::string("\" foo \"") << Words{" foo "} << Words{} << Words{} << true;
    QTest::newRow("word right after phrase") << std::string("\"foo\"bar") << Words{"bar", "foo"} << Words{} << Words{}
                                              << true;
    QTest::newRow("unclosed phrase") << std::string("\"foo bar") << Words{"foo bar"} << Words{} << Words{} << true;
    QTest::newRow("excluded phrase") << std::string("-\"foo bar\" x") << Words{"x"} << Words{} << Words{"foo bar"}
                                     << true;
    QTest::newRow("part phrase") << std::string("*\"foo bar\"") << Words{} << Words{"foo bar"} << Words{} << true;
    QTest::newRow("quote inside word") << std::string("foo\"bar\"") << Words{} << Words{} << Words{} << false;
    QTest::newRow("empty phrase") << std::string("\"\"") << Words{} << Words{} << Words{} << false;
    QTest::newRow("lone quote") << std::string("\"") << Words{} << Words{} << Words{} << false;
    QTest::newRow("quotes inside plain word") << std::string("a\"\"b") << Words{} << Words{} << Words{} << false;
    QTest::newRow("plain word holding a quote") << std::string("ab\"cd") << Words{} << Words{} << Words{} << false;
    QTest::newRow("case counts") << std::string("Abc abc") << Words{"Abc", "abc"} << Words{} << Words{} << true;
    QTest::newRow("line feed is a word byte") << std::string("a\nb") << Words{"a\nb"} << Words{} << Words{} << true;
    QTest::newRow("bytes above 127") << std::string("caf\xc3\xa9") << Words{QString::fromUtf8("caf\xc3\xa9")}
                                     << Words{} << Words{} << true;
    QTest::newRow("words before a fault stay") << std::string("one *two -three \"\"") << Words{"one"} << Words{"two"}
                                               << Words{"three"} << false;
}

void TestSearchParser::Parses()
{
    QFETCH(std::string, query);
    SearchParser l_parser;
    QTEST(l_parser.SetSearchText(query), "result");
    QTEST(ToWords(l_parser.GetIncludedTokenSet()), "included");
    QTEST(ToWords(l_parser.GetIncludedPartTokenSet()), "part");
    QTEST(ToWords(l_parser.GetExcludedTokenSet()), "excluded");
}

void TestSearchParser::SecondCallAddsToTheSets()
{
    SearchParser l_parser;
    QVERIFY(l_parser.SetSearchText("one"));
    QVERIFY(l_parser.SetSearchText("two -x"));
    QCOMPARE(ToWords(l_parser.GetIncludedTokenSet()), (Words{"one", "two"}));
    QCOMPARE(ToWords(l_parser.GetExcludedTokenSet()), Words{"x"});
    QCOMPARE(QByteArray(SearchParser::Whitespace()), QByteArray(" \t"));
}

void TestSearchParser::SetsAreOrderedByBytes()
{
    SearchParser l_parser;
    QVERIFY(l_parser.SetSearchText("b \xc3\xa9 B a ab"));
    const std::set<std::string>& l_words = l_parser.GetIncludedTokenSet();
    const std::vector<std::string> l_order(l_words.begin(), l_words.end());
    QCOMPARE(l_order, (std::vector<std::string>{"B", "a", "ab", "b", "\xc3\xa9"}));
}

QTEST_APPLESS_MAIN(TestSearchParser)
#include "tst_search_parser.moc"
