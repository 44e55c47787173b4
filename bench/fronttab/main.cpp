// Usage: bench_fronttab [chromium|firefox-esr] [rounds]
// Needs an X display and a session bus (for example under `dbus-run-session` with Xvfb). Turns the desktop's
// accessibility interface on, starts openbox when no window manager runs, starts the browser on a local page
// with a private profile, waits until it is in front, and then times `rounds` readings of the front tab:
// the first one (a browser that was never asked) and the median, 90th percentile and maximum of the rest.

#include "platform/linux/AtspiFrontTab.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <csignal>
#include <optional>
#include <unistd.h>
#include <vector>

using namespace oxle;

namespace {

QTextStream out(stdout);

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

bool desktopRuns()
{
    QProcess probe;
    probe.start(QStringLiteral("xdotool"), { QStringLiteral("get_desktop") });
    probe.waitForFinished(5000);
    return probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(std::lround(p * double(values.size() - 1))))];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString program = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("chromium");
    const int rounds = argc > 2 ? std::max(2, atoi(argv[2])) : 50;

    // One page on loopback.
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    QObject::connect(&server, &QTcpServer::newConnection, [&server] {
        while (QTcpSocket *socket = server.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                socket->readAll();
                const QByteArray body = "<!DOCTYPE html><title>Bench page</title><p>bench</p>";
                socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: "
                    + QByteArray::number(body.size()) + "\r\n\r\n" + body);
            });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    const QString url = QStringLiteral("http://127.0.0.1:%1/bench").arg(server.serverPort());

    QDBusMessage enable = QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"),
        QStringLiteral("/org/a11y/bus"), QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"));
    enable.setArguments(
        { QStringLiteral("org.a11y.Status"), QStringLiteral("IsEnabled"), QVariant::fromValue(QDBusVariant(true)) });
    QDBusConnection::sessionBus().call(enable, QDBus::Block, 10'000);

    QProcess windowManager;
    if (!desktopRuns()) {
        windowManager.start(QStringLiteral("openbox"), { QStringLiteral("--sm-disable") });
        QDeadlineTimer deadline(15'000);
        while (!desktopRuns() && !deadline.hasExpired())
            QThread::msleep(100);
    }

    QTemporaryDir profile;
    QStringList args;
    if (program == QLatin1String("chromium"))
        args << "--no-sandbox"
             << "--no-first-run"
             << "--no-default-browser-check"
             << "--password-store=basic"
             << "--disable-gpu"
             << "--user-data-dir=" + profile.path();
    else
        args << "--profile" << profile.path();
    QProcess browser;
    browser.setStandardErrorFile(QProcess::nullDevice());
    browser.setStandardOutputFile(QProcess::nullDevice());
    browser.setChildProcessModifier([] { ::setsid(); });
    browser.start(program, args << url);

    AtspiFrontTab reader;
    QElapsedTimer clock;
    std::optional<BrowserTab> tab;
    QDeadlineTimer deadline(60'000);
    double first = -1;
    while (!deadline.hasExpired()) {
        clock.start();
        tab = readOnce(&reader);
        if (tab && tab->title == QLatin1String("Bench page")) {
            first = double(clock.nsecsElapsed()) / 1e6;
            break;
        }
        QEventLoop pause;
        QTimer::singleShot(200, &pause, &QEventLoop::quit);
        pause.exec();
    }
    if (first < 0) {
        out << "bench_fronttab: " << program << " never answered with its page\n";
    } else {
        std::vector<double> times;
        for (int i = 0; i < rounds; ++i) {
            clock.start();
            tab = readOnce(&reader);
            times.push_back(double(clock.nsecsElapsed()) / 1e6);
        }
        out << program << ": first answer " << QString::number(first, 'f', 1) << " ms; " << rounds
            << " readings: median " << QString::number(percentile(times, 0.5), 'f', 1) << " ms, p90 "
            << QString::number(percentile(times, 0.9), 'f', 1) << " ms, max "
            << QString::number(percentile(times, 1.0), 'f', 1) << " ms\n";
    }
    out.flush();
    ::kill(pid_t(-browser.processId()), SIGKILL);
    browser.waitForFinished(5000);
    if (windowManager.state() != QProcess::NotRunning) {
        windowManager.terminate();
        windowManager.waitForFinished(5000);
    }
    return first < 0 ? 1 : 0;
}
