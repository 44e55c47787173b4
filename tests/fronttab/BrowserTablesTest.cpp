#include "platform/linux/LinuxBrowsers.h"
#include "platform/macos/BrowserScripts.h"

#include <QTest>

using namespace oxle;

// The two browser tables: the macOS script sources, character for character, and the Linux recognition of
// browsers and of pages that are not worth saving.
class BrowserTablesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void scriptSource_data()
    {
        QTest::addColumn<QString>("bundleID");
        QTest::addColumn<QString>("expected"); // empty: no script

        const QString safari = QStringLiteral("tell application id \"%1\" to return (URL of current tab of front "
                                              "window) & \"\\n\" & (name of current tab of front window)");
        const QString chromium = QStringLiteral("tell application \"%1\" to return (URL of active tab of front "
                                                "window) & \"\\n\" & (title of active tab of front window)");
        QTest::newRow("Safari, by identifier") << "com.apple.Safari" << safari.arg("com.apple.Safari");
        QTest::newRow("Safari Technology Preview")
            << "com.apple.SafariTechnologyPreview" << safari.arg("com.apple.SafariTechnologyPreview");
        QTest::newRow("Chrome") << "com.google.Chrome" << chromium.arg("Google Chrome");
        QTest::newRow("Chrome Canary") << "com.google.Chrome.canary" << chromium.arg("Google Chrome Canary");
        QTest::newRow("Brave") << "com.brave.Browser" << chromium.arg("Brave Browser");
        QTest::newRow("Edge") << "com.microsoft.edgemac" << chromium.arg("Microsoft Edge");
        QTest::newRow("Vivaldi") << "com.vivaldi.Vivaldi" << chromium.arg("Vivaldi");
        QTest::newRow("Arc, fixed") << "company.thebrowser.Browser" << chromium.arg("Arc");
        QTest::newRow("identifiers compare with case") << "com.apple.safari" << QString();
        QTest::newRow("unsupported") << "org.mozilla.firefox" << QString();
        QTest::newRow("empty") << "" << QString();
    }
    void scriptSource()
    {
        QFETCH(QString, bundleID);
        QFETCH(QString, expected);
        QCOMPARE(BrowserScripts::scriptSource(bundleID).value_or(QString()), expected);
        // The script's answer is split at line feeds: the source must carry backslash-n, not a line break.
        QVERIFY(!expected.contains(QLatin1Char('\n')));
    }

    void scriptingName_data()
    {
        QTest::addColumn<QString>("bundleID");
        QTest::addColumn<QString>("expected");
        QTest::newRow("Brave") << "com.brave.Browser"
                               << "Brave Browser";
        QTest::newRow("Canary") << "com.google.Chrome.canary"
                                << "Google Chrome Canary";
        QTest::newRow("Safari is not of the family") << "com.apple.Safari"
                                                     << "Google Chrome";
        QTest::newRow("Arc is not of the family") << "company.thebrowser.Browser"
                                                  << "Google Chrome";
        QTest::newRow("unknown") << "com.example.Browser"
                                 << "Google Chrome";
    }
    void scriptingName()
    {
        QFETCH(QString, bundleID);
        QFETCH(QString, expected);
        QCOMPARE(BrowserScripts::scriptingName(bundleID), expected);
    }

    void linuxWindowClass_data()
    {
        QTest::addColumn<QString>("windowClass");
        QTest::addColumn<QString>("browser"); // empty: not supported
        QTest::addColumn<QString>("firstUrlAttribute");
        QTest::newRow("Firefox ESR") << "firefox-esr"
                                     << "Firefox ESR"
                                     << "DocURL";
        QTest::newRow("Firefox") << "firefox"
                                 << "Firefox"
                                 << "DocURL";
        QTest::newRow("Chromium") << "Chromium"
                                  << "Chromium"
                                  << "URI";
        QTest::newRow("Chrome") << "Google-chrome"
                                << "Google Chrome"
                                << "URI";
        QTest::newRow("Brave") << "Brave-browser"
                               << "Brave"
                               << "URI";
        QTest::newRow("Edge") << "Microsoft-edge"
                              << "Microsoft Edge"
                              << "URI";
        QTest::newRow("Vivaldi") << "Vivaldi-stable"
                                 << "Vivaldi"
                                 << "URI";
        // Firefox's instance name; the class decides.
        QTest::newRow("instance name is not a class") << "Navigator"
                                                      << ""
                                                      << "";
        QTest::newRow("terminal") << "XTerm"
                                  << ""
                                  << "";
        QTest::newRow("empty") << ""
                               << ""
                               << "";
    }
    void linuxWindowClass()
    {
        QFETCH(QString, windowClass);
        QFETCH(QString, browser);
        QFETCH(QString, firstUrlAttribute);
        const LinuxBrowser *found = LinuxBrowsers::forWindowClass(windowClass);
        QCOMPARE(found ? found->name : QString(), browser);
        if (found)
            QCOMPARE(found->urlAttributes().constFirst(), firstUrlAttribute);
    }

    void linuxAccessibilityName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("supported");
        QTest::newRow("Firefox") << "Firefox" << true;
        QTest::newRow("Chromium") << "Chromium" << true;
        QTest::newRow("Google Chrome") << "Google Chrome" << true;
        QTest::newRow("names compare with case") << "chromium" << false;
        QTest::newRow("a text editor") << "gedit" << false;
    }
    void linuxAccessibilityName()
    {
        QFETCH(QString, name);
        QFETCH(bool, supported);
        QCOMPARE(LinuxBrowsers::forAccessibilityName(name) != nullptr, supported);
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
