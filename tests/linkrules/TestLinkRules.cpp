#include "capture/LinkRules.h"

#include <QTest>

using namespace oxle::ItemReader;

class TestLinkRules : public QObject
{
    Q_OBJECT

private slots:
    void classifyLinks_data();
    void classifyLinks();
    void looksLikeLinkTable_data();
    void looksLikeLinkTable();
    void canonicalURLTable_data();
    void canonicalURLTable();
    void strictParsing_data();
    void strictParsing();
    void hostileInput();
};

void TestLinkRules::classifyLinks_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("canonical");
    QTest::addColumn<QString>("domain");
    QTest::addColumn<QString>("type");
    const auto row = [](const char *name, const char *in, const char *canonical, const char *domain, const char *type) {
        QTest::newRow(name) << QString::fromUtf8(in) << QString::fromUtf8(canonical) << QString::fromUtf8(domain)
                            << QString::fromLatin1(type);
    };
    // The worked examples.
    row("video, host in capitals", "https://WWW.YOUTUBE.COM/watch?v=abc&utm_source=x#t=10",
        "https://www.youtube.com/watch?v=abc", "youtube.com", "video");
    row("short", "https://youtube.com/shorts/xyz", "https://youtube.com/shorts/xyz", "youtube.com", "reel");
    row("instagram reel", "https://www.instagram.com/reel/C1/?igshid=abc", "https://www.instagram.com/reel/C1",
        "instagram.com", "reel");
    row("instagram post", "https://www.instagram.com/p/abc/", "https://www.instagram.com/p/abc", "instagram.com",
        "link");
    row("spotify episode", "https://open.spotify.com/episode/123?si=abc", "https://open.spotify.com/episode/123",
        "open.spotify.com", "podcast");
    row("spotify track", "https://open.spotify.com/track/9?si=1&x=2", "https://open.spotify.com/track/9?x=2",
        "open.spotify.com", "music");
    row("spotify user", "https://open.spotify.com/user/abc", "https://open.spotify.com/user/abc", "open.spotify.com",
        "link");
    row("youtube subdomain", "https://music.youtube.com/watch?v=1&feature=share", "https://music.youtube.com/watch?v=1",
        "music.youtube.com", "video");
    row("substack", "https://writer.substack.com/p/post/", "https://writer.substack.com/p/post", "writer.substack.com",
        "article");
    row("other host", "https://EXAMPLE.org/A?FBCLID=1", "https://example.org/A", "example.org", "link");
    // One entry of each other list, and the edges of the host rules.
    row("instagram short domain reels", "http://instagr.am/reels/x/", "http://instagr.am/reels/x", "instagr.am",
        "reel");
    row("tiktok any path", "https://www.tiktok.com/@user", "https://www.tiktok.com/@user", "tiktok.com", "reel");
    row("spotify pattern in the query", "https://open.spotify.com/track/1?context=/show/2",
        "https://open.spotify.com/track/1?context=/show/2", "open.spotify.com", "podcast");
    row("spotify parent domain", "https://spotify.com/track/1", "https://spotify.com/track/1", "spotify.com", "link");
    row("apple podcasts", "https://podcasts.apple.com/us/podcast/x/id1", "https://podcasts.apple.com/us/podcast/x/id1",
        "podcasts.apple.com", "podcast");
    row("soundcloud", "https://soundcloud.com/a/b", "https://soundcloud.com/a/b", "soundcloud.com", "music");
    row("vimeo", "https://vimeo.com/1", "https://vimeo.com/1", "vimeo.com", "video");
    row("lookalike host", "https://notyoutube.com/shorts/1", "https://notyoutube.com/shorts/1", "notyoutube.com",
        "link");
    row("path mentions a list host", "https://example.com/youtube.com", "https://example.com/youtube.com",
        "example.com", "link");
    row("unparsable", "https://youtube.com/watch?v=a b", "https://youtube.com/watch?v=a b", "", "link");
    row("list domain as a prefix", "https://youtube.com.evil.net/shorts/1", "https://youtube.com.evil.net/shorts/1",
        "youtube.com.evil.net", "link");
    row("user info not part of the domain", "https://me@WWW.youtube.com/watch?v=1",
        "https://me@www.youtube.com/watch?v=1", "youtube.com", "video");
    row("one www removed", "https://www.www.example.com/", "https://www.www.example.com", "www.example.com", "link");
    row("www only as a prefix, port", "https://wwwexample.com:8080/x", "https://wwwexample.com:8080/x",
        "wwwexample.com", "link");
    row("no host", "mailto:Someone@Example.com", "mailto:Someone@Example.com", "", "link");
}

void TestLinkRules::classifyLinks()
{
    QFETCH(QString, input);
    QFETCH(QString, canonical);
    QFETCH(QString, domain);
    QFETCH(QString, type);
    QCOMPARE(canonicalURL(input), canonical);
    QCOMPARE(sourceDomain(input), domain);
    QVERIFY(!sourceDomain(input).isNull()); // stored as "" when there is no host, never absent
    QCOMPARE(contentType(input), type);
}

void TestLinkRules::looksLikeLinkTable_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("link");
    QTest::newRow("white space at the ends") << u"  \n\thttps://a.com/x \r\n"_qs << true;
    QTest::newRow("space inside") << u"https://a.com/a b"_qs << false;
    QTest::newRow("line feed inside") << u"https://a.com/a\nb"_qs << false;
    QTest::newRow("upper-case scheme") << u"HTTPS://a.com"_qs << false;
    QTest::newRow("other scheme") << u"ftp://a.com"_qs << false;
    QTest::newRow("note mentioning a link") << u"read https://a.com"_qs << false;
}

