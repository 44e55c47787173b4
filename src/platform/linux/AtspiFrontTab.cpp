#include "platform/linux/AtspiFrontTab.h"

#include "platform/linux/LinuxBrowsers.h"
#include "platform/linux/Logging.h"
#include "platform/linux/X11ActiveWindow.h"

#include <QCoro/QCoroFuture>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QFuture>
#include <QPointer>
#include <QPromise>
#include <atomic>
#include <memory>

namespace oxle {

namespace {

const QString rootPath = QStringLiteral("/org/a11y/atspi/accessible/root");
const QString accessibleInterface = QStringLiteral("org.a11y.atspi.Accessible");
const QString documentInterface = QStringLiteral("org.a11y.atspi.Document");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
constexpr uint stateActive = 1; // bit of the first state word
constexpr uint relationEmbeds = 13;

// An accessible object: the bus name of its application and its object path.
struct Ref
{
    QString bus;
    QString path;

    bool isNull() const { return bus.isEmpty() || path.isEmpty() || path == QLatin1String("/org/a11y/atspi/null"); }
};

QList<Ref> readRefs(const QDBusArgument &argument) // a(so)
{
    QList<Ref> refs;
    argument.beginArray();
    while (!argument.atEnd()) {
        Ref ref;
        QDBusObjectPath path;
        argument.beginStructure();
        argument >> ref.bus >> path;
        argument.endStructure();
        ref.path = path.path();
        refs.append(ref);
    }
    argument.endArray();
    return refs;
}

struct Reading
{
    std::optional<BrowserTab> tab;
    QString needsAccessibility; // the browser's name when accessibility is off
};

} // namespace

// Does the blocking work on its own thread. Each reading has a deadline; every call's time-out is cut to what
// is left of it, and a call that times out ends the reading (the application is not answering).
class AtspiReader : public QObject
{
public:
    explicit AtspiReader(AtspiFrontTab::Limits limits)
        : m_limits(limits)
    { }
    ~AtspiReader() override
    {
        if (m_connected)
            QDBusConnection::disconnectFromBus(m_connectionName);
    }

    Reading read();

private:
    // One call; nothing when it failed. Sets m_stalled when it timed out.
    std::optional<QList<QVariant>> call(const QDBusConnection &connection, const QString &service, const QString &path,
        const QString &interface, const QString &method, const QVariantList &args = {});
    std::optional<QDBusConnection> accessibilityBus();
    bool accessibilityEnabled();
    QList<Ref> applications(const QDBusConnection &bus);
    std::optional<uint> processOf(const QDBusConnection &bus, const QString &busName);
    QString name(const QDBusConnection &bus, const Ref &ref);
    std::optional<Ref> activeFrame(const QDBusConnection &bus, const Ref &application, const QString &windowTitle);
    std::optional<Ref> shownDocument(const QDBusConnection &bus, const Ref &frame);
    std::optional<BrowserTab> tabOf(
        const QDBusConnection &bus, const Ref &application, const LinuxBrowser &browser, const QString &windowTitle);
    int timeout() const;

