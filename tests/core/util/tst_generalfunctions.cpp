#include "core/util/GeneralFunctions.h"

#include <QTextDocument>
#include <QtTest>

Q_DECLARE_METATYPE(std::string)

class TestGeneralFunctions : public QObject
{
    Q_OBJECT

private slots:
    void FileNameAndFolder_data();
    void FileNameAndFolder();
    void RemotePaths_data();
    void RemotePaths();
    void ParentFolder_data();
    void ParentFolder();
    void ParentFolderChain();
    void FileExtension_data();
    void FileExtension();
    void AbsoluteFileName_data();
    void AbsoluteFileName();
    void ReversedPath_data();
    void ReversedPath();
    void Commafy();
    void Seconds_data();
    void Seconds();
    void Escape();
    void Links_data();
    void Links();
    void LinksCannotInjectMarkup_data();
    void LinksCannotInjectMarkup();
};

void TestGeneralFunctions::FileNameAndFolder_data()
{
    QTest::addColumn<std::string>("path");
    QTest::addColumn<std::string>("name");
    QTest::addColumn<std::string>("folder");
    QTest::newRow("backslashes") << std::string("C:\\music\\song.mp3") << std::string("song.mp3")
                                 << std::string("C:\\music");
    QTest::newRow("slashes") << std::string("music/live/a.ogg") << std::string("a.ogg") << std::string("music/live");
    QTest::newRow("mixed, last wins") << std::string("a\\b/c") << std::string("c") << std::string("a\\b");
    QTest::newRow("one trailing dropped") << std::string("a\\b\\") << std::string("b") << std::string("a");
    QTest::newRow("only one trailing dropped") << std::string("a\\b\\\\") << std::string("") << std::string("a\\b");
    QTest::newRow("no separator") << std::string("song.mp3") << std::string("song.mp3") << std::string("song.mp3");
    QTest::newRow("no separator, trailing") << std::string("folder/") << std::string("folder") << std::string("folder");
    QTest::newRow("empty") << std::string() << std::string() << std::string();
    QTest::newRow("separator alone") << std::string("\\") << std::string() << std::string();
    QTest::newRow("leading separator") << std::string("/a") << std::string("a") << std::string();
}

void TestGeneralFunctions::FileNameAndFolder()
{
    QFETCH(std::string, path);
    QFETCH(std::string, name);
    QFETCH(std::string, folder);
    QCOMPARE(GetFileName(path), name);
    QCOMPARE(GetFolder(path), folder);
}

// Split, then joined again as the path we ask the peer for.
void TestGeneralFunctions::RemotePaths_data()
{
    QTest::addColumn<std::string>("path");
    QTest::addColumn<std::string>("folder");
    QTest::addColumn<std::string>("name");
    QTest::addColumn<std::string>("joined");
    QTest::newRow("top of the share") << std::string("rootfile.mp3") << std::string() << std::string("rootfile.mp3")
                                      << std::string("rootfile.mp3");
    QTest::newRow("in folders") << std::string("Music\\Live\\a.mp3") << std::string("Music\\Live") << std::string("a.mp3")
                                << std::string("Music\\Live\\a.mp3");
    QTest::newRow("slashes") << std::string("music/a.ogg") << std::string("music") << std::string("a.ogg")
                             << std::string("music\\a.ogg");
    QTest::newRow("trailing separator") << std::string("a.mp3\\") << std::string() << std::string("a.mp3")
                                        << std::string("a.mp3");
    QTest::newRow("leading separator") << std::string("\\bare") << std::string() << std::string("bare")
                                       << std::string("bare");
    QTest::newRow("empty") << std::string() << std::string() << std::string() << std::string();
}

void TestGeneralFunctions::RemotePaths()
{
    QFETCH(std::string, path);
    QFETCH(std::string, folder);
    QFETCH(std::string, name);
    QFETCH(std::string, joined);
    const RemoteFilePath l_split = SplitRemotePath(path);
    QCOMPARE(l_split.m_folder, folder);
    QCOMPARE(l_split.m_name, name);
    QCOMPARE(JoinRemotePath(l_split.m_folder, l_split.m_name), joined);
}

