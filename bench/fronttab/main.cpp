// The front-tab reader and `oxle --save-tab` with a real browser in front.
//
//   bench_fronttab [chromium|firefox-esr] [rounds]
//       Times `rounds` (default 50) readings of the front tab: the first one (a browser that was never asked)
//       and the median, 90th percentile and maximum of the rest.
//
//   bench_fronttab --save-tab [chromium|firefox-esr] [rounds]
//       End to end: signs oxle in (the local sign-in page, as scripts/run does), starts the running instance
//       (oxle-tray of the same build), and for each of `rounds` (default 10) rounds after one warm-up round
//       moves the browser's tab to a new address, waits until the reader shows it in front, then runs
//       `oxle --save-tab` and polls the backend's REST API (items?url=eq.ADDRESS, as the signed-in user)
//       until that row is there. Prints the median and maximum of the time from starting the command to the
//       row being visible, and of the command's own run time (start to exit; the instance answers after the
//       save and the search index refresh). The look-ups follow each other 2 ms apart, so "row visible" is
//       late by up to one look-up (a few ms). Each round's figures go to standard error; the instance's log
//       to $TMPDIR/bench_fronttab-oxle-tray.log.
//       Needs OXLE_BACKEND_URL and OXLE_ANON_KEY of a local backend; the account is OXLE_DEMO_EMAIL
//       (default demo@oxle.test). Items saved by earlier runs stay: every run uses new addresses.
//
// Both need an X display and a session bus; the second also an unlocked Secret Service. From the repository,
// with a private backend:
//
//   export OXLE_BACKEND_STATE=/var/tmp/oxle-bench-state OXLE_BACKEND_PORT=54361
//   scripts/backend start && eval "$(scripts/backend env)" && export OXLE_BACKEND_URL OXLE_ANON_KEY
//   dbus-run-session -- scripts/lib/session-services build/bench/fronttab/bench_fronttab --save-tab chromium 10
//   scripts/backend stop
//
// The bench turns the desktop's accessibility interface on, starts openbox when no window manager runs, and
// starts the browser with a private profile on a page of its own loopback server. The pages ask the server
// where to go next (a request the server holds until the bench names the next address), so a round's new
// address is shown in the same tab without any key presses.

#include "platform/linux/AtspiFrontTab.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <QUrlQuery>
#include <algorithm>
#include <cmath>
#include <csignal>
#include <optional>
#include <unistd.h>
#include <vector>

using namespace oxle;

namespace {

QTextStream out(stdout);
QTextStream err(stderr);

QCoro::Task<void> readInto(AtspiFrontTab *reader, std::optional<BrowserTab> *answer, QEventLoop *loop)
{
    *answer = co_await reader->current();
    loop->quit();
}

std::optional<BrowserTab> readOnce(AtspiFrontTab *reader)
{
    std::optional<BrowserTab> answer;
    QEventLoop loop;
    auto task = readInto(reader, &answer, &loop);
    if (!task.isReady())
        loop.exec();
    return answer;
}

// Waits without blocking the event loop (the page server keeps answering).
void pause(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool runs(const QString &program, const QStringList &args)
{
    QProcess probe;
    probe.start(program, args);
    probe.waitForFinished(5000);
    return probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
}

bool desktopRuns()
{
    return runs(QStringLiteral("xdotool"), { QStringLiteral("get_desktop") });
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(std::lround(p * double(values.size() - 1))))];
}

QString ms(double value)
{
    return QString::number(value, 'f', 1) + QStringLiteral(" ms");
}

double elapsedMs(const QElapsedTimer &clock)
{
    return double(clock.nsecsElapsed()) / 1e6;
}

// The bench's pages on loopback. "/bench" is a plain page; "/page/NAME" is titled "Bench page NAME" and asks
// "/next" for the address to go to, a request that stays open until goTo() names one.
class PageServer
{
public:
    bool listen()
    {
        if (!m_server.listen(QHostAddress::LocalHost))
            return false;
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { read(socket); });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
        return true;
    }

    QString url(const QString &path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path);
    }

    // The page that is shown now (or the next one to load) goes to `url`.
    void goTo(const QString &url)
    {
        if (m_waiting && m_waiting->state() == QAbstractSocket::ConnectedState) {
            reply(m_waiting, "text/plain", url.toUtf8());
            m_waiting = nullptr;
        } else {
            m_next = url;
        }
    }

