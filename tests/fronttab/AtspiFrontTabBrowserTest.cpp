#include "platform/linux/AtspiFrontTab.h"
#include "support/CoroTest.h"
#include "support/RecordingServer.h"
#include "support/TestWindowManager.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <csignal>
#include <memory>
#include <unistd.h>

using namespace oxle;
using oxle::test::CannedResponse;
using oxle::test::RecordingServer;

namespace {

// Generous: two cores, two browsers, and sanitizer builds.
constexpr int settleMs = 45'000;

struct BrowserKind
{
    QString program;
    QString windowClass; // what xdotool searches
};

QString runTool(const QString &program, const QStringList &args, int *exitCode = nullptr)
{
    QProcess process;
    process.start(program, args);
    process.waitForFinished(10'000);
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

QString activeWindow()
{
    return runTool(QStringLiteral("xdotool"), { QStringLiteral("getactivewindow") });
}

QString activeTitle()
{
    return runTool(QStringLiteral("xdotool"), { QStringLiteral("getactivewindow"), QStringLiteral("getwindowname") });
}

QString activePid()
{
    return runTool(QStringLiteral("xdotool"), { QStringLiteral("getactivewindow"), QStringLiteral("getwindowpid") });
}

void activate(const QString &window)
{
    runTool(QStringLiteral("xdotool"), { QStringLiteral("windowactivate"), QStringLiteral("--sync"), window });
}

void setAccessibility(bool on)
{
    QDBusMessage message = QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"),
        QStringLiteral("/org/a11y/bus"), QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"));
    message.setArguments(
        { QStringLiteral("org.a11y.Status"), QStringLiteral("IsEnabled"), QVariant::fromValue(QDBusVariant(on)) });
    QDBusConnection::sessionBus().call(message, QDBus::Block, 10'000);
}

} // namespace

// The reader against real browsers on an X server with a window manager, a private session bus and the
// accessibility bus. Pages come from a loopback server; each browser shows two tabs and later a second window.
class AtspiFrontTabBrowserTest : public QObject
{
    Q_OBJECT

private:
    RecordingServer *m_server = nullptr;
    std::unique_ptr<AtspiFrontTab> m_reader;
    oxle::test::TestWindowManager m_windowManager;
    // Browsers of the current test, each the leader of its own process group.
    std::vector<std::unique_ptr<QProcess>> m_browsers;
    std::vector<std::unique_ptr<QTemporaryDir>> m_profiles;

    QString page(const QString &name) const { return m_server->baseUrl() + QLatin1Char('/') + name; }

    QString readTab()
    {
        const std::optional<BrowserTab> tab = oxle::test::run(m_reader->current());
        return tab ? tab->url + QStringLiteral(" | ") + tab->title : QStringLiteral("(nothing)");
    }

    QString expected(const QString &name, const QString &title) const
    {
        return page(name) + QStringLiteral(" | ") + title;
    }

    static QStringList argumentsFor(
        const QString &program, const QString &profile, const QStringList &urls, bool newWindow)
    {
        QStringList args;
        if (program == QLatin1String("chromium")) {
            args << "--no-sandbox"
                 << "--no-first-run"
                 << "--no-default-browser-check"
                 << "--password-store=basic"
                 << "--disable-gpu"
                 << "--disable-dev-shm-usage"
                 << "--disable-background-networking"
                 << "--disable-component-update"
                 << "--disable-sync"
                 << "--user-data-dir=" + profile;
        } else {
            args << "--profile" << profile;
        }
        if (newWindow)
            args << "--new-window";
        return args + urls;
    }

    static void writeFirefoxPreferences(const QString &profile)
    {
        QFile prefs(profile + QStringLiteral("/user.js"));
        QVERIFY(prefs.open(QIODevice::WriteOnly));
        prefs.write(R"(user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("startup.homepage_welcome_url", "");
user_pref("startup.homepage_welcome_url.additional", "");
user_pref("browser.aboutwelcome.enabled", false);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("datareporting.policy.firstRunURL", "");
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
user_pref("browser.sessionstore.resume_from_crash", false);
user_pref("browser.tabs.warnOnClose", false);
user_pref("app.update.disabledForTesting", true);
)");
    }

    // Starts a browser in a process group of its own (so that cleanup reaches its helper processes).
    QProcess *startBrowser(
        const QString &program, const QString &profile, const QStringList &urls, bool newWindow = false)
    {
        auto process = std::make_unique<QProcess>();
        process->setProgram(program);
        process->setArguments(argumentsFor(program, profile, urls, newWindow));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // Whether the browser shows itself must follow the desktop setting, not our environment.
        for (const char *name : { "GNOME_ACCESSIBILITY", "ACCESSIBILITY_ENABLED", "QT_QPA_PLATFORM", "NO_AT_BRIDGE" })
            environment.remove(QString::fromLatin1(name));
        process->setProcessEnvironment(environment);
        process->setStandardOutputFile(QProcess::nullDevice());
        process->setStandardErrorFile(QProcess::nullDevice());
        process->setChildProcessModifier([] { ::setsid(); });
        process->start();
        m_browsers.push_back(std::move(process));
        return m_browsers.back().get();
    }

    QString newProfile(const QString &program)
    {
        m_profiles.push_back(std::make_unique<QTemporaryDir>());
        const QString path = m_profiles.back()->path();
        if (program != QLatin1String("chromium"))
            writeFirefoxPreferences(path);
        return path;
    }

    void stopBrowsers()
    {
        for (const auto &process : m_browsers) {
            const qint64 pid = process->processId();
            if (pid > 0) {
                ::kill(pid_t(-pid), SIGCONT);
                ::kill(pid_t(-pid), SIGKILL);
            }
            process->waitForFinished(10'000);
        }
        // Helper processes leave with their group; wait until none is left, so that the next browser starts clean.
        QDeadlineTimer deadline(10'000);
        for (const auto &process : m_browsers) {
            while (process->processId() > 0 && ::kill(pid_t(-process->processId()), 0) == 0 && !deadline.hasExpired())
                QTest::qWait(50);
        }
        m_browsers.clear();
        m_profiles.clear();
    }

    // Waits until the active window belongs to `windowClass` and its title starts with one of the titles.
    QString waitForFront(const QStringList &titles)
    {
        QString title;
        QDeadlineTimer deadline(settleMs);
        while (!deadline.hasExpired()) {
            title = activeTitle();
            for (const QString &candidate : titles) {
                if (title.startsWith(candidate))
                    return candidate;
            }
            QTest::qWait(100);
        }
        return QString();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QString missing;
        if (qEnvironmentVariableIsEmpty("DISPLAY") || qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            missing = QStringLiteral("an X display and a session bus (run under scripts/test)");
        for (const char *tool : { "chromium", "firefox-esr", "openbox", "xdotool" }) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                missing += QStringLiteral(" ") + QString::fromLatin1(tool);
        }
        if (!missing.isEmpty()) {
            const QString error
                = QStringLiteral("missing:") + missing + QStringLiteral(" (scripts/setup installs them)");
            if (qEnvironmentVariableIntValue("OXLE_REQUIRE_SERVICES"))
                QFAIL(qPrintable(error));
            QSKIP(qPrintable(error));
        }

        m_server = new RecordingServer(this);
        m_server->setHandler([](const test::RecordedRequest &request) {
            const QList<std::pair<QByteArray, QByteArray>> html { { "Content-Type", "text/html; charset=utf-8" } };
            const auto pageWith = [&](const QByteArray &title, const QByteArray &body) {
                return CannedResponse { 200,
                    "<!DOCTYPE html><html><head><title>" + title + "</title></head><body>" + body + "</body></html>",
                    html, false, 0 };
            };
            if (request.path == QLatin1String("/alpha")) // a frame inside: a second document that is not the tab
                return pageWith("Alpha page", "<h1>Alpha</h1><iframe src=\"/inner\"></iframe>");
            if (request.path == QLatin1String("/inner"))
                return pageWith("Inner frame", "<p>inside</p>");
            if (request.path == QLatin1String("/beta"))
                return pageWith("Beta page", "<h1>Beta</h1>");
            if (request.path == QLatin1String("/gamma"))
                return pageWith("Gamma page", "<h1>Gamma</h1>");
            return CannedResponse::empty(404);
        });

        // The accessibility bus starts on demand; the browsers expose themselves when it is on at their start.
        setAccessibility(true);

        // Without a window manager nothing is "active". One that runs already keeps the display.
        QVERIFY2(m_windowManager.start(), "no window manager came up");

        m_reader = std::make_unique<AtspiFrontTab>();
    }

    void cleanup()
    {
        stopBrowsers();
        setAccessibility(true);
    }

    void cleanupTestCase()
    {
        stopBrowsers();
        m_reader.reset();
        m_windowManager.stop();
    }

    void readsTheShownTab_data()
    {
        QTest::addColumn<QString>("program");
        QTest::newRow("Chromium") << "chromium";
        QTest::newRow("Firefox ESR") << "firefox-esr";
    }
    void readsTheShownTab()
    {
        QFETCH(QString, program);
        const QString profile = newProfile(program);
        QProcess *browser = startBrowser(program, profile, { page("alpha"), page("beta") });

        // Whichever tab the browser shows first; the other one is in the background.
        const QString first = waitForFront({ "Alpha page", "Beta page" });
        QVERIFY2(!first.isEmpty(), qPrintable("the browser did not come to the front: " + activeTitle()));
        const QString firstWindow = activeWindow();
        const QString second
            = first == QLatin1String("Alpha page") ? QStringLiteral("Beta page") : QStringLiteral("Alpha page");
        const auto expectedFor = [this](const QString &title) {
            return expected(
                title == QLatin1String("Alpha page") ? QStringLiteral("alpha") : QStringLiteral("beta"), title);
        };
        QTRY_COMPARE_WITH_TIMEOUT(readTab(), expectedFor(first), settleMs);

        // A tab switch.
        runTool(QStringLiteral("xdotool"),
            { QStringLiteral("key"), QStringLiteral("--clearmodifiers"), QStringLiteral("ctrl+Next") });
        QVERIFY2(waitForFront({ second }) == second, qPrintable("the tab did not change: " + activeTitle()));
        QTRY_COMPARE_WITH_TIMEOUT(readTab(), expectedFor(second), settleMs);

        // A second window of the same browser, and back and forth between the two.
        QProcess *opener = startBrowser(program, profile, { page("gamma") }, true);
        opener->waitForFinished(30'000);
        QVERIFY2(waitForFront({ "Gamma page" }) == QLatin1String("Gamma page"),
            qPrintable("no second window: " + activeTitle()));
        const QString secondWindow = activeWindow();
        QVERIFY(secondWindow != firstWindow);
        QTRY_COMPARE_WITH_TIMEOUT(readTab(), expected("gamma", "Gamma page"), settleMs);
        activate(firstWindow);
        QTRY_COMPARE_WITH_TIMEOUT(readTab(), expectedFor(second), settleMs);
        activate(secondWindow);
        QTRY_COMPARE_WITH_TIMEOUT(readTab(), expected("gamma", "Gamma page"), settleMs);

        // Something else in front: nothing, and the browser behind it is not asked.
        QWindow other;
        other.setTitle(QStringLiteral("Not a browser"));
        other.resize(200, 120);
        other.show();
        QVERIFY(QTest::qWaitForWindowExposed(&other, 10'000));
        const QString otherId = QString::number(other.winId());
        activate(otherId);
        QTRY_COMPARE_WITH_TIMEOUT(activeWindow(), otherId, 10'000);
        QCOMPARE(readTab(), QStringLiteral("(nothing)"));
        other.hide();

        // A browser that stops answering (stopped process) costs at most the reader's overall limit.
        activate(secondWindow);
        QTRY_COMPARE_WITH_TIMEOUT(readTab(), expected("gamma", "Gamma page"), settleMs);
        const qint64 pid = activePid().toLongLong();
        QVERIFY(pid > 0);
        QCOMPARE(pid, browser->processId());
        QVERIFY(::kill(pid_t(pid), SIGSTOP) == 0);
        auto resume = qScopeGuard([pid] { ::kill(pid_t(pid), SIGCONT); });
        QElapsedTimer clock;
        clock.start();
        const QString hung = readTab();
        const qint64 elapsed = clock.elapsed();
        QCOMPARE(hung, QStringLiteral("(nothing)"));
        QVERIFY2(elapsed < 1800, qPrintable(QStringLiteral("took %1 ms").arg(elapsed)));
        resume.dismiss();
        ::kill(pid_t(pid), SIGCONT);
        QTRY_COMPARE_WITH_TIMEOUT(readTab(), expected("gamma", "Gamma page"), settleMs);
    }

    void accessibilityOffAsksInsteadOfReading_data() { readsTheShownTab_data(); }
    void accessibilityOffAsksInsteadOfReading()
    {
        QFETCH(QString, program);
        setAccessibility(false);
        QSignalSpy needed(m_reader.get(), &AtspiFrontTab::accessibilityNeeded);
        startBrowser(program, newProfile(program), { page("beta") });
        QVERIFY2(waitForFront({ "Beta page" }) == QLatin1String("Beta page"),
            qPrintable("the browser did not come to the front: " + activeTitle()));
        QCOMPARE(readTab(), QStringLiteral("(nothing)"));
        QCOMPARE(needed.size(), 1);
        QCOMPARE(needed.constFirst().constFirst().toString(),
            program == QLatin1String("chromium") ? QStringLiteral("Chromium") : QStringLiteral("Firefox ESR"));
    }
};

QTEST_MAIN(AtspiFrontTabBrowserTest)
#include "AtspiFrontTabBrowserTest.moc"
