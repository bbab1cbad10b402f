// The words through which searches find a shared file.
#include "shares/SearchTokens.h"
#include "shares/SharedFoldersManager.h"

#include <QtTest>

#include <algorithm>

using WordList = std::vector<std::string>;
Q_DECLARE_METATYPE(std::string)
Q_DECLARE_METATYPE(WordList)

class TestSearchTokens : public QObject
{
    Q_OBJECT

private slots:
    void FileWords_data();
    void FileWords();
    void Separators_data();
    void Separators();
};

void TestSearchTokens::FileWords_data()
{
    QTest::addColumn<std::string>("folder");
    QTest::addColumn<std::string>("name");
    QTest::addColumn<WordList>("words");

    QTest::newRow("both passes") << std::string("C:/Music/Best Of") << std::string("Don't Stop.MP3")
                                 << WordList{"best", "c", "c:", "don", "don't", "mp3", "music", "of", "stop", "stop.mp3", "t"};
    QTest::newRow("tab splits only the first pass")
        << std::string("/m") << std::string("a\tb.ogg") << WordList{"a", "a\tb.ogg", "b", "m", "ogg"};
    QTest::newRow("only ASCII letters fold")
        << std::string("/m") << std::string("\xc3\x89t\xc3\xa9 X") << WordList{"m", "x", "\xc3\x89t\xc3\xa9"};
    QTest::newRow("punctuation runs give no empty word")
        << std::string("//a//") << std::string("--b__") << WordList{"--b__", "a", "b"};
}

void TestSearchTokens::FileWords()
{
    QFETCH(std::string, folder);
    QFETCH(std::string, name);
    WordList l_words = SearchTokens::FileWords(folder, name);
    WordList l_sorted = l_words;
    std::sort(l_sorted.begin(), l_sorted.end());
    QVERIFY2(std::adjacent_find(l_sorted.begin(), l_sorted.end()) == l_sorted.end(), "a word twice");
    QTEST(l_sorted, "words");
}

void TestSearchTokens::Separators_data()
{
    QTest::addColumn<int>("byte");
    QTest::addColumn<bool>("separates");
    for (int l_byte : std::initializer_list<int>{' ', '\t', '.', '-', '_', '\'', '(', '/', '\\', ':', 0, 0x7f})
        QTest::addRow("0x%02x", l_byte) << l_byte << true;
    for (int l_byte : std::initializer_list<int>{'a', 'z', 'A', 'Z', '0', '9', 0x80, 0xc3, 0xff})
        QTest::addRow("0x%02x", l_byte) << l_byte << false;
}

void TestSearchTokens::Separators()
{
    QFETCH(int, byte);
    QTEST(SharedFoldersManager::IsSearchTokenSeparator(static_cast<unsigned char>(byte)), "separates");
}

QTEST_APPLESS_MAIN(TestSearchTokens)
#include "tst_search_tokens.moc"