private:
    void read(QTcpSocket *socket)
    {
        QByteArray buffer = socket->property("request").toByteArray() + socket->readAll();
        for (qsizetype end = buffer.indexOf("\r\n\r\n"); end >= 0; end = buffer.indexOf("\r\n\r\n")) {
            const QByteArray head = buffer.left(end);
            buffer.remove(0, end + 4);
            const QList<QByteArray> words = head.left(head.indexOf("\r\n")).split(' ');
            if (words.size() >= 2)
                answer(socket, words[1]);
        }
        socket->setProperty("request", buffer);
    }

    void answer(QTcpSocket *socket, const QByteArray &path)
    {
        if (path == "/bench") {
            reply(socket, "text/html", "<!DOCTYPE html><title>Bench page</title><p>bench</p>");
        } else if (path.startsWith("/page/")) {
            const QByteArray name = path.mid(6);
            reply(socket, "text/html",
                "<!DOCTYPE html><meta charset=\"utf-8\"><title>Bench page " + name + "</title><p>bench " + name
                    + "</p><script>fetch('/next', {cache: 'no-store'}).then(r => r.text())"
                      ".then(u => { if (u) location.href = u; });</script>");
        } else if (path == "/next") {
            if (m_next.isEmpty()) {
                m_waiting = socket;
            } else {
                reply(socket, "text/plain", m_next.toUtf8());
                m_next.clear();
            }
        } else {
            reply(socket, "text/plain", {}, "404 Not Found");
        }
    }

    static void reply(QTcpSocket *socket, const QByteArray &type, const QByteArray &body,
        const QByteArray &status = "200 OK")
    {
        socket->write("HTTP/1.1 " + status + "\r\nContent-Type: " + type
            + "; charset=utf-8\r\nCache-Control: no-store\r\nContent-Length: " + QByteArray::number(body.size())
            + "\r\n\r\n" + body);
    }

    QTcpServer m_server;
    QPointer<QTcpSocket> m_waiting;
    QString m_next;
};

// Reads the front tab until it shows `url` titled `title`; false after `timeoutMs`, with what it showed last
// on standard error. `stray` runs once a second while it does not, to bring the browser back to the front.
bool waitForTab(AtspiFrontTab *reader, const QString &url, const QString &title, int timeoutMs,
    const std::function<void()> &stray)
{
    const QDeadlineTimer deadline(timeoutMs);
    QElapsedTimer sinceNudge;
    sinceNudge.start();
    std::optional<BrowserTab> tab;
    while (!deadline.hasExpired()) {
        tab = readOnce(reader);
        if (tab && tab->title == title && tab->url == url)
            return true;
        if (sinceNudge.elapsed() > 1000) {
            stray();
            sinceNudge.start();
        }
        pause(50);
    }
    err << "bench_fronttab: waiting for " << url << ", the front tab is "
        << (tab ? tab->url + QStringLiteral(" \"") + tab->title + QLatin1Char('"') : QStringLiteral("unknown")) << '\n';
    return false;
}

QNetworkReply *finished(QNetworkReply *reply)
{
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    return reply;
}