void TestGeneralFunctions::ParentFolder_data()
{
    QTest::addColumn<std::string>("path");
    QTest::addColumn<std::string>("parent");
    QTest::newRow("folder") << std::string("C:\\music\\live") << std::string("C:\\music");
    QTest::newRow("every trailing backslash") << std::string("C:\\music\\live\\\\\\") << std::string("C:\\music");
    QTest::newRow("drive") << std::string("C:\\") << std::string("C:");
    QTest::newRow("no separator yields itself") << std::string("music") << std::string("music");
    QTest::newRow("slashes") << std::string("a/b/c") << std::string("a/b");
    // Trailing "/" is not stripped as a run: one is dropped, as by GetFolder.
    QTest::newRow("trailing slash") << std::string("a/b/") << std::string("a");
    QTest::newRow("backslashes then slash") << std::string("a/b/\\\\") << std::string("a");
    QTest::newRow("empty") << std::string() << std::string();
    QTest::newRow("only backslashes") << std::string("\\\\\\") << std::string();
}

void TestGeneralFunctions::ParentFolder()
{
    QFETCH(std::string, path);
    QFETCH(std::string, parent);
    QCOMPARE(GetParentFolder(path), parent);
}

void TestGeneralFunctions::ParentFolderChain()
{
    // Walking up ends at the top component, which is its own parent.
    std::string l_path = "d:\\share\\albums\\live";
    QStringList l_steps;
    for (int l_step = 0; l_step < 4; ++l_step) {
        l_path = GetParentFolder(l_path);
        l_steps << QString::fromStdString(l_path);
    }
    QCOMPARE(l_steps, (QStringList{"d:\\share\\albums", "d:\\share", "d:", "d:"}));
}

void TestGeneralFunctions::FileExtension_data()
{
    QTest::addColumn<std::string>("name");
    QTest::addColumn<std::string>("extension");
    QTest::newRow("lower-cased") << std::string("Song.MP3") << std::string("mp3");
    QTest::newRow("last dot") << std::string("a.tar.GZ") << std::string("gz");
    QTest::newRow("no dot") << std::string("README") << std::string();
    QTest::newRow("trailing dot") << std::string("name.") << std::string();
    QTest::newRow("path") << std::string("C:\\Music.Old\\track.Ogg") << std::string("ogg");
    QTest::newRow("non-ASCII kept") << std::string("x.\xc3\x89T") << std::string("\xc3\x89t");
    QTest::newRow("empty") << std::string() << std::string();
}

void TestGeneralFunctions::FileExtension()
{
    QFETCH(std::string, name);
    QFETCH(std::string, extension);
    QCOMPARE(GetFileExtension(name), extension);
}

void TestGeneralFunctions::AbsoluteFileName_data()
{
    QTest::addColumn<std::string>("path");
    QTest::addColumn<std::string>("key");
    QTest::newRow("runs cut to first") << std::string("C:\\\\Music//Live\\/x") << std::string("c:\\music/live\\x");
    QTest::newRow("trailing removed") << std::string("a\\B\\\\//") << std::string("a\\b");
    QTest::newRow("non-ASCII bytes unchanged") << std::string("\xc3\x89T\xc3\xa9") << std::string("\xc3\x89t\xc3\xa9");
    QTest::newRow("separators only") << std::string("\\/\\") << std::string();
    QTest::newRow("empty") << std::string() << std::string();
}

void TestGeneralFunctions::AbsoluteFileName()
{
    QFETCH(std::string, path);
    QFETCH(std::string, key);
    QCOMPARE(GetAbsoluteFileName(path), key);
}

void TestGeneralFunctions::ReversedPath_data()
{
    QTest::addColumn<std::string>("path");
    QTest::addColumn<std::string>("reversed");
    QTest::newRow("example") << std::string("music\\albums\\live") << std::string("live/albums/music");
    QTest::newRow("runs and both separators") << std::string("\\\\a//b\\/c\\") << std::string("c/b/a");
    QTest::newRow("one component") << std::string("music") << std::string("music");
    QTest::newRow("separators only") << std::string("\\/") << std::string();
    QTest::newRow("empty") << std::string() << std::string();
}

void TestGeneralFunctions::ReversedPath()
{
    QFETCH(std::string, path);
    QFETCH(std::string, reversed);
    QCOMPARE(ReversePathname(path), reversed);
}

void TestGeneralFunctions::Commafy()
{
    QCOMPARE(CommafyNumber(1234567), QString("1,234,567"));
    QCOMPARE(CommafyNumber(1), QString("1"));
    QCOMPARE(CommafyNumber(999), QString("999"));
    QCOMPARE(CommafyNumber(1000), QString("1,000"));
    QCOMPARE(CommafyNumber(123456), QString("123,456"));
    QCOMPARE(CommafyNumber(std::numeric_limits<long long>::max()), QString("9,223,372,036,854,775,807"));
    QCOMPARE(CommafyNumber(0), QString());
    QCOMPARE(CommafyNumber(-5000), QString());
}

