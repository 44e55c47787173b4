#include "EnrichmentWorker.h"
#include "LoopbackSite.h"

#include <QTest>

#include <atomic>
#include <memory>

using oxle::backend::EnrichmentWorker;

namespace {

// The loopback site counts as reachable here; whether loopback is refused is checked separately.
EnrichmentWorker::FetchOptions loopbackAllowed()
{
    EnrichmentWorker::FetchOptions options;
    options.allowLoopback = true;
    return options;
}

} // namespace

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
        const auto result =
            EnrichmentWorker::fetchPage(QUrl(url.startsWith(u'/') ? site.url(url) : url), loopbackAllowed());
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
        const auto result = EnrichmentWorker::fetchPage(QUrl(site.url("/big")), loopbackAllowed());
        QVERIFY(result.ok);
        QCOMPARE(result.body.size(), EnrichmentWorker::kMaxBodyBytes);
        QCOMPARE(EnrichmentWorker::extractPageInfo(result.body, result.finalUrl).title, QStringLiteral("Big page"));
    }

    void publicAddresses_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("isPublic");
        QTest::addColumn<bool>("publicWhenLoopbackAllowed");

        QTest::newRow("public v4") << "93.184.216.34" << true << true;
        QTest::newRow("public v6") << "2606:2800:220:1:248:1893:25c8:1946" << true << true;
        QTest::newRow("loopback") << "127.0.0.1" << false << true;
        QTest::newRow("loopback, end of 127/8") << "127.255.255.254" << false << true;
        QTest::newRow("v6 loopback") << "::1" << false << true;
        QTest::newRow("v4-mapped loopback") << "::ffff:127.0.0.1" << false << true;
        QTest::newRow("10/8") << "10.20.30.40" << false << false;
        QTest::newRow("172.16/12 start") << "172.16.0.1" << false << false;
        QTest::newRow("172.16/12 end") << "172.31.255.255" << false << false;
        QTest::newRow("just past 172.16/12") << "172.32.0.1" << true << true;
        QTest::newRow("192.168/16") << "192.168.1.1" << false << false;
        QTest::newRow("link-local, metadata service") << "169.254.169.254" << false << false;
        QTest::newRow("carrier-grade NAT") << "100.64.0.1" << false << false;
        QTest::newRow("carrier-grade NAT end") << "100.127.255.255" << false << false;
        QTest::newRow("just past 100.64/10") << "100.128.0.1" << true << true;
        QTest::newRow("multicast") << "224.0.0.251" << false << false;
        QTest::newRow("reserved 240/4") << "240.0.0.1" << false << false;
        QTest::newRow("broadcast") << "255.255.255.255" << false << false;
        QTest::newRow("unspecified") << "0.0.0.0" << false << false;
        QTest::newRow("this network") << "0.1.2.3" << false << false;
        QTest::newRow("documentation v4") << "192.0.2.10" << false << false;
        QTest::newRow("v6 unspecified") << "::" << false << false;
        QTest::newRow("v6 unique local fc") << "fc00::1" << false << false;
        QTest::newRow("v6 unique local fd") << "fd12:3456:789a::1" << false << false;
        QTest::newRow("v6 link-local") << "fe80::1" << false << false;
        QTest::newRow("v6 link-local, top of /10") << "febf::1" << false << false;
        QTest::newRow("v6 multicast") << "ff02::1" << false << false;
        QTest::newRow("v6 documentation") << "2001:db8::1" << false << false;
        QTest::newRow("v4-mapped private") << "::ffff:10.0.0.1" << false << false;
        QTest::newRow("v4-mapped link-local") << "::ffff:169.254.169.254" << false << false;
        QTest::newRow("v4-mapped public") << "::ffff:93.184.216.34" << true << true;
        QTest::newRow("v4-compatible private") << "::192.168.0.1" << false << false;
        QTest::newRow("NAT64 around private") << "64:ff9b::10.0.0.1" << false << false;
        QTest::newRow("6to4 around loopback") << "2002:7f00:1::" << false << false;
    }

    void publicAddresses()
    {
        QFETCH(QString, address);
        QFETCH(bool, isPublic);
        QFETCH(bool, publicWhenLoopbackAllowed);
        const QHostAddress parsed(address);
        QVERIFY(!parsed.isNull());
        QCOMPARE(EnrichmentWorker::isPublicAddress(parsed), isPublic);
        QCOMPARE(EnrichmentWorker::isPublicAddress(parsed, true), publicWhenLoopbackAllowed);
    }

    // Non-public targets are refused before any connection: the loopback site sees no request.
    void refusesNonPublicTargets_data()
    {
        QTest::addColumn<QString>("url"); // "PORT" stands for the loopback site's port
        QTest::addColumn<bool>("allowLoopback");
        QTest::addColumn<QStringList>("resolved"); // what the host resolves to; empty: the system resolver
        QTest::addColumn<int>("siteHits");         // requests the loopback site answers on the way

        QTest::newRow("loopback literal") << "http://127.0.0.1:PORT/titled" << false << QStringList() << 0;
        QTest::newRow("localhost") << "http://localhost:PORT/titled" << false << QStringList() << 0;
        QTest::newRow("v4-mapped loopback literal") << "http://[::ffff:127.0.0.1]:PORT/titled" << false
                                                    << QStringList() << 0;
        QTest::newRow("decimal loopback literal") << "http://2130706433:PORT/titled" << false << QStringList() << 0;
        QTest::newRow("name resolving to loopback") << "http://pages.example:PORT/titled" << false
                                                    << QStringList{"127.0.0.1"} << 0;
        QTest::newRow("name resolving to public and private") << "http://pages.example:PORT/titled" << true
                                                              << QStringList{"93.184.216.34", "10.0.0.7"} << 0;
        QTest::newRow("name resolving to metadata service") << "http://pages.example:PORT/titled" << true
                                                            << QStringList{"169.254.169.254"} << 0;
        QTest::newRow("redirect to private") << "http://127.0.0.1:PORT/redirect?to=http://10.1.2.3:PORT/titled"
                                             << true << QStringList() << 1;
        QTest::newRow("redirect to v6 link-local") << "http://127.0.0.1:PORT/redirect?to=http://[fe80::1]:PORT/"
                                                   << true << QStringList() << 1;
        QTest::newRow("redirect to v6 unique local")
            << "http://127.0.0.1:PORT/redirect?to=http://[fd00::5]:PORT/" << true << QStringList() << 1;
    }

    void refusesNonPublicTargets()
    {
        QFETCH(QString, url);
        QFETCH(bool, allowLoopback);
        QFETCH(QStringList, resolved);
        QFETCH(int, siteHits);
        LoopbackSite site;
        EnrichmentWorker::FetchOptions options;
        options.allowLoopback = allowLoopback;
        if (!resolved.isEmpty()) {
            options.resolve = [resolved](const QString &host) {
                QList<QHostAddress> out;
                if (host == u"pages.example") {
                    for (const QString &a : resolved)
                        out << QHostAddress(a);
                } else {
                    out << QHostAddress(host);
                }
                return out;
            };
        }
        const QString target = QString(url).replace(QLatin1String("PORT"), QString::number(site.port()));
        const auto result = EnrichmentWorker::fetchPage(QUrl(target), options);
        QVERIFY(!result.ok);
        QVERIFY2(result.failure.startsWith(QLatin1String("not a public address")), qPrintable(result.failure));
        QCOMPARE(site.hits(), siteHits);
    }

    // The host is looked up once per step, and the connection goes to the address that was checked: the names
    // below exist only in the test's resolver, so any second lookup by the system would fail.
    void connectsToTheCheckedAddress_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("lookups");
        QTest::newRow("one step") << "/titled" << 1;
        QTest::newRow("two redirects, each checked") << "/hop/2" << 3;
    }

    void connectsToTheCheckedAddress()
    {
        QFETCH(QString, path);
        QFETCH(int, lookups);
        LoopbackSite site;
        auto calls = std::make_shared<std::atomic<int>>(0);
        EnrichmentWorker::FetchOptions options = loopbackAllowed();
        options.resolve = [calls](const QString &host) {
            ++*calls;
            return host == u"pages.invalid" ? QList<QHostAddress>{QHostAddress(QHostAddress::LocalHost)}
                                            : QList<QHostAddress>();
        };
        const auto result = EnrichmentWorker::fetchPage(
            QUrl(QStringLiteral("http://pages.invalid:%1%2").arg(site.port()).arg(path)), options);
        QVERIFY2(result.ok, qPrintable(result.failure));
        QCOMPARE(result.finalUrl.host(), QStringLiteral("pages.invalid"));
        QCOMPARE(EnrichmentWorker::extractPageInfo(result.body, result.finalUrl).title,
                 QString::fromUtf8("Plain & Simple \u2014 Site"));
        QCOMPARE(calls->load(), lookups);
    }

    // A redirect to a name that now answers with a private address is refused, even though the first step's
    // lookup of the same name was public.
    void rebindingBetweenRedirectsIsRefused()
    {
        LoopbackSite site;
        auto calls = std::make_shared<std::atomic<int>>(0);
        EnrichmentWorker::FetchOptions options = loopbackAllowed();
        options.resolve = [calls](const QString &) {
            return ++*calls == 1 ? QList<QHostAddress>{QHostAddress(QHostAddress::LocalHost)}
                                 : QList<QHostAddress>{QHostAddress(QStringLiteral("192.168.0.10"))};
        };
        const auto result = EnrichmentWorker::fetchPage(
            QUrl(QStringLiteral("http://pages.invalid:%1/hop/1").arg(site.port())), options);
        QVERIFY(!result.ok);
        QVERIFY2(result.failure.contains(QLatin1String("192.168.0.10")), qPrintable(result.failure));
        QCOMPARE(site.hits(), 1);
    }
};

QTEST_GUILESS_MAIN(EnrichmentPageTest)
#include "EnrichmentPageTest.moc"
