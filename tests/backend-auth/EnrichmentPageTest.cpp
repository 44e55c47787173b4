#include "EnrichmentWorker.h"
#include "LoopbackSite.h"

#include <QTest>

using oxle::backend::EnrichmentWorker;

class EnrichmentPageTest : public QObject
{
    Q_OBJECT

private slots:
    void extract_data()
    {
        QTest::addColumn<QByteArray>("html");
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("thumbnail");

        QTest::newRow("og wins over title, single quotes, content first")
            << QByteArray("<head><meta content='/a.png' property='og:image'><meta property=\"og:title\" "
                          "content=\"Og &amp; co\"><title>Plain</title></head>")
            << "https://site.example/x/y" << "Og & co" << "https://site.example/a.png";
        QTest::newRow("title with entities and whitespace")
            << QByteArray("<TITLE lang=en>\n Caf&#233; &lt;3 &#x1F600;\t</TITLE>") << "http://s.example/"
            << QString::fromUtf8("Café <3 \xF0\x9F\x98\x80") << "";
        QTest::newRow("twitter image relative to a folder")
            << QByteArray("<meta name=\"twitter:image\" content=\"img/p.jpg\">") << "http://s.example/dir/page"
            << "" << "http://s.example/dir/img/p.jpg";
        QTest::newRow("og:image preferred over twitter:image")
            << QByteArray("<meta name=twitter:image content=//cdn.example/t.jpg><meta property=og:image "
                          "content=//cdn.example/o.jpg>")
            << "https://s.example/" << "" << "https://cdn.example/o.jpg";
        QTest::newRow("non-web image schemes are dropped")
            << QByteArray("<meta property=og:image content=\"data:image/png;base64,AAAA\">"
                          "<meta name=twitter:image content=\"javascript:alert(1)\">")
            << "https://s.example/" << "" << "";
        QTest::newRow("tags in the body are ignored")
            << QByteArray("<head></head><body><title>Body</title><meta property=og:title content=Late></body>")
            << "https://s.example/" << "" << "";
        QTest::newRow("control characters") << QByteArray("<title>a\x01" "b</title>") << "https://s.example/" << "a b"
                                            << "";
        QTest::newRow("long title cut") << "<title>" + QByteArray(5000, 'a') + "</title>" << "http://s.example/"
                                        << QString(500, u'a') << "";
    }

    void extract()
    {
        QFETCH(QByteArray, html);
        QFETCH(QString, base);
        QFETCH(QString, title);
        QFETCH(QString, thumbnail);
        const auto info = EnrichmentWorker::extractPageInfo(html, QUrl(base));
        QCOMPARE(info.title, title);
        QCOMPARE(info.thumbnailUrl, thumbnail);
    }

    void fetch_data()
    {
        QTest::addColumn<QString>("url"); // a path on the loopback site, or a whole URL
        QTest::addColumn<QString>("finalPath"); // empty: the fetch fails

        QTest::newRow("three redirects") << "/hop/3" << "/titled";
        QTest::newRow("four redirects") << "/hop/4" << "";
        QTest::newRow("redirect to ftp") << "/to-ftp" << "";
        QTest::newRow("json") << "/json" << "";
        QTest::newRow("404 page") << "/missing" << "";
        QTest::newRow("file scheme") << "file:///etc/passwd" << "";
        QTest::newRow("gopher scheme") << "gopher://127.0.0.1:70/" << "";
        QTest::newRow("no host") << "http:///path" << "";
    }

    void fetch()
    {
        QFETCH(QString, url);
        QFETCH(QString, finalPath);
        LoopbackSite site;
        const auto result = EnrichmentWorker::fetchPage(QUrl(url.startsWith(u'/') ? site.url(url) : url));
        QCOMPARE(result.ok, !finalPath.isEmpty());
        if (result.ok) {
            QCOMPARE(result.finalUrl.path(), finalPath);
            QVERIFY(!result.body.isEmpty());
        } else {
            QVERIFY(!result.failure.isEmpty());
        }
    }

    void oversizedPageIsCappedNotRead()
    {
        LoopbackSite site;
        const auto result = EnrichmentWorker::fetchPage(QUrl(site.url("/big")));
        QVERIFY(result.ok);
        QCOMPARE(result.body.size(), EnrichmentWorker::kMaxBodyBytes);
        QCOMPARE(EnrichmentWorker::extractPageInfo(result.body, result.finalUrl).title, QStringLiteral("Big page"));
    }
};

QTEST_GUILESS_MAIN(EnrichmentPageTest)
#include "EnrichmentPageTest.moc"