void TestGeneralFunctions::Seconds_data()
{
    QTest::addColumn<long>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("245") << 245L << "4m5s";
    QTest::newRow("3725") << 3725L << "1h2m5s";
    QTest::newRow("59") << 59L << "0m59s";
    QTest::newRow("0") << 0L << "0m0s";
    QTest::newRow("one hour") << 3600L << "1h0m0s";
    QTest::newRow("one day") << 86400L << "1d0h0m0s";
    QTest::newRow("days and more") << 2L * 86400 + 3 * 3600 + 4 * 60 + 5 << "2d3h4m5s";
}

void TestGeneralFunctions::Seconds()
{
    QFETCH(long, seconds);
    QFETCH(QString, text);
    QCOMPARE(FormatSeconds(seconds), text);
}

void TestGeneralFunctions::Escape()
{
    QCOMPARE(EscapeHTML("a < b && c > d"), QString("a &lt; b &amp;&amp; c &gt; d"));
    // An existing entity is escaped again: "&" goes first.
    QCOMPARE(EscapeHTML("&lt;"), QString("&amp;lt;"));
    QCOMPARE(EscapeHTML("\"quoted\" 'x' \xc3\xa9"), QString("\"quoted\" 'x' \xc3\xa9"));
    QCOMPARE(EscapeHTML(QString()), QString());
}

void TestGeneralFunctions::Links_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("html");
    QTest::newRow("http") << "see http://example.org/a?b=1 now"
                          << "see <a href=\"http://example.org/a?b=1\">http://example.org/a?b=1</a> now";
    QTest::newRow("https at end") << "https://x.org/p" << "<a href=\"https://x.org/p\">https://x.org/p</a>";
    QTest::newRow("two") << "http://a http://b"
                         << "<a href=\"http://a\">http://a</a> <a href=\"http://b\">http://b</a>";
    QTest::newRow("escaped ampersand kept") << "http://a/?x=1&amp;y=2"
                                            << "<a href=\"http://a/?x=1&amp;y=2\">http://a/?x=1&amp;y=2</a>";
    QTest::newRow("ends at markup") << "<font>http://a</font>"
                                    << "<font><a href=\"http://a\">http://a</a></font>";
    QTest::newRow("ends at tab") << "http://a\tb" << "<a href=\"http://a\">http://a</a>\tb";
    QTest::newRow("scheme alone") << "http:// x" << "http:// x";
    QTest::newRow("other scheme") << "ftp://a mailto:b" << "ftp://a mailto:b";
    QTest::newRow("no address") << "plain text" << "plain text";
}

void TestGeneralFunctions::Links()
{
    QFETCH(QString, text);
    QFETCH(QString, html);
    QCOMPARE(ConvertLinks(text), html);
}

void TestGeneralFunctions::LinksCannotInjectMarkup_data()
{
    QTest::addColumn<QString>("raw");
    QTest::newRow("attribute") << "http://a\"onmouseover=\"alert(1)";
    QTest::newRow("tag") << "http://a<script>alert(1)</script>";
    QTest::newRow("closing anchor") << "http://a/\"></a><img src=x>";
    QTest::newRow("quote right after scheme") << "https://\"><b>x";
}

void TestGeneralFunctions::LinksCannotInjectMarkup()
{
    QFETCH(QString, raw);
    const QString l_html = ConvertLinks(EscapeHTML(raw));

    // Parse the result: exactly the anchors we made, each with one href
    // attribute, and the visible text equal to the raw input.
    QTextDocument l_document;
    l_document.setHtml(l_html);
    QCOMPARE(l_document.toPlainText(), raw);
    QVERIFY2(!l_html.contains("<script") && !l_html.contains("<img") && !l_html.contains("<b>"),
             qPrintable(l_html));
    // Every '<' in the output starts one of our anchor tags.
    const QStringList l_tags = l_html.split('<');
    for (qsizetype l_index = 1; l_index < l_tags.size(); ++l_index) {
        const QString& l_tag = l_tags.at(l_index);
        QVERIFY2(l_tag.startsWith("a href=\"") || l_tag.startsWith("/a>"), qPrintable(l_html));
        if (l_tag.startsWith("a href=\"")) {
            // The target is one quoted value followed directly by '>'.
            const qsizetype l_close = l_tag.indexOf('"', 8);
            QVERIFY(l_close > 8);
            QCOMPARE(l_tag.at(l_close + 1), QChar('>'));
        }
    }
}

QTEST_MAIN(TestGeneralFunctions)
#include "tst_generalfunctions.moc"
