#include "app/CommandLine.h"

#include "app/AddCommand.h"
#include "app/AppShell.h"
#include "app/CallbackBrowserSignIn.h"
#include "app/InstanceService.h"
#include "app/SaveTabCommand.h"
#include "app/SingleInstance.h"
#include "app/UrlRoute.h"
#include "core/Account.h"
#include "core/AuthService.h"
#include "core/BackendConfig.h"
#include "core/SessionStore.h"
#include "core/Transport.h"
#include "library/AppData.h"
#include "library/LibraryCommands.h"
#include "library/OxleAPI.h"
#include "reminders/ReminderScheduler.h"
#include "reminders/UserDefaults.h"
#include "platform/linux/FreedesktopNotificationCenter.h"
#include "platform/linux/PeerCredentials.h"
#include "platform/linux/SecretServiceKeychain.h"
#include "platform/linux/SystemBrowser.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QNetworkAccessManager>
#include <QTextStream>
#include <QTimer>

#include <csignal>
#include <cstdio>

namespace oxle {

namespace {

constexpr qint64 maxStdinBytes = qint64(1024) * 1024;

const char usageText[] =
    "Usage: oxle [COMMAND]\n"
    "\n"
    "Without a command, oxle starts with its main window and keeps running (one\n"
    "instance per user; when it runs already, its window is shown).\n"
    "\n"
    "Commands:\n"
    "  sign-in google|apple   Sign in through your browser; prints the signed-in e-mail.\n"
    "                         Without a browser, prints the address to open instead.\n"
    "  sign-out               Forget the session on this computer.\n"
    "  add [TEXT...]          Save a link or a note (TEXT, or standard input when none).\n"
    "                         Exit status: 0 saved or already saved, 1 not signed in or\n"
    "                         nothing to save, 2 the save failed.\n"
    "  lists [--json]         Your lists, then the lists shared with you, with item counts.\n"
    "  items LIST_ID|inbox|notes [--json]\n"
    "                         The items of a list, the inbox or the notes, newest first.\n"
    "  search QUERY... [--json]\n"
    "                         Your items matching the words (at most 50).\n"
    "                         Output is tab-separated, one row per line; --json prints JSON.\n"
    "  --show                 Show the main window (starting oxle when it is not running).\n"
    "  --save-tab             Save the page shown in the front browser window (Firefox,\n"
    "                         Chromium, Chrome, Brave, Edge, Vivaldi) to the running oxle.\n"
    "  oxle://...             Hand an oxle address (sign-in callback, invitation) to the\n"
    "                         running instance.\n"
    "  --help, -h             Show this help.\n"
    "  --version              Show the version.\n"
    "\n"
    "Environment: OXLE_BACKEND_URL and OXLE_ANON_KEY choose the backend;\n"
    "OXLE_BROWSER names the command that opens web pages (\"none\" prints the address).\n";

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

int usageError(const QString &message)
{
    err() << "oxle: " << message << "\nTry 'oxle --help'.\n";
    err().flush();
    return 64;
}

void print(const InstanceReply &reply)
{
    if (!reply.output.isEmpty())
        out() << reply.output << '\n';
    if (!reply.error.isEmpty())
        err() << reply.error << '\n';
    out().flush();
    err().flush();
}

// Everything the account needs, over the real keychain and backend.
struct AccountStack
{
    QNetworkAccessManager network;
    BackendConfig config = BackendConfig::fromEnvironment();
    SecretServiceKeychain keychain;
    SessionStore store{&keychain};
    CallbackBrowserSignIn browser{&openInSystemBrowser, [](const QUrl &url) {
                                      out() << "Open this address in your browser to sign in:\n"
                                            << url.toString(QUrl::FullyEncoded) << '\n';
                                      out().flush();
                                  }};
    AuthService auth{&network, config, &browser};
    Account account{&store, &auth};
    InstanceService service{account, browser};
    InstanceServer server{defaultInstanceSocketPath(), &peerIsCurrentUser};

