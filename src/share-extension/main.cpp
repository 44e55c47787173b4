// oxle-share: saves the link handed over by the desktop ("Open With", a file manager, a script) to the
// user's default list, using the session the oxle application mirrored. Every argument is one input item;
// without arguments standard input is read. Prints the outcome and exits 0 when the link is saved (or was
// already), 1 otherwise.

#include "core/BackendConfig.h"
#include "core/SessionStore.h"
#include "share-extension/ShareController.h"
#include "share-extension/ShareViewController.h"

#include <QApplication>
#include <QCoreApplication>
#include <QPointer>

#include <QCoro/QCoroTask>

#include <cstdio>
#include <memory>
#include <optional>

using namespace oxle;

namespace {

bool displayAvailable()
{
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY")
        || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

QCoro::Task<void> share(ShareController *controller, QPointer<ShareViewController> view)
{
    const ShareController::Outcome outcome = co_await controller->process();
    const QString text = ShareController::statusText(outcome);
    const int exitCode = ShareController::succeeded(outcome) ? 0 : 1;
    std::fprintf(stdout, "%s\n", text.toUtf8().constData());
    std::fflush(stdout);
    if (view) {
        QObject::connect(view, &ShareViewController::completed, qApp, [exitCode] { QCoreApplication::exit(exitCode); });
        view->finish(text);
    } else {
        QCoreApplication::exit(exitCode);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    // The items are ours alone: Qt must not read options such as "-platform" out of shared text.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    int qtArgc = 1;
    char *qtArgv[] = {argv[0], nullptr};

    const bool gui = displayAvailable();
    std::unique_ptr<QCoreApplication> app;
    if (gui) {
        // An unreachable display must not abort the save: fall back to no window at all.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ? "xcb;offscreen"
                                                                                     : "wayland;xcb;offscreen");
        auto guiApp = std::make_unique<QApplication>(qtArgc, qtArgv);
        guiApp->setQuitOnLastWindowClosed(false);
        app = std::move(guiApp);
    } else {
        app = std::make_unique<QCoreApplication>(qtArgc, qtArgv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("oxle-share"));

    ShareController::InputSource input;
    if (arguments.isEmpty())
        input = [] { return itemsFromStandardInput(); };
    else
        input = [arguments] { return itemsFromArguments(arguments); };
    ShareController controller(BackendConfig::fromEnvironment(), SessionStore::defaultSharedDir(), std::move(input));

    std::unique_ptr<ShareViewController> view;
    if (gui) {
        view = std::make_unique<ShareViewController>();
        view->show();
    }

    // Started from the running loop, so that an outcome known at once still reaches exit().
    std::optional<QCoro::Task<void>> task;
    QMetaObject::invokeMethod(
        app.get(), [&] { task.emplace(share(&controller, view.get())); }, Qt::QueuedConnection);
    return app->exec();
}