// An access token for `email` straight from the local backend's sign-in page, which signs a login hint in
// without asking; the bench's own look-ups use it.
QString accessToken(QNetworkAccessManager *network, const QString &base, const QString &email)
{
    QUrl url(base + QStringLiteral("/auth/v1/authorize"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("provider"), QStringLiteral("google"));
    query.addQueryItem(QStringLiteral("redirect_to"), QStringLiteral("oxle://auth-callback"));
    query.addQueryItem(QStringLiteral("login_hint"), email);
    url.setQuery(query);
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    std::unique_ptr<QNetworkReply> reply(finished(network->get(request)));
    const QUrl location = QUrl::fromEncoded(reply->rawHeader("Location"));
    return QUrlQuery(location.fragment(QUrl::FullyEncoded)).queryItemValue(QStringLiteral("access_token"),
        QUrl::FullyDecoded);
}

struct Round
{
    double rowMs = -1; // from starting the command to the first look-up that finds the row
    double commandMs = -1; // from starting the command to its exit
    int exitCode = -1;
    QString output;
};

// Runs `oxle --save-tab` and looks the row with `url` up until it is there, one look-up after another with
// `pollPauseMs` between them.
Round timeSave(const QString &oxle, QNetworkAccessManager *network, const QString &base, const QString &anonKey,
    const QString &token, const QString &url)
{
    constexpr int pollPauseMs = 2;
    constexpr int timeoutMs = 40'000;
    QNetworkRequest lookUp(QUrl::fromEncoded((base + QStringLiteral("/rest/v1/items?select=id&url=eq.")).toUtf8()
        + QUrl::toPercentEncoding(url)));
    lookUp.setRawHeader("apikey", anonKey.toUtf8());
    lookUp.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    lookUp.setRawHeader("Accept", "application/json");

    Round round;
    QEventLoop loop;
    QProcess command;
    command.setProcessChannelMode(QProcess::MergedChannels);
    bool exited = false;
    QElapsedTimer clock;
    std::function<void()> poll;
    poll = [&] {
        QNetworkReply *reply = network->get(lookUp);
        QObject::connect(reply, &QNetworkReply::finished, &loop, [&, reply] {
            reply->deleteLater();
            const QJsonDocument rows = QJsonDocument::fromJson(reply->readAll());
            if (rows.isArray() && !rows.array().isEmpty()) {
                round.rowMs = elapsedMs(clock);
            } else if (clock.elapsed() < timeoutMs && !(exited && round.exitCode != 0)) {
                QTimer::singleShot(pollPauseMs, &loop, poll);
                return;
            }
            if (exited)
                loop.quit();
        });
    };
    QObject::connect(&command, &QProcess::finished, &loop, [&](int code, QProcess::ExitStatus status) {
        round.commandMs = elapsedMs(clock);
        round.exitCode = status == QProcess::NormalExit ? code : -1;
        exited = true;
        if (round.rowMs >= 0)
            loop.quit();
    });
    QTimer::singleShot(timeoutMs + 5000, &loop, &QEventLoop::quit);
    clock.start();
    command.start(oxle, { QStringLiteral("--save-tab") });
    poll();
    loop.exec();
    if (!exited) {
        command.kill();
        command.waitForFinished(5000);
    }
    round.output = QString::fromLocal8Bit(command.readAll()).trimmed();
    return round;
}

// Signs the oxle of this build in as `email` through the local sign-in page: scripts/lib/demo-browser plays
// the browser and hands the callback back to the waiting `oxle sign-in`.
bool signIn(const QString &oxle, const QString &email)
{
    QProcess signIn;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("OXLE_BROWSER"), QStringLiteral(OXLE_SOURCE_DIR "/scripts/lib/demo-browser"));
    environment.insert(QStringLiteral("OXLE_DEMO_OXLE"), oxle);
    environment.insert(QStringLiteral("OXLE_DEMO_EMAIL"), email);
    signIn.setProcessEnvironment(environment);
    signIn.setProcessChannelMode(QProcess::MergedChannels);
    signIn.start(oxle, { QStringLiteral("sign-in"), QStringLiteral("google") });
    if (!signIn.waitForFinished(60'000)) {
        signIn.kill();
        signIn.waitForFinished(5000);
    }
    const bool ok = signIn.exitStatus() == QProcess::NormalExit && signIn.exitCode() == 0;
    if (!ok)
        err << "bench_fronttab: oxle sign-in failed: " << QString::fromLocal8Bit(signIn.readAll()) << '\n';
    return ok;
}

// Waits until the running instance takes requests on its socket.
bool instanceListens(const QProcess &instance, int timeoutMs)
{
    const QString path
        = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + QStringLiteral("/oxle-instance");
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired() && instance.state() != QProcess::NotRunning) {
        QLocalSocket probe;
        probe.connectToServer(path);
        if (probe.waitForConnected(500))
            return true;
        pause(100);
    }
    return false;
}

struct Browser
{
    QString program;
    QProcess process;
    QTemporaryDir profile;

    void start(const QString &url)
    {
        QStringList args;
        if (program == QLatin1String("chromium")) {
            args << "--no-sandbox"
                 << "--no-first-run"
                 << "--no-default-browser-check"
                 << "--password-store=basic"
                 << "--disable-gpu"
                 << "--user-data-dir=" + profile.path();
        } else {
            QFile prefs(profile.filePath(QStringLiteral("user.js")));
            if (prefs.open(QIODevice::WriteOnly)) {
                prefs.write("user_pref(\"browser.shell.checkDefaultBrowser\", false);\n"
                            "user_pref(\"browser.startup.homepage_override.mstone\", \"ignore\");\n"
                            "user_pref(\"startup.homepage_welcome_url\", \"\");\n"
                            "user_pref(\"browser.aboutwelcome.enabled\", false);\n"
                            "user_pref(\"datareporting.policy.dataSubmissionEnabled\", false);\n"
                            "user_pref(\"toolkit.telemetry.reportingpolicy.firstRun\", false);\n");
            }
            args << "--no-remote"
                 << "--profile" << profile.path();
        }
        process.setStandardErrorFile(QProcess::nullDevice());
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setChildProcessModifier([] { ::setsid(); });
        process.start(program, args << url);
    }