    AccountStack()
    {
        server.setHandler([this](InstanceRequest request, QPointer<QLocalSocket> asker) {
            return service.handle(std::move(request), std::move(asker));
        });
    }
};

QCoro::Task<void> runToExit(std::function<QCoro::Task<int>()> body, int *status)
{
    *status = co_await body();
    QCoreApplication::exit(*status);
}

// Runs a coroutine as the whole program: its result is the exit status.
int runTask(QCoreApplication &app, std::function<QCoro::Task<int>()> body)
{
    int status = 0;
    QTimer::singleShot(0, &app, [&] { runToExit(body, &status); });
    app.exec();
    return status;
}

void cancelOnInterrupt()
{
    // Ctrl+C during a sign-in: close the connection to the instance, which then gives up.
    std::signal(SIGINT, [](int) { std::_Exit(130); });
}

QCoro::Task<int> signInCommand(QString provider)
{
    cancelOnInterrupt();
    const InstanceRequest request{InstanceRequest::Kind::SignIn, provider};
    if (auto reply = co_await askRunningInstance(defaultInstanceSocketPath(), request)) {
        print(*reply);
        co_return reply->exitCode;
    }
    // No instance runs: this process is the one the browser's callback reaches.
    AccountStack stack;
    if (!stack.server.listen()) {
        err() << "oxle: could not listen for the browser's answer.\n";
        err().flush();
        co_return 2;
    }
    stack.account.restoreSession();
    const InstanceReply reply = co_await stack.service.signIn(provider);
    print(reply);
    co_return reply.exitCode;
}

QCoro::Task<int> signOutCommand()
{
    const InstanceRequest request{InstanceRequest::Kind::SignOut, {}};
    if (auto reply = co_await askRunningInstance(defaultInstanceSocketPath(), request)) {
        print(*reply);
        co_return reply->exitCode;
    }
    AccountStack stack;
    stack.account.signOut();
    out() << "Signed out.\n";
    out().flush();
    co_return 0;
}

QCoro::Task<int> addCommand(QString text)
{
    QNetworkAccessManager network;
    Transport transport(&network, BackendConfig::fromEnvironment());
    SessionStore store(nullptr); // the add command reads only the shared copy
    const AddOutcome outcome = co_await addToOxle(&store, &transport, text);
    if (outcome.result == AddOutcome::Result::Failed)
        err() << outcome.text << '\n';
    else
        out() << outcome.text << '\n';
    out().flush();
    err().flush();
    co_return outcome.exitCode();
}

QCoro::Task<int> libraryCommand(QStringList args)
{
    // Reads as the signed-in user of this computer, refreshing the session when it must.
    AccountStack stack;
    stack.account.restoreSession();
    Transport transport(&stack.network, stack.config);
    OxleAPI api(transport);
    AppData data(stack.account, api);
    const int status = co_await runLibraryCommand(args, &data, &out(), &err());
    out().flush();
    err().flush();
    co_return status;
}

QCoro::Task<int> openUrlCommand(QString text)
{
    if (!UrlRoute::parse(text)) {
        err() << "oxle: ignored an address oxle does not handle.\n";
        err().flush();
        co_return 1;
    }
    const InstanceRequest request{InstanceRequest::Kind::OpenUrl, text};
    if (auto reply = co_await askRunningInstance(defaultInstanceSocketPath(), request, 10'000)) {
        print(*reply);
        co_return reply->exitCode;
    }
    err() << "oxle: oxle is not running; the address was ignored.\n";
    err().flush();
    co_return 0;
}

// The running instance reads the front tab and saves it; it confirms with a notification, so nothing is printed.
QCoro::Task<int> saveTabCommand()
{
    const InstanceRequest request{InstanceRequest::Kind::SaveTab, {}};
    if (auto reply = co_await askRunningInstance(defaultInstanceSocketPath(), request, 30'000)) {
        print(*reply);
        co_return reply->exitCode;
    }
    err() << "oxle: oxle is not running.\n";
    err().flush();
    co_return 1;
}

// Another instance runs: it shows its window instead.
QCoro::Task<int> showCommand()
{
    const InstanceRequest request{InstanceRequest::Kind::Show, {}};
    if (auto reply = co_await askRunningInstance(defaultInstanceSocketPath(), request, 10'000)) {
        print(*reply);
        co_return reply->exitCode;
    }
    err() << "oxle: another oxle is starting or not answering.\n";
    err().flush();
    co_return 2;
}

int runInstance(QApplication &app)
{
    AccountStack stack;
    if (!stack.server.listen())
        return runTask(app, [] { return showCommand(); });
    stack.account.restoreSession();

    // Reminder times become desktop notifications when the user asked for them on this computer.
    Transport transport(&stack.network, stack.config);
    OxleAPI api(transport);
    UserDefaults defaults;
    FreedesktopNotificationCenter notifications;
    ReminderScheduler reminders(
        notifications, stack.account, defaults,
        [&api](OxleSession session) { return api.fetchReminderItems(std::move(session)); },
        [&api](OxleSession session) { return api.fetchSharedReminderItems(std::move(session)); });
    AppShell shell(stack.network, stack.config, stack.account, stack.browser, stack.service);
    // Saving the front tab (`oxle --save-tab`) and the local search index it refreshes.
    SaveTabCommand saveTab(stack.account, transport, api, reminders);
    stack.service.setSaveTabHandler([&saveTab] { return saveTab.saveFrontTabForCommand(); });
    QTimer::singleShot(0, &app, [&] {
        notifications.requestAuthorization();
        reminders.rescheduleReminders();
        saveTab.reindexSpotlight();
        // Until oxle lives in the panel's tray, its window is how the user sees that it runs.
        shell.content().show();
    });

    out() << "oxle is running.\n";
    out().flush();
    return app.exec();
}

QString readStandardInput()
{
    QFile input;
    if (!input.open(stdin, QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(input.read(maxStdinBytes));
}

} // namespace

void setApplicationNames()
{
    QCoreApplication::setApplicationName(QStringLiteral("oxle"));
    QCoreApplication::setOrganizationName(QStringLiteral("oxle"));
    QCoreApplication::setApplicationVersion(QStringLiteral(OXLE_VERSION));
}

// The running instance shows windows; without a display it still runs (sign-in callbacks, reminders) with its
// windows drawn nowhere, and says so.
int runWindowedInstance(int argc, char **argv)
{
    const bool haveDisplay = !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    if (!haveDisplay) {
        err() << "oxle: no display (DISPLAY or WAYLAND_DISPLAY is not set); running without windows.\n";
        err().flush();
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // The reader's web view, loaded later as a plugin, shares its graphics context with the windows.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    setApplicationNames();
    QApplication::setDesktopFileName(QStringLiteral("oxle"));
    QApplication::setQuitOnLastWindowClosed(false);
    return runInstance(app);
}

int runOxle(int argc, char **argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (args.isEmpty() || args == QStringList{QStringLiteral("--show")})
        return runWindowedInstance(argc, argv);

    QCoreApplication app(argc, argv);
    setApplicationNames();

    const QString command = args.first();
    if (command == QLatin1String("--help") || command == QLatin1String("-h") || command == QLatin1String("help")) {
        out() << usageText;
        out().flush();
        return 0;
    }
    if (command == QLatin1String("--version")) {
        out() << "oxle " << OXLE_VERSION << '\n';
        out().flush();
        return 0;
    }
    if (command == QLatin1String("add")) {
        const QString text = args.size() > 1 ? args.mid(1).join(QLatin1Char(' ')) : readStandardInput();
        return runTask(app, [text] { return addCommand(text); });
    }
    if (command == QLatin1String("sign-in")) {
        if (args.size() != 2 || (args[1] != QLatin1String("google") && args[1] != QLatin1String("apple")))
            return usageError(QStringLiteral("sign-in takes one provider: google or apple."));
        const QString provider = args[1];
        return runTask(app, [provider] { return signInCommand(provider); });
    }
    if (command == QLatin1String("sign-out")) {
        if (args.size() != 1)
            return usageError(QStringLiteral("sign-out takes no arguments."));
        return runTask(app, [] { return signOutCommand(); });
    }
    if (command == QLatin1String("--save-tab")) {
        if (args.size() != 1)
            return usageError(QStringLiteral("--save-tab takes no arguments."));
        return runTask(app, [] { return saveTabCommand(); });
    }
    if (isLibraryCommand(command))
        return runTask(app, [args] { return libraryCommand(args); });
    if (command.contains(QLatin1String("://")) || command.startsWith(QLatin1String("oxle:"))) {
        if (args.size() != 1)
            return usageError(QStringLiteral("give one address at a time."));
        return runTask(app, [command] { return openUrlCommand(command); });
    }
    return usageError(QStringLiteral("unknown command \"%1\".").arg(command.left(80)));
}

} // namespace oxle