    AtspiFrontTab::Limits m_limits;
    QDeadlineTimer m_deadline;
    bool m_stalled = false;
    X11ActiveWindow m_x11;
    const QString m_connectionName = QStringLiteral("oxle-a11y-%1").arg(quintptr(this), 0, 16);
    bool m_connected = false;
};

int AtspiReader::timeout() const
{
    return int(std::min<qint64>(m_limits.callMs, m_deadline.remainingTime()));
}

std::optional<QList<QVariant>> AtspiReader::call(const QDBusConnection &connection, const QString &service,
    const QString &path, const QString &interface, const QString &method, const QVariantList &args)
{
    const int ms = timeout();
    if (m_stalled || ms <= 0) {
        m_stalled = true;
        return std::nullopt;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(args);
    const QDBusMessage reply = connection.call(message, QDBus::Block, ms);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return reply.arguments();
    if (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NoReply")
        || reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.Timeout"))
        m_stalled = true;
    qCDebug(lcPlatformLinux) << method << "failed:" << reply.errorName();
    return std::nullopt;
}

std::optional<QDBusConnection> AtspiReader::accessibilityBus()
{
    if (m_connected) {
        QDBusConnection bus(m_connectionName);
        if (bus.isConnected())
            return bus;
        QDBusConnection::disconnectFromBus(m_connectionName);
        m_connected = false;
    }
    // The session bus starts the accessibility bus on demand and tells its address.
    const auto address = call(QDBusConnection::sessionBus(), QStringLiteral("org.a11y.Bus"),
        QStringLiteral("/org/a11y/bus"), QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress"));
    if (!address || address->isEmpty() || address->constFirst().toString().isEmpty())
        return std::nullopt;
    QDBusConnection bus = QDBusConnection::connectToBus(address->constFirst().toString(), m_connectionName);
    m_connected = true;
    if (!bus.isConnected())
        return std::nullopt;
    return bus;
}

bool AtspiReader::accessibilityEnabled()
{
    const auto value = call(QDBusConnection::sessionBus(), QStringLiteral("org.a11y.Bus"),
        QStringLiteral("/org/a11y/bus"), propertiesInterface, QStringLiteral("Get"),
        { QStringLiteral("org.a11y.Status"), QStringLiteral("IsEnabled") });
    return value && !value->isEmpty() && value->constFirst().value<QDBusVariant>().variant().toBool();
}

QList<Ref> AtspiReader::applications(const QDBusConnection &bus)
{
    // Answered by the registry, not by the applications.
    const auto children = call(
        bus, QStringLiteral("org.a11y.atspi.Registry"), rootPath, accessibleInterface, QStringLiteral("GetChildren"));
    if (!children || children->isEmpty())
        return {};
    return readRefs(children->constFirst().value<QDBusArgument>());
}

std::optional<uint> AtspiReader::processOf(const QDBusConnection &bus, const QString &busName)
{
    // The bus daemon answers this, so a hung application costs nothing here.
    const auto pid = call(bus, QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetConnectionUnixProcessID"), { busName });
    if (!pid || pid->isEmpty())
        return std::nullopt;
    return pid->constFirst().toUInt();
}

QString AtspiReader::name(const QDBusConnection &bus, const Ref &ref)
{
    const auto value = call(bus, ref.bus, ref.path, propertiesInterface, QStringLiteral("Get"),
        { accessibleInterface, QStringLiteral("Name") });
    if (!value || value->isEmpty())
        return {};
    return value->constFirst().value<QDBusVariant>().variant().toString();
}

std::optional<Ref> AtspiReader::activeFrame(
    const QDBusConnection &bus, const Ref &application, const QString &windowTitle)
{
    const auto children
        = call(bus, application.bus, application.path, accessibleInterface, QStringLiteral("GetChildren"));
    if (!children || children->isEmpty())
        return std::nullopt;
    const QList<Ref> frames = readRefs(children->constFirst().value<QDBusArgument>());
    // On X11 the window manager's active window decides: the frame titled like it. A browser's own ACTIVE
    // state can lag behind after another application had the focus.
    if (!windowTitle.isEmpty()) {
        for (const Ref &frame : frames) {
            if (m_stalled)
                return std::nullopt;
            if (name(bus, frame) == windowTitle)
                return frame;
        }
    }
    for (const Ref &frame : frames) {
        const auto state = call(bus, frame.bus, frame.path, accessibleInterface, QStringLiteral("GetState"));
        if (m_stalled)
            return std::nullopt;
        if (!state || state->isEmpty())
            continue;
        const QList<uint> words = qdbus_cast<QList<uint>>(state->constFirst());
        if (!words.isEmpty() && (words.constFirst() & (1u << stateActive)))
            return frame;
    }
    return std::nullopt;
}

std::optional<Ref> AtspiReader::shownDocument(const QDBusConnection &bus, const Ref &frame)
{
    // The frame embeds the shown tab's document. Searching the tree instead would also find background tabs,
    // preloaded pages and frames inside the page.
    const auto relations = call(bus, frame.bus, frame.path, accessibleInterface, QStringLiteral("GetRelationSet"));
    if (!relations || relations->isEmpty())
        return std::nullopt;
    const QDBusArgument argument = relations->constFirst().value<QDBusArgument>(); // a(ua(so))
    std::optional<Ref> document;
    argument.beginArray();
    while (!argument.atEnd()) {
        uint type = 0;
        argument.beginStructure();
        argument >> type;
        const QList<Ref> targets = readRefs(argument);
        argument.endStructure();
        if (type == relationEmbeds && !document && !targets.isEmpty() && !targets.constFirst().isNull())
            document = targets.constFirst();
    }
    argument.endArray();
    return document;
}

std::optional<BrowserTab> AtspiReader::tabOf(
    const QDBusConnection &bus, const Ref &application, const LinuxBrowser &browser, const QString &windowTitle)
{
    std::optional<BrowserTab> best;
    // A browser that just started may not describe its page yet, or names it a moment after its address.
    for (int attempt = 0; attempt < 2 && !m_stalled; ++attempt) {
        if (attempt > 0) {
            if (m_deadline.remainingTime() < m_limits.retryPauseMs + 50)
                break;
            QThread::msleep(ulong(m_limits.retryPauseMs));
        }
        const auto frame = activeFrame(bus, application, windowTitle);
        if (!frame)
            return std::nullopt; // not this application's window
        const auto document = shownDocument(bus, *frame);
        if (!document)
            continue;
        QString url;
        for (const QString &attribute : browser.urlAttributes()) {
            const auto value = call(bus, document->bus, document->path, documentInterface,
                QStringLiteral("GetAttributeValue"), { attribute });
            url = value && !value->isEmpty() ? value->constFirst().toString() : QString();
            if (!url.isEmpty() || m_stalled)
                break;
        }
        if (url.isEmpty())
            continue;
        best = BrowserTab { url, name(bus, *document) };
        if (!best->title.isEmpty())
            break;
    }
    return best;
}

Reading AtspiReader::read()
{
    m_deadline = QDeadlineTimer(m_limits.overallMs);
    m_stalled = false;

    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    std::optional<X11ActiveWindow::Window> window;
    const LinuxBrowser *frontBrowser = nullptr;
    if (!wayland) {
        window = m_x11.read();
        if (!window || !window->pid)
            return {};
        frontBrowser = LinuxBrowsers::forWindowClass(window->windowClass);
        if (!frontBrowser)
            return {}; // not a browser: nothing on the accessibility bus is asked
    }

    const auto bus = accessibilityBus();
    QList<Ref> candidates;
    QList<const LinuxBrowser *> candidateBrowsers;
    if (bus) {
        for (const Ref &application : applications(*bus)) {
            if (m_stalled)
                break;
            if (!wayland) {
                if (processOf(*bus, application.bus) == window->pid) {
                    candidates.append(application);
                    candidateBrowsers.append(frontBrowser);
                }
                continue;
            }
            // Wayland tells nobody which window is in front: every supported browser is asked for an ACTIVE window.
            if (const LinuxBrowser *browser = LinuxBrowsers::forAccessibilityName(name(*bus, application))) {
                candidates.append(application);
                candidateBrowsers.append(browser);
            }
        }
    }
    if (candidates.isEmpty()) {
        if (frontBrowser && !m_stalled && !accessibilityEnabled())
            return Reading { std::nullopt, frontBrowser->name };
        return {};
    }

    for (qsizetype i = 0; i < candidates.size() && !m_stalled; ++i) {
        auto tab = tabOf(*bus, candidates[i], *candidateBrowsers[i], window ? window->title : QString());
        if (!tab)
            continue;
        if (LinuxBrowsers::isNewTabPage(tab->url))
            return {};
        return Reading { tab, {} };
    }
    return {};
}

AtspiFrontTab::AtspiFrontTab(QObject *parent)
    : AtspiFrontTab(Limits {}, parent)
{ }

AtspiFrontTab::AtspiFrontTab(Limits limits, QObject *parent)
    : QObject(parent)
    , m_reader(new AtspiReader(limits))
{
    m_thread.setObjectName(QStringLiteral("oxle-front-tab"));
    m_reader->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_reader, &QObject::deleteLater);
    m_thread.start();
}

AtspiFrontTab::~AtspiFrontTab()
{
    // A reading under way ends within its deadline.
    m_thread.quit();
    m_thread.wait();
}

namespace {

// Hands one reading to the reader's thread. When the thread stops before the reading ran, the promise is
// dropped unfinished, which cancels it: the future finishes either way.
QFuture<void> startReading(AtspiReader *reader, const std::shared_ptr<Reading> &reading)
{
    auto promise = std::make_shared<QPromise<void>>();
    QFuture<void> done = promise->future();
    promise->start();
    QMetaObject::invokeMethod(reader, [reader, reading, promise] {
        *reading = reader->read();
        promise->finish();
    });
    return done;
}

} // namespace

QCoro::Task<std::optional<BrowserTab>> AtspiFrontTab::current()
{
    auto reading = std::make_shared<Reading>();
    const QFuture<void> done = startReading(m_reader, reading);
    const QPointer<AtspiFrontTab> self(this);
    co_await qCoro(done).waitForFinished();
    if (!self)
        co_return std::nullopt;
    if (!reading->needsAccessibility.isEmpty())
        Q_EMIT accessibilityNeeded(reading->needsAccessibility);
    co_return reading->tab;
}

} // namespace oxle
