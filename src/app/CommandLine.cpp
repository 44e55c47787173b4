#include "app/CommandLine.h"

#include "app/AccountStack.h"
#include "app/AddCommand.h"
#include "app/InstanceService.h"
#include "app/SingleInstance.h"
#include "app/UrlRoute.h"
#include "core/Account.h"
#include "core/Errors.h"
#include "core/Transport.h"
#include "library/AppData.h"
#include "library/LibraryCommands.h"
#include "library/OxleAPI.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QTextStream>
#include <QTimer>

#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>

namespace oxle {

namespace {

constexpr qint64 maxStdinBytes = qint64(1024) * 1024;

const char usageText[] =
    "Usage: oxle [COMMAND]\n"
    "\n"
    "Without a command, oxle starts in the panel's tray and keeps running (one\n"
    "instance per user; when it runs already, its main window is shown).\n"
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
    "  --capture              Open the capture panel (starting oxle when it is not running).\n"
    "  --settings             Show the settings window (starting oxle when it is not running).\n"
    "  --save-tab             Save the page shown in the front browser window (Firefox,\n"
    "                         Chromium, Chrome, Brave, Edge, Vivaldi) to the running oxle.\n"
    "  --quit                 Quit the running oxle.\n"
    "  oxle://...             Hand an oxle address (sign-in callback, invitation) to the\n"
    "                         running instance.\n"
    "  --help, -h             Show this help.\n"
    "  --version              Show the version.\n"
    "\n"
    "--capture and --save-tab can be bound to keys of your own in the desktop's\n"
    "keyboard settings.\n"
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

// The status of a command that could not run (as opposed to one that ran and failed).
constexpr int exitCouldNotRun = 2;

int usageError(const QString &message)
{
    err() << "oxle: " << message << "\nTry 'oxle --help'.\n";
    err().flush();
    return 1;
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

// Whatever the command throws ends it with a message, never with a loop left waiting for an exit.
QCoro::Task<void> runToExit(std::function<QCoro::Task<int>()> body, int *status)
{
    std::optional<QString> failure;
    try {
        QCoro::Task<int> task = body();
        *status = co_await std::move(task);
    } catch (...) {
        failure = describeCurrentException();
    }
    if (failure) {
        out().flush();
        err() << "oxle: " << (failure->isEmpty() ? QStringLiteral("the command failed unexpectedly.") : failure->left(2000))
              << '\n';
        err().flush();
        *status = exitCouldNotRun;
    }
    QCoreApplication::exit(*status);
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
        co_return exitCouldNotRun;
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

// What oxle-tray is started with when this command starts the instance.
struct InstanceCommand
{
    InstanceRequest::Kind kind;
    const char *trayArgument; // null: the command does not start oxle when it is not running
};

// The program of the running instance: beside this one in the build tree, under libexec once installed.
QString trayProgram()
{
    const QDir here(QCoreApplication::applicationDirPath());
    for (const QString &candidate : {here.filePath(QStringLiteral("oxle-tray")),
                                     QDir::cleanPath(here.filePath(QStringLiteral(OXLE_TRAY_FROM_BIN)))}) {
        if (QFileInfo(candidate).isExecutable())
            return candidate;
    }
    return {};
}

// This process becomes the running instance. Only answers when that failed.
int becomeInstance(const char *trayArgument)
{
    const QString program = trayProgram();
    if (program.isEmpty()) {
        err() << "oxle: oxle-tray was not found beside oxle or in its libexec folder.\n";
        err().flush();
        return exitCouldNotRun;
    }
    const QByteArray path = QFile::encodeName(program);
    QByteArray argument(trayArgument);
    std::array<char *, 3> argv{const_cast<char *>(path.constData()), nullptr, nullptr};
    if (!argument.isEmpty())
        argv[1] = argument.data();
    out().flush();
    err().flush();
    ::execv(path.constData(), argv.data());
    err() << "oxle: could not start " << program << ": " << QString::fromLocal8Bit(std::strerror(errno)) << '\n';
    err().flush();
    return exitCouldNotRun;
}

// Commands for the running instance: forwarded when it runs; otherwise this process becomes it (for the
// commands that make sense then) or says that nothing runs.
QCoro::Task<int> instanceCommand(InstanceCommand command)
{
    const InstanceRequest request{command.kind, {}};
    // Saving a tab waits for the browser and the backend; the others are answered at once.
    const int timeout = command.kind == InstanceRequest::Kind::SaveTab ? 30'000 : 10'000;
    if (auto reply = co_await askRunningInstance(defaultInstanceSocketPath(), request, timeout)) {
        print(*reply);
        co_return reply->exitCode;
    }
    if (command.trayArgument)
        co_return becomeInstance(command.trayArgument);
    err() << "oxle: oxle is not running.\n";
    err().flush();
    // Quitting what does not run has nothing left to do.
    co_return command.kind == InstanceRequest::Kind::Quit ? 0 : 1;
}

std::optional<InstanceCommand> instanceCommandFor(const QString &argument)
{
    using Kind = InstanceRequest::Kind;
    static const std::map<QString, InstanceCommand> commands{
        {QStringLiteral("--show"), {Kind::Show, "--show"}},
        {QStringLiteral("--settings"), {Kind::Settings, "--settings"}},
        {QStringLiteral("--capture"), {Kind::Capture, "--capture"}},
        {QStringLiteral("--save-tab"), {Kind::SaveTab, nullptr}},
        {QStringLiteral("--quit"), {Kind::Quit, nullptr}},
    };
    const auto found = commands.find(argument);
    if (found == commands.end())
        return std::nullopt;
    return found->second;
}

QString readStandardInput()
{
    QFile input;
    if (!input.open(stdin, QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(input.read(maxStdinBytes));
}

} // namespace

int runCommandTask(QCoreApplication &app, std::function<QCoro::Task<int>()> body)
{
    int status = 0;
    QTimer::singleShot(0, &app, [&] { runToExit(body, &status); });
    app.exec();
    return status;
}

void setApplicationNames()
{
    QCoreApplication::setApplicationName(QStringLiteral("oxle"));
    QCoreApplication::setOrganizationName(QStringLiteral("oxle"));
    QCoreApplication::setApplicationVersion(QStringLiteral(OXLE_VERSION));
}

int runOxle(int argc, char **argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    QCoreApplication app(argc, argv);
    setApplicationNames();

    // Without a command: the running instance shows its window; otherwise this process starts it, in the tray.
    // Started by the bus for the desktop's search: the instance is wanted, its window is not (an instance that
    // already runs leaves it at that).
    if (args.isEmpty() && startedByBusActivation())
        return becomeInstance("");
    if (args.isEmpty())
        return runCommandTask(app, [] { return instanceCommand({InstanceRequest::Kind::Show, ""}); });
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
        return runCommandTask(app, [text] { return addCommand(text); });
    }
    if (command == QLatin1String("sign-in")) {
        if (args.size() != 2 || (args[1] != QLatin1String("google") && args[1] != QLatin1String("apple")))
            return usageError(QStringLiteral("sign-in takes one provider: google or apple."));
        const QString provider = args[1];
        return runCommandTask(app, [provider] { return signInCommand(provider); });
    }
    if (command == QLatin1String("sign-out")) {
        if (args.size() != 1)
            return usageError(QStringLiteral("sign-out takes no arguments."));
        return runCommandTask(app, [] { return signOutCommand(); });
    }
    if (const auto forwarded = instanceCommandFor(command)) {
        if (args.size() != 1)
            return usageError(QStringLiteral("%1 takes no arguments.").arg(command));
        return runCommandTask(app, [forwarded] { return instanceCommand(*forwarded); });
    }
    if (isLibraryCommand(command))
        return runCommandTask(app, [args] { return libraryCommand(args); });
    if (command.contains(QLatin1String("://")) || command.startsWith(QLatin1String("oxle:"))) {
        if (args.size() != 1)
            return usageError(QStringLiteral("give one address at a time."));
        return runCommandTask(app, [command] { return openUrlCommand(command); });
    }
    return usageError(QStringLiteral("unknown command \"%1\".").arg(command.left(80)));
}

} // namespace oxle