void TestLinkRules::looksLikeLinkTable()
{
    QFETCH(QString, text);
    QFETCH(bool, link);
    QCOMPARE(oxle::ItemReader::looksLikeLink(text), link);
}

void TestLinkRules::canonicalURLTable_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char *name, const char *in, const char *out) {
        QTest::newRow(name) << QString::fromUtf8(in) << QString::fromUtf8(out);
    };
    row("only tracking parameters", "https://a.com/p?utm_source=1&fbclid=2&gclid=3&igshid=4&si=5&feature=6",
        "https://a.com/p");
    row("names compared lowercased", "https://a.com/p?UTM_Campaign=1&Fbclid=2&q=1", "https://a.com/p?q=1");
    row("similar names stay, values never inspected", "https://a.com/p?utm=1&sid=2&features=4&ref=utm_source",
        "https://a.com/p?utm=1&sid=2&features=4&ref=utm_source");
    row("escaped name compared decoded", "https://a.com/p?%75tm_source=1&%53I=2&k=v", "https://a.com/p?k=v");
    row("name without value", "https://a.com/p?fbclid&x", "https://a.com/p?x");
    row("order and encoding kept", "https://a.com/p?b=%2f%2F&a=1+2&c=&utm_x=1&d=%E2%9C%93",
        "https://a.com/p?b=%2f%2F&a=1+2&c=&d=%E2%9C%93");
    row("empty items dropped", "https://a.com/p?&a=1&&b=2&", "https://a.com/p?a=1&b=2");
    row("empty query, slash before it", "https://a.com/?#x", "https://a.com");
    row("two trailing slashes", "https://a.com/x//", "https://a.com/x/");
    row("slash after the query", "https://a.com/?q=a/", "https://a.com/?q=a");
    row("scheme case kept", "HTTPS://Example.COM/Path", "HTTPS://example.com/Path");
    row("default port kept", "https://a.com:443/", "https://a.com:443");
    row("empty port kept", "https://a.com:/x", "https://a.com:/x");
    row("escapes kept", "https://a.com/%7euser/%41%2F?q=%zz", "https://a.com/%7euser/%41%2F?q=%zz");
    row("escapes in host kept", "https://EX%41MPLE.com/", "https://ex%41mple.com");
    row("user info kept", "https://User:Pw@Host.COM/", "https://User:Pw@host.com");
    row("IPv6 host lowercased", "http://[2001:DB8::A]:80/", "http://[2001:db8::a]:80");
    row("Unicode host lowercased", "https://BÜCHER.de/Straße/", "https://bücher.de/Straße");
    row("relative reference", "www.a.com/p/?utm_source=x", "www.a.com/p");
    row("parse failure trims spaces and tabs", " \thello world\t ", "hello world");
    row("parse failure keeps line feeds", " https://a.com/x y\n", "https://a.com/x y\n");
}

void TestLinkRules::canonicalURLTable()
{
    QFETCH(QString, input);
    QFETCH(QString, expected);
    QCOMPARE(oxle::ItemReader::canonicalURL(input), expected);
}

void TestLinkRules::strictParsing_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    const auto row = [](const char *text, bool valid) { QTest::newRow(text) << QString::fromUtf8(text) << valid; };
    row("https://a.com/p;x=1/@:!$&'()*+,=~-._", true);
    row("https://a.com/?q=/?:@#/?:@", true);
    row("a+b-c.d:x", true);
    row("//host/path", true);
    row("https://[1:2:3:4:5:6:7:8]", true);
    row("https://[::ffff:192.0.2.1]:443/", true);
    row("https://[v1.fe80::a+en1]", true);
    row("https://münchen.de/ö?ü#ä", true);
    row("https://a.com/a b", false);
    row("https://a.com/%", false);
    row("https://a.com/%g0", false);
    row("https://a.com#a#b", false);
    row("https://a@b@c.com", false);
    row("https://a.com:-1", false);
    row("https://a.com:65536", false);
    row("https://[1:2:3:4:5:6:7:8:9]", false);
    row("https://[1::2::3]", false);
    row("https://[::1]x", false);
    row("https://[::1%25eth0]", false);
    row(":no-scheme", false);
    row("1a:b", false);
    row("https://a.com/\xc2\xa0", false); // no-break space
    row("https://a.com/\xe2\x80\xae", false); // right-to-left override
    row("https://a.com/\xee\x80\x80", false); // private use outside the query
    row("https://a.com/?\xee\x80\x80", true);
    row("https://a.com/x\n", false); // "$" would match before a final line feed
}

void TestLinkRules::strictParsing()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QCOMPARE(oxle::ItemReader::detail::parseUrlReference(text).has_value(), valid);
}

void TestLinkRules::hostileInput()
{
    // Long input stays linear; lone surrogates and NUL are rejected rather than mangled.
    const QString longLink = u"https://a.com/"_qs + QString(1 << 20, u'a') + u"?utm_source=1"_qs;
    QCOMPARE(canonicalURL(longLink), longLink.chopped(13));
    const QString loneSurrogate = u"https://a.com/"_qs + QChar(0xD800);
    QCOMPARE(canonicalURL(loneSurrogate), loneSurrogate);
    QCOMPARE(sourceDomain(loneSurrogate), QString());
    const QString withNul = u"https://a.com/"_qs + QChar(0) + u"x"_qs;
    QCOMPARE(canonicalURL(withNul), withNul);
    QCOMPARE(contentType(u"https://open.spotify.com/"_qs + QString(100000, u'/') + u"show/"_qs), u"podcast"_qs);
}

QTEST_GUILESS_MAIN(TestLinkRules)
#include "TestLinkRules.moc"
