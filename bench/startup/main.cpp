// How long the short-lived savers take from process start to their first backend request, compared with a bare
// Qt process that only starts and exits. The recording server answers "already saved", so each run ends after
// one request.

#include "support/RecordingServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <optional>

using oxle::test::CannedResponse;
using oxle::test::RecordingServer;

namespace {

constexpr int runTimeoutMs = 15'000;

enum class Until { Exit, FirstRequest };

struct Subject
{
    QString label;
    QString program;
    QStringList arguments;
    Until until;
    bool offscreen = false;
};

// One run in milliseconds, or nothing when the process failed to start, crashed or timed out.
std::optional<double> measure(const Subject &subject, RecordingServer &server, const QProcessEnvironment &env)
{
    server.clear();
    QProcessEnvironment runEnv = env;
    if (subject.offscreen)
        runEnv.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess process;
    process.setProcessEnvironment(runEnv);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());

    QEventLoop loop;
    std::optional<double> result;
    QElapsedTimer timer;
    // The server answers from this thread's loop, so the loop keeps turning until the child has exited.
    QObject::connect(&server, &RecordingServer::requestReceived, &loop, [&] {
        if (subject.until == Until::FirstRequest && !result)
            result = double(timer.nsecsElapsed()) / 1e6;
    });
    bool cleanExit = false;
    QObject::connect(&process, &QProcess::finished, &loop, [&](int, QProcess::ExitStatus status) {
        cleanExit = status == QProcess::NormalExit;
        if (subject.until == Until::Exit && cleanExit)
            result = double(timer.nsecsElapsed()) / 1e6;
        loop.quit();
    });
    QObject::connect(&process, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            loop.quit();
    });
    QTimer::singleShot(runTimeoutMs, &loop, &QEventLoop::quit);

    timer.start();
    process.start(subject.program, subject.arguments);
    process.closeWriteChannel();
    loop.exec();

    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(2000);
        return std::nullopt;
    }
    if (!cleanExit)
        return std::nullopt;
    return result;
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
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // partial results survive an interrupted run
    int runs = 20;
    QString oxlePath;
    const QStringList args = app.arguments().mid(1);
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1StringView("--runs") && i + 1 < args.size())
            runs = std::max(1, args[++i].toInt());
        else
            oxlePath = args[i];
    }
    const QString sharePath = QStringLiteral(OXLE_SHARE_BINARY);
    if (oxlePath.isEmpty())
        oxlePath = QFileInfo(sharePath).absoluteDir().filePath(QStringLiteral("../app/oxle"));
    oxlePath = QDir::cleanPath(oxlePath);

    QTemporaryDir config;
    if (!config.isValid() || !QDir().mkpath(config.filePath(QStringLiteral("group.com.oxle.mac")))) {
        std::fprintf(stderr, "bench_startup: cannot create a temporary config folder\n");
        return 1;
    }
    {
        QFile file(config.filePath(QStringLiteral("group.com.oxle.mac/supabase-session")));
        if (!file.open(QIODevice::WriteOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner))
            return 1;
        file.write(QJsonDocument(QJsonObject{{"accessToken", "bench-token"},
                                             {"refreshToken", "bench-refresh"},
                                             {"expiresAt", 4102444800LL},
                                             {"userId", "bench-user"}})
                       .toJson(QJsonDocument::Compact));
    }

    RecordingServer server;
    server.setHandler([](const oxle::test::RecordedRequest &) { return CannedResponse::json(200, "[{\"id\":\"x\"}]"); });

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("OXLE_BACKEND_URL"), server.baseUrl());
    env.insert(QStringLiteral("OXLE_ANON_KEY"), QStringLiteral("bench-anon"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));

    const QString link = QStringLiteral("https://example.com/bench");
    QList<Subject> subjects{
        {QStringLiteral("bare Qt process (start to exit)"), QStringLiteral(OXLE_BARE_QT_BINARY), {}, Until::Exit},
        {QStringLiteral("bare Qt + widget libraries (to exit)"), QStringLiteral(OXLE_BARE_QT_WIDGETS_BINARY), {},
         Until::Exit},
        {QStringLiteral("bare Qt HTTP request (to request)"), QStringLiteral(OXLE_BARE_HTTP_BINARY), {},
         Until::FirstRequest},
        {QStringLiteral("oxle-share URL, headless"), sharePath, {link}, Until::FirstRequest},
        {QStringLiteral("oxle-share URL, window (offscreen)"), sharePath, {link}, Until::FirstRequest, true},
    };
    const bool haveOxle = QFileInfo(oxlePath).isExecutable();
    if (haveOxle)
        subjects.append({QStringLiteral("oxle add URL"), oxlePath, {QStringLiteral("add"), link}, Until::FirstRequest});

    std::printf("Process start to first request, median of %d runs (one warm-up run each)\n", runs);
    std::optional<double> baseline;
    std::optional<double> httpBaseline;
    for (const Subject &subject : subjects) {
        measure(subject, server, env); // warm-up: page cache, dynamic loader
        QList<double> times;
        int failures = 0;
        for (int i = 0; i < runs; ++i) {
            if (const auto ms = measure(subject, server, env))
                times.append(*ms);
            else
                ++failures;
        }
        if (times.isEmpty()) {
            std::printf("  %-40s failed (%d runs)\n", qPrintable(subject.label), failures);
            continue;
        }
        const double m = median(times);
        if (!baseline)
            baseline = m;
        std::printf("  %-40s %8.1f ms   x%.2f of bare Qt", qPrintable(subject.label), m, m / *baseline);
        if (subject.program == QLatin1StringView(OXLE_BARE_HTTP_BINARY))
            httpBaseline = m;
        else if (httpBaseline && subject.until == Until::FirstRequest)
            std::printf(", x%.2f of the bare HTTP request", m / *httpBaseline);
        if (failures)
            std::printf("   (%d failed runs)", failures);
        std::printf("\n");
    }
    if (!haveOxle)
        std::printf("  %-40s not built (%s)\n", "oxle add URL", qPrintable(oxlePath));
    return 0;
}
