// How long the tray instance takes from process start until its tray icon is registered and its event loop
// answers, and how much memory it holds when idle, beside a bare Qt process that shows a tray icon with a
// five-entry menu. Runs inside a private session bus with an X server (scripts/lib/session-services), where
// this program itself plays the desktop's status-notifier watcher:
//
//   dbus-run-session -- scripts/lib/session-services build/bench/tray/bench_tray [--runs N]
//
// oxle-tray runs signed out against a recording server that answers every request with an empty list, with
// throw-away configuration and data folders.

#include "support/RecordingServer.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <optional>

#include <unistd.h>

using oxle::test::CannedResponse;
using oxle::test::RecordingServer;

namespace {

constexpr int runTimeoutMs = 20'000;

// Just enough of the status-notifier watcher for Qt to show its icon through it.
class Watcher : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)

public:
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const { return m_items; }

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString &service)
    {
        m_items.append(service);
        Q_EMIT itemRegistered(message().service(), service.startsWith(QLatin1Char('/')) ? service
                                                                                       : QStringLiteral("/StatusNotifierItem"));
    }
    void RegisterStatusNotifierHost(const QString &) {}

Q_SIGNALS:
    void itemRegistered(const QString &sender, const QString &path);
    void StatusNotifierItemRegistered(const QString &service);
    void StatusNotifierHostRegistered();

private:
    QStringList m_items;
};

struct Run
{
    double shownMs = 0;    // process start to the icon's registration
    double answersMs = 0;  // process start to the first answer of the icon's own D-Bus object
    double cpuMs = 0;      // processor time of the start and the idle seconds after it, all threads
    double idleMiB = 0;    // proportional set size after the launch settled
};

// User and system time of the whole process in milliseconds (threads that already ended included), at the
// kernel's tick resolution.
double processorMs(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    // The command name may hold spaces: the fields are counted from the last ')'.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    const double ticks = fields[11].toDouble() + fields[12].toDouble(); // utime, stime
    return ticks * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

double proportionalMiB(qint64 pid)
{
    QFile rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (!rollup.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : rollup.readAll().split('\n')) {
        if (line.startsWith("Pss:"))
            return line.mid(4).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return 0;
}

std::optional<Run> measure(Watcher &watcher, const QString &program, const QProcessEnvironment &env)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QEventLoop loop;
    QElapsedTimer timer;
    Run run;
    bool answered = false;
    QMetaObject::Connection registered =
        QObject::connect(&watcher, &Watcher::itemRegistered, &loop, [&](const QString &sender, const QString &path) {
            run.shownMs = double(timer.nsecsElapsed()) / 1e6;
            QDBusMessage get = QDBusMessage::createMethodCall(sender, path, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                              QStringLiteral("Get"));
            get << QStringLiteral("org.kde.StatusNotifierItem") << QStringLiteral("Id");
            auto *call = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(get), &loop);
            QObject::connect(call, &QDBusPendingCallWatcher::finished, &loop, [&](QDBusPendingCallWatcher *self) {
                run.answersMs = double(timer.nsecsElapsed()) / 1e6;
                answered = !self->isError();
                self->deleteLater();
                loop.quit();
            });
        });
    QTimer::singleShot(runTimeoutMs, &loop, &QEventLoop::quit);
    timer.start();
    process.start(program, {});
    loop.exec();
    QObject::disconnect(registered);
    if (answered) {
        // Let the launch tasks finish and the allocator settle before reading the memory.
        QEventLoop settle;
        QTimer::singleShot(3000, &settle, &QEventLoop::quit);
        settle.exec();
        run.idleMiB = proportionalMiB(process.processId());
        run.cpuMs = processorMs(process.processId());
    }
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(2000);
    }
    if (!answered)
        return std::nullopt;
    return run;
}

double mean(const QList<double> &values)
{
    return std::accumulate(values.begin(), values.end(), 0.0) / double(values.size());
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    int runs = 10;
    const QStringList args = QCoreApplication::arguments().mid(1);
    for (qsizetype i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1StringView("--runs"))
            runs = std::max(1, args[i + 1].toInt());
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY") || qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        std::fprintf(stderr, "bench_tray: needs an X server and a private session bus (see the file's comment)\n");
        return 1;
    }
    Watcher watcher;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties
                                | QDBusConnection::ExportAllSignals)
        || !bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"))) {
        std::fprintf(stderr, "bench_tray: another status-notifier watcher runs on this bus\n");
        return 1;
    }

    RecordingServer server;
    server.setHandler([](const oxle::test::RecordedRequest &) { return CannedResponse::json(200, "[]"); });
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("OXLE_BACKEND_URL"), server.baseUrl());
    env.insert(QStringLiteral("OXLE_ANON_KEY"), QStringLiteral("bench-anon"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral("cache")));

    struct Subject
    {
        const char *label;
        QString program;
    };
    const QList<Subject> subjects{
        {"bare Qt tray icon, five entries", QStringLiteral(OXLE_BARE_TRAY_BINARY)},
        {"oxle-tray (signed out)", QStringLiteral(OXLE_TRAY_BINARY)},
    };
    std::printf("Start until the tray icon is registered / its object answers, idle memory (PSS) and processor\n"
                "time (mean) after 3 s; median of %d rounds, the programs taking turns, after one warm-up run each\n",
                runs);
    QList<QList<double>> shown(subjects.size()), answers(subjects.size()), cpu(subjects.size()),
        memory(subjects.size());
    for (const Subject &subject : subjects)
        measure(watcher, subject.program, env);
    // Turn by turn, so that a load that comes and goes on the machine weighs on both alike.
    for (int i = 0; i < runs; ++i) {
        for (qsizetype s = 0; s < subjects.size(); ++s) {
            if (const auto run = measure(watcher, subjects[s].program, env)) {
                shown[s].append(run->shownMs);
                answers[s].append(run->answersMs);
                cpu[s].append(run->cpuMs);
                memory[s].append(run->idleMiB);
            }
        }
    }
    std::optional<Run> bare;
    for (qsizetype s = 0; s < subjects.size(); ++s) {
        if (shown[s].isEmpty()) {
            std::printf("  %-34s failed\n", subjects[s].label);
            continue;
        }
        // Processor time comes in clock ticks: its mean, unlike a median, sees differences below one tick.
        const Run m{median(shown[s]), median(answers[s]), mean(cpu[s]), median(memory[s])};
        std::printf("  %-34s shown %7.1f ms   answers %7.1f ms   cpu %6.1f ms   idle %6.1f MiB", subjects[s].label,
                    m.shownMs, m.answersMs, m.cpuMs, m.idleMiB);
        if (bare)
            std::printf("   x%.2f start, x%.2f cpu, x%.2f memory", m.answersMs / bare->answersMs,
                        bare->cpuMs > 0 ? m.cpuMs / bare->cpuMs : 0.0, m.idleMiB / bare->idleMiB);
        else
            bare = m;
        std::printf("\n");
    }
    return 0;
}

#include "main.moc"
