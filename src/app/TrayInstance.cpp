#include "app/TrayInstance.h"

#include "app/AccountStack.h"
#include "app/AppShell.h"
#include "app/CommandLine.h"
#include "app/Logging.h"
#include "app/SingleInstance.h"

#include <QApplication>
#include <QTextStream>
#include <QTimer>

#include <cstring>

namespace oxle {

namespace {

std::optional<InstanceRequest::Kind> startRequest(int argc, char **argv)
{
    if (argc < 2)
        return std::nullopt;
    if (std::strcmp(argv[1], "--show") == 0)
        return InstanceRequest::Kind::Show;
    if (std::strcmp(argv[1], "--settings") == 0)
        return InstanceRequest::Kind::Settings;
    if (std::strcmp(argv[1], "--capture") == 0)
        return InstanceRequest::Kind::Capture;
    return std::nullopt;
}

QCoro::Task<void> forwardStartRequest(int *status, InstanceRequest::Kind kind)
{
    const InstanceRequest request{kind, {}};
    // The winner may still be on its way to listening: give it the time a start takes.
    const auto reply = co_await askStartingInstance(defaultInstanceSocketPath(), request, 10'000, 10'000);
    QTextStream err(stderr);
    if (!reply)
        err << "oxle: another oxle is starting or not answering.\n";
    else if (!reply->error.isEmpty())
        err << reply->error << '\n';
    *status = reply ? reply->exitCode : 2;
    QCoreApplication::exit(*status);
}

// Another instance won the race to the socket: it gets the request this one was started with.
int forwardToRunningInstance(QApplication *app, InstanceRequest::Kind kind)
{
    int status = 2;
    QTimer::singleShot(0, app, [&status, kind] { forwardStartRequest(&status, kind); });
    QApplication::exec();
    return status;
}

} // namespace

int runTrayInstance(int argc, char **argv)
{
    // Without a private runtime folder there is no safe place for the instance's socket: refuse to start.
    if (const RuntimeFolder runtime = instanceRuntimeFolder(); runtime.path.isEmpty()) {
        QTextStream(stderr) << runtime.problem << '\n';
        return 2;
    }

    // Without a display the instance still runs (sign-in callbacks, reminders) with its windows drawn nowhere.
    const bool haveDisplay = !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    if (!haveDisplay) {
        qCWarning(lcApp) << "no display (DISPLAY or WAYLAND_DISPLAY is not set); running without windows";
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // No shared OpenGL context: asking for one loads the whole graphics driver stack at start (tens of MiB,
    // for a process that mostly sits in the tray). The reader's web view, loaded later as a plugin, draws
    // without it.
    QApplication app(argc, argv);
    setApplicationNames();
    QApplication::setApplicationDisplayName(QStringLiteral("oxle"));
    QApplication::setDesktopFileName(QStringLiteral("oxle"));
    QApplication::setQuitOnLastWindowClosed(false);
    const auto request = startRequest(argc, argv);
    // Started by the bus for the desktop's search: no window at start, even without a tray. The programs this
    // one starts (a browser) are not the bus's.
    const bool activatedByBus = startedByBusActivation();
    qunsetenv("DBUS_STARTER_BUS_TYPE");
    qunsetenv("DBUS_STARTER_ADDRESS");

    AccountStack stack;
    if (!stack.server.listen()) {
        if (stack.server.anotherInstanceRuns() && activatedByBus && !request)
            return 0; // the running instance takes the bus name itself
        if (stack.server.anotherInstanceRuns())
            return forwardToRunningInstance(&app, request.value_or(InstanceRequest::Kind::Show));
        QTextStream(stderr) << stack.server.errorString() << '\n';
        return 2;
    }

    AppShell shell(stack);
    QTimer::singleShot(0, &app, [&shell, request, activatedByBus] { shell.launch(request, !activatedByBus); });
    QTextStream(stdout) << "oxle is running.\n";
    return app.exec();
}

} // namespace oxle