    // Brings the browser's window to the front (the instance or a dialog may have taken it).
    void raise() const
    {
        const QString windowClass = program == QLatin1String("chromium") ? QStringLiteral("chromium") : program;
        runs(QStringLiteral("xdotool"),
            { QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--class"), windowClass,
                QStringLiteral("windowactivate"), QStringLiteral("--sync") });
    }

    void stop()
    {
        if (process.state() != QProcess::NotRunning) {
            ::kill(pid_t(-process.processId()), SIGKILL);
            process.waitForFinished(5000);
        }
    }
};

int benchReader(Browser &browser, AtspiFrontTab &reader, int rounds)
{
    QElapsedTimer clock;
    const QDeadlineTimer deadline(60'000);
    double first = -1;
    while (!deadline.hasExpired()) {
        clock.start();
        const std::optional<BrowserTab> tab = readOnce(&reader);
        if (tab && tab->title == QLatin1String("Bench page")) {
            first = elapsedMs(clock);
            break;
        }
        pause(200);
    }
    if (first < 0) {
        out << "bench_fronttab: " << browser.program << " never answered with its page\n";
        return 1;
    }
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        clock.start();
        readOnce(&reader);
        times.push_back(elapsedMs(clock));
    }
    out << browser.program << ": first answer " << ms(first) << "; " << rounds << " readings: median "
        << ms(percentile(times, 0.5)) << ", p90 " << ms(percentile(times, 0.9)) << ", max "
        << ms(percentile(times, 1.0)) << '\n';
    return 0;
}

