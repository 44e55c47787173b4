#include "platform/linux/LinuxBrowsers.h"
#include "platform/macos/BrowserScripts.h"

#include <QTest>

using namespace oxle;

// The browsers each platform recognises and the pages not worth saving. Firefox and Chromium are also driven for
// real by AtspiFrontTabBrowserTest; these rows cover the browsers that cannot run here.
class BrowserTablesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void macScripts_data()
    {
        QTest::addColumn<QString>("bundleID");
        QTest::addColumn<QString>("application"); // how the script names it; empty: no script
        QTest::newRow("Safari, by identifier") << "com.apple.Safari" << "id \"com.apple.Safari\"";
        QTest::newRow("Safari Technology Preview") << "com.apple.SafariTechnologyPreview"
                                                   << "id \"com.apple.SafariTechnologyPreview\"";
        QTest::newRow("Chrome") << "com.google.Chrome" << "\"Google Chrome\"";
        QTest::newRow("Chrome Canary") << "com.google.Chrome.canary" << "\"Google Chrome Canary\"";
        QTest::newRow("Brave") << "com.brave.Browser" << "\"Brave Browser\"";
        QTest::newRow("Edge") << "com.microsoft.edgemac" << "\"Microsoft Edge\"";
        QTest::newRow("Vivaldi") << "com.vivaldi.Vivaldi" << "\"Vivaldi\"";
        QTest::newRow("Arc") << "company.thebrowser.Browser" << "\"Arc\"";
        QTest::newRow("identifiers compare with case") << "com.apple.safari" << "";
        QTest::newRow("unsupported") << "org.mozilla.firefox" << "";
        QTest::newRow("empty") << "" << "";
    }
    void macScripts()
    {
        QFETCH(QString, bundleID);
        QFETCH(QString, application);
        const std::optional<QString> script = BrowserScripts::scriptSource(bundleID);
        QCOMPARE(script.has_value(), !application.isEmpty());
        if (!script)
            return;
        QVERIFY2(script->startsWith("tell application " + application + " to return "), qPrintable(*script));
        // The answer is the address, a line feed, the title: the caller splits it there, so the source carries
        // backslash-n, never a line break of its own.
        const bool safari = bundleID.startsWith(QLatin1String("com.apple."));
        const QString tab = safari ? QStringLiteral("current tab") : QStringLiteral("active tab");
        QCOMPARE(script->section(" to return ", 1),
                 QStringLiteral("(URL of %1 of front window) & \"\\n\" & (%2 of %1 of front window)")
                     .arg(tab, safari ? QStringLiteral("name") : QStringLiteral("title")));
    }

    void linuxBrowsers_data()
    {
        QTest::addColumn<QString>("windowClass");
        QTest::addColumn<QString>("browser"); // empty: not supported
        QTest::addColumn<QString>("firstUrlAttribute");
        QTest::newRow("Firefox ESR") << "firefox-esr" << "Firefox ESR" << "DocURL";
        QTest::newRow("Firefox") << "firefox" << "Firefox" << "DocURL";
        QTest::newRow("Chromium") << "Chromium" << "Chromium" << "URI";
        QTest::newRow("Chrome") << "Google-chrome" << "Google Chrome" << "URI";
        QTest::newRow("Brave") << "Brave-browser" << "Brave" << "URI";
        QTest::newRow("Edge") << "Microsoft-edge" << "Microsoft Edge" << "URI";
        QTest::newRow("Vivaldi") << "Vivaldi-stable" << "Vivaldi" << "URI";
        // Firefox's instance name; the class decides.
        QTest::newRow("instance name is not a class") << "Navigator" << "" << "";
        QTest::newRow("terminal") << "XTerm" << "" << "";
        QTest::newRow("empty") << "" << "" << "";
    }
    void linuxBrowsers()
    {
        QFETCH(QString, windowClass);
        QFETCH(QString, browser);
        QFETCH(QString, firstUrlAttribute);
        const LinuxBrowser *found = LinuxBrowsers::forWindowClass(windowClass);
        QCOMPARE(found ? found->name : QString(), browser);
        if (!found)
            return;
        QCOMPARE(found->urlAttributes().constFirst(), firstUrlAttribute);
        // The accessibility tree names the application as the browser is called, and with case.
        QCOMPARE(LinuxBrowsers::forAccessibilityName(browser), found);
        QVERIFY(!LinuxBrowsers::forAccessibilityName(browser.toLower()));
    }

    void newTabPages_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("newTab");
        QTest::newRow("Firefox new tab") << "about:newtab" << true;
        QTest::newRow("Firefox home") << "about:home" << true;
        QTest::newRow("blank") << "about:blank" << true;
        QTest::newRow("Chromium new tab page") << "chrome://new-tab-page/" << true;
        QTest::newRow("Chromium third-party new tab") << "chrome://new-tab-page-third-party/" << true;
        QTest::newRow("Chromium newtab") << "chrome://newtab/" << true;
        QTest::newRow("Edge") << "edge://newtab/" << true;
        QTest::newRow("Vivaldi start page") << "vivaldi://startpage/" << true;
        QTest::newRow("a browser settings page is a page") << "chrome://settings/" << false;
        QTest::newRow("Firefox preferences") << "about:preferences" << false;
        QTest::newRow("a web page named newtab") << "https://example.com/newtab" << false;
        QTest::newRow("a host named newtab") << "https://newtab/" << false;
    }
    void newTabPages()
    {
        QFETCH(QString, url);
        QFETCH(bool, newTab);
        QCOMPARE(LinuxBrowsers::isNewTabPage(url), newTab);
    }
};

QTEST_GUILESS_MAIN(BrowserTablesTest)
#include "BrowserTablesTest.moc"