int benchSaveTab(Browser &browser, AtspiFrontTab &reader, PageServer &pages, QProcess &instance, int rounds)
{
    const QString base = qEnvironmentVariable("OXLE_BACKEND_URL");
    const QString anonKey = qEnvironmentVariable("OXLE_ANON_KEY");
    const QString email = qEnvironmentVariable("OXLE_DEMO_EMAIL", QStringLiteral("demo@oxle.test"));
    const QString oxle = QStringLiteral(OXLE_PROGRAM);
    if (base.isEmpty() || anonKey.isEmpty()) {
        err << "bench_fronttab: set OXLE_BACKEND_URL and OXLE_ANON_KEY (eval \"$(scripts/backend env)\")\n";
        return 2;
    }
    if (!QFile::exists(oxle) || !QFile::exists(QStringLiteral(OXLE_TRAY_PROGRAM))) {
        err << "bench_fronttab: build oxle and oxle-tray first\n";
        return 2;
    }
    QNetworkAccessManager network;
    const QString token = accessToken(&network, base, email);
    if (token.isEmpty()) {
        err << "bench_fronttab: the backend at " << base << " gave no access token for " << email << '\n';
        return 2;
    }
    if (!signIn(oxle, email))
        return 2;

    instance.setStandardOutputFile(QProcess::nullDevice());
    instance.setStandardErrorFile(QDir::temp().filePath(QStringLiteral("bench_fronttab-oxle-tray.log")));
    instance.start(QStringLiteral(OXLE_TRAY_PROGRAM), QStringList {});
    if (!instanceListens(instance, 30'000)) {
        err << "bench_fronttab: oxle-tray did not start (" << instance.errorString() << ", exit "
            << instance.exitCode() << "; see " << QDir::tempPath() << "/bench_fronttab-oxle-tray.log)\n";
        return 2;
    }

    // Addresses no earlier run saved.
    const QString run = QString::number(QDateTime::currentMSecsSinceEpoch(), 36);
    const auto name = [&run](int i) { return run + QLatin1Char('-') + QString::number(i); };
    browser.start(pages.url(QStringLiteral("/page/") + name(0)));
    if (!waitForTab(&reader, pages.url(QStringLiteral("/page/") + name(0)), QStringLiteral("Bench page ") + name(0),
            60'000, [&browser] { browser.raise(); })) {
        QProcess active;
        active.start(QStringLiteral("xdotool"), { QStringLiteral("getactivewindow"), QStringLiteral("getwindowclassname") });
        active.waitForFinished(5000);
        err << "bench_fronttab: " << browser.program << " never showed its page in front ("
            << (browser.process.state() == QProcess::NotRunning ? "it exited" : "it runs") << "; the active window: "
            << QString::fromLocal8Bit(active.readAll()).trimmed() << ")\n";
        return 1;
    }
    pause(2000); // a browser that has just started is still busy with itself

    std::vector<double> rows;
    std::vector<double> commands;
    Round first;
    int failures = 0;
    err.setRealNumberNotation(QTextStream::FixedNotation);
    err.setRealNumberPrecision(1);
    for (int i = 1; i <= rounds + 1; ++i) {
        const QString url = pages.url(QStringLiteral("/page/") + name(i));
        pages.goTo(url);
        if (!waitForTab(&reader, url, QStringLiteral("Bench page ") + name(i), 20'000, [&browser] { browser.raise(); })) {
            err << "bench_fronttab: round " << i << ": the reader never showed " << url << '\n';
            ++failures;
            continue;
        }
        pause(500); // the page settles; nothing else is going on when the command starts
        const Round round = timeSave(oxle, &network, base, anonKey, token, url);
        err << "round " << i << ": row " << round.rowMs << " ms, command " << round.commandMs << " ms, exit "
            << round.exitCode << '\n';
        err.flush();
        if (round.exitCode != 0 || round.rowMs < 0) {
            err << "bench_fronttab: round " << i << " did not save: " << round.output << '\n';
            ++failures;
            continue;
        }
        if (i == 1) {
            first = round;
        } else {
            rows.push_back(round.rowMs);
            commands.push_back(round.commandMs);
        }
    }
    if (rows.empty()) {
        out << "bench_fronttab: " << browser.program << ": no round saved\n";
        return 1;
    }
    out << browser.program << " --save-tab: first round (warm-up): row visible " << ms(first.rowMs) << ", command "
        << ms(first.commandMs) << "; " << rows.size() << " rounds: row visible median "
        << ms(percentile(rows, 0.5)) << ", max " << ms(percentile(rows, 1.0)) << "; command median "
        << ms(percentile(commands, 0.5)) << ", max " << ms(percentile(commands, 1.0));
    if (failures > 0)
        out << "; " << failures << " rounds failed";
    out << '\n';
    return failures > 0 ? 1 : 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool saveTab = !args.isEmpty() && args.first() == QLatin1String("--save-tab");
    if (saveTab)
        args.removeFirst();
    Browser browser;
    browser.program = args.value(0, QStringLiteral("chromium"));
    const int rounds = args.size() > 1 ? std::max(2, args[1].toInt()) : (saveTab ? 10 : 50);

    PageServer pages;
    if (!pages.listen()) {
        err << "bench_fronttab: no loopback port\n";
        return 2;
    }

    QDBusMessage enable = QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"),
        QStringLiteral("/org/a11y/bus"), QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"));
    enable.setArguments(
        { QStringLiteral("org.a11y.Status"), QStringLiteral("IsEnabled"), QVariant::fromValue(QDBusVariant(true)) });
    QDBusConnection::sessionBus().call(enable, QDBus::Block, 10'000);

    QProcess windowManager;
    if (!desktopRuns()) {
        windowManager.start(QStringLiteral("openbox"), { QStringLiteral("--sm-disable") });
        const QDeadlineTimer deadline(15'000);
        while (!desktopRuns() && !deadline.hasExpired())
            QThread::msleep(100);
    }

    AtspiFrontTab reader;
    QProcess instance;
    int status = 0;
    if (saveTab) {
        status = benchSaveTab(browser, reader, pages, instance, rounds);
    } else {
        browser.start(pages.url(QStringLiteral("/bench")));
        status = benchReader(browser, reader, rounds);
    }
    out.flush();
    err.flush();
    browser.stop();
    if (instance.state() != QProcess::NotRunning) {
        QProcess::execute(QStringLiteral(OXLE_PROGRAM), { QStringLiteral("--quit") });
        if (!instance.waitForFinished(5000))
            instance.kill();
        instance.waitForFinished(5000);
    }
    if (windowManager.state() != QProcess::NotRunning) {
        windowManager.terminate();
        windowManager.waitForFinished(5000);
    }
    return status;
}
