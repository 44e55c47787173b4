#include "platform/linux/PortalGlobalShortcuts.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace oxle;

namespace {

struct Shortcut
{
    QString id;
    QVariantMap properties;
};

QDBusArgument &operator<<(QDBusArgument &argument, const Shortcut &shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, Shortcut &shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

QVariantMap toMap(const QVariant &value)
{
    if (value.canConvert<QDBusArgument>()) {
        QVariantMap map;
        value.value<QDBusArgument>() >> map;
        return map;
    }
    return value.toMap();
}

const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");

// A stand-in for the desktop portal, on a connection of its own: it answers like the real one, requests
// through Request objects whose Response follows the method's reply.
class FakePortal : public QDBusVirtualObject
{
public:
    explicit FakePortal(QDBusConnection connection)
        : m_connection(std::move(connection))
    {
    }

    struct Call
    {
        QString member;
        QString path;
        QList<QVariant> arguments;
    };

    uint version = 1; // 0: the portal lacks the interface
    QMap<QString, QString> triggers; // shortcut id -> trigger description the desktop reports
    QList<Call> calls;
    QList<Shortcut> bound;
    QString session;

    QList<Call> callsOf(const QString &member) const
    {
        QList<Call> found;
        for (const Call &call : calls) {
            if (call.member == member)
                found << call;
        }
        return found;
    }

    void emitSignal(const QString &name, const QList<QVariant> &arguments)
    {
        QDBusMessage signal = QDBusMessage::createSignal(portalPath, PortalGlobalShortcuts::interfaceName, name);
        signal.setArguments(arguments);
        m_connection.send(signal);
    }

    QString introspect(const QString & /*path*/) const override { return {}; }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        calls.append({ message.member(), message.path(), message.arguments() });
        const QList<QVariant> arguments = message.arguments();
        QString sender = message.service().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
        if (message.member() == QLatin1String("Get")) {
            if (version == 0 || arguments.value(0).toString() != PortalGlobalShortcuts::interfaceName) {
                connection.send(message.createErrorReply(
                    QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"), QStringLiteral("No such interface")));
            } else {
                connection.send(message.createReply(QVariant::fromValue(QDBusVariant(version))));
            }
            return true;
        }
        if (message.member() == QLatin1String("Close")) {
            connection.send(message.createReply());
            return true;
        }
        const QVariantMap options = toMap(arguments.value(arguments.size() - 1));
        const QString request = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                                    .arg(sender, options.value(QStringLiteral("handle_token")).toString());
        connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));

        const uint response = 0;
        QVariantMap results;
        if (message.member() == QLatin1String("CreateSession")) {
            session = QStringLiteral("/org/freedesktop/portal/desktop/session/%1/%2")
                          .arg(sender, options.value(QStringLiteral("session_handle_token")).toString());
            results.insert(QStringLiteral("session_handle"), session);
        } else if (message.member() == QLatin1String("BindShortcuts")) {
            bound.clear();
            arguments.value(1).value<QDBusArgument>() >> bound;
            QList<Shortcut> answer;
            for (const Shortcut &shortcut : bound) {
                QVariantMap properties;
                properties.insert(QStringLiteral("description"), shortcut.properties.value(QStringLiteral("description")));
                properties.insert(QStringLiteral("trigger_description"), triggers.value(shortcut.id));
                answer.append({ shortcut.id, properties });
            }
            results.insert(QStringLiteral("shortcuts"), QVariant::fromValue(answer));
        } else {
            connection.send(message.createErrorReply(QDBusError::UnknownMethod, message.member()));
            return true;
        }
        QDBusMessage signal
            = QDBusMessage::createSignal(request, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
        signal << response << results;
        QTimer::singleShot(10, [connection, signal]() mutable { connection.send(signal); });
        return true;
    }

private:
    QDBusConnection m_connection;
};

} // namespace

Q_DECLARE_METATYPE(Shortcut)

// The portal client against a stand-in portal on the private session bus.
class PortalGlobalShortcutsTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<FakePortal> m_portal;
    QDBusConnection m_portalBus { QString() };

    void startPortal()
    {
        m_portalBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-portal"));
        QVERIFY(m_portalBus.isConnected());
        m_portal = std::make_unique<FakePortal>(m_portalBus);
        QVERIFY(m_portalBus.registerVirtualObject(portalPath, m_portal.get(), QDBusConnection::SubPath));
        QVERIFY(m_portalBus.registerService(PortalGlobalShortcuts::serviceName));
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!QDBusConnection::sessionBus().isConnected()) {
            if (qEnvironmentVariableIntValue("OXLE_REQUIRE_SERVICES"))
                QFAIL("no session bus");
            QSKIP("no session bus (run under dbus-run-session)");
        }
        qDBusRegisterMetaType<Shortcut>();
        qDBusRegisterMetaType<QList<Shortcut>>();
    }

    void cleanup()
    {
        if (m_portal) {
            m_portalBus.unregisterService(PortalGlobalShortcuts::serviceName);
            m_portalBus.unregisterObject(portalPath, QDBusConnection::UnregisterTree);
            QDBusConnection::disconnectFromBus(QStringLiteral("fake-portal"));
            m_portalBus = QDBusConnection(QString());
            m_portal.reset();
        }
    }

    void triggers_data()
    {
        QTest::addColumn<QKeyCombination>("keys");
        QTest::addColumn<QString>("trigger");
        QTest::addColumn<QString>("description");
        QTest::addColumn<bool>("describes");
        QTest::newRow("capture") << GlobalHotkeys::defaultCaptureKeys << "CTRL+ALT+u"
                                 << "Ctrl+Alt+U" << true;
        QTest::newRow("any order and case") << GlobalHotkeys::defaultSaveTabKeys << "CTRL+ALT+s"
                                            << "alt + control + s" << true;
        QTest::newRow("logo key") << QKeyCombination(Qt::MetaModifier | Qt::ShiftModifier, Qt::Key_F5)
                                  << "SHIFT+LOGO+F5"
                                  << "Super+Shift+F5" << true;
        QTest::newRow("other keys") << GlobalHotkeys::defaultCaptureKeys << "CTRL+ALT+u"
                                    << "Ctrl+U" << false;
        QTest::newRow("unnamed key") << QKeyCombination(Qt::ControlModifier, Qt::Key_MediaPlay) << ""
                                     << "Ctrl+Play" << false;
    }

    void triggers()
    {
        QFETCH(QKeyCombination, keys);
        QFETCH(QString, trigger);
        QFETCH(QString, description);
        QFETCH(bool, describes);
        QCOMPARE(PortalGlobalShortcuts::preferredTrigger(keys), trigger);
        QCOMPARE(PortalGlobalShortcuts::describes(description, keys), describes);
    }

    // Both keys are bound in one session with their names, texts and wished-for triggers; a press the desktop
    // reports reaches its id. Keys the user moved elsewhere still work but are not named.
    void bindsAndDelivers_data()
    {
        QTest::addColumn<QString>("captureTrigger");
        QTest::addColumn<bool>("captureNamed");
        QTest::newRow("as wished") << "Ctrl+Alt+U" << true;
        QTest::newRow("no description") << "" << true;
        QTest::newRow("moved by the user") << "Logo+K" << false;
    }

    void bindsAndDelivers()
    {
        QFETCH(QString, captureTrigger);
        QFETCH(bool, captureNamed);
        startPortal();
        m_portal->triggers.insert(QStringLiteral("capture"), captureTrigger);
        m_portal->triggers.insert(QStringLiteral("save-tab"), QStringLiteral("Ctrl+Alt+S"));

        PortalGlobalShortcuts portal;
        QSignalSpy changed(&portal, &GlobalHotkeys::availabilityChanged);
        QSignalSpy activated(&portal, &GlobalHotkeys::activated);
        QVERIFY(portal.registerHotkey(GlobalHotkeys::captureId, GlobalHotkeys::defaultCaptureKeys));
        QVERIFY(portal.registerHotkey(GlobalHotkeys::saveTabId, GlobalHotkeys::defaultSaveTabKeys));
        QCOMPARE(portal.inUse(GlobalHotkeys::captureId), std::nullopt); // nothing bound yet

        QTRY_COMPARE_WITH_TIMEOUT(changed.size(), 1, 10'000);
        QCOMPARE(m_portal->callsOf(QStringLiteral("CreateSession")).size(), 1);
        const auto binds = m_portal->callsOf(QStringLiteral("BindShortcuts"));
        QCOMPARE(binds.size(), 1);
        QCOMPARE(binds.at(0).arguments.at(0).value<QDBusObjectPath>().path(), m_portal->session);
        QCOMPARE(m_portal->bound.size(), 2);
        QCOMPARE(m_portal->bound.at(0).id, QStringLiteral("capture"));
        QCOMPARE(m_portal->bound.at(0).properties.value(QStringLiteral("description")).toString(),
            QStringLiteral("Add to oxle"));
        QCOMPARE(m_portal->bound.at(0).properties.value(QStringLiteral("preferred_trigger")).toString(),
            QStringLiteral("CTRL+ALT+u"));
        QCOMPARE(m_portal->bound.at(1).id, QStringLiteral("save-tab"));
        QCOMPARE(m_portal->bound.at(1).properties.value(QStringLiteral("description")).toString(),
            QStringLiteral("Save current tab"));
        QCOMPARE(m_portal->bound.at(1).properties.value(QStringLiteral("preferred_trigger")).toString(),
            QStringLiteral("CTRL+ALT+s"));

        QCOMPARE(portal.inUse(GlobalHotkeys::saveTabId), GlobalHotkeys::defaultSaveTabKeys);
        QCOMPARE(portal.inUse(GlobalHotkeys::captureId).has_value(), captureNamed);

        const QVariant session = QVariant::fromValue(QDBusObjectPath(m_portal->session));
        const QVariant otherSession = QVariant::fromValue(QDBusObjectPath(m_portal->session + QStringLiteral("x")));
        const QVariant time = QVariant::fromValue(qulonglong(77));
        m_portal->emitSignal(QStringLiteral("Activated"), { otherSession, QStringLiteral("capture"), time, QVariantMap() });
        m_portal->emitSignal(QStringLiteral("Activated"), { session, QStringLiteral("unknown"), time, QVariantMap() });
        m_portal->emitSignal(QStringLiteral("Activated"), { session, QStringLiteral("save-tab"), time, QVariantMap() });
        m_portal->emitSignal(QStringLiteral("Activated"), { session, QStringLiteral("capture"), time, QVariantMap() });
        QTRY_COMPARE_WITH_TIMEOUT(activated.size(), 2, 10'000);
        QCOMPARE(activated.at(0), (QList<QVariant> { GlobalHotkeys::saveTabId, 0U }));
        QCOMPARE(activated.at(1), (QList<QVariant> { GlobalHotkeys::captureId, 0U }));
    }

    // Other keys mean a new session: the old one is closed, and so is the last when nothing is left.
    void changesStartANewSession()
    {
        startPortal();
        PortalGlobalShortcuts portal;
        QSignalSpy changed(&portal, &GlobalHotkeys::availabilityChanged);
        QVERIFY(portal.registerHotkey(GlobalHotkeys::captureId, GlobalHotkeys::defaultCaptureKeys));
        QTRY_VERIFY_WITH_TIMEOUT(portal.inUse(GlobalHotkeys::captureId).has_value(), 10'000);
        const QString first = m_portal->session;

        const QKeyCombination other(Qt::ControlModifier | Qt::AltModifier, Qt::Key_K);
        QVERIFY(portal.registerHotkey(GlobalHotkeys::captureId, other));
        QTRY_COMPARE_WITH_TIMEOUT(portal.inUse(GlobalHotkeys::captureId), std::optional(other), 10'000);
        QVERIFY(m_portal->session != first);
        QCOMPARE(m_portal->callsOf(QStringLiteral("Close")).size(), 1);
        QCOMPARE(m_portal->callsOf(QStringLiteral("Close")).at(0).path, first);
        QCOMPARE(m_portal->bound.at(0).properties.value(QStringLiteral("preferred_trigger")).toString(),
            QStringLiteral("CTRL+ALT+k"));

        portal.unregisterHotkey(GlobalHotkeys::captureId);
        QCOMPARE(portal.inUse(GlobalHotkeys::captureId), std::nullopt);
        QTRY_COMPARE_WITH_TIMEOUT(m_portal->callsOf(QStringLiteral("Close")).size(), 2, 10'000);
        QCOMPARE(m_portal->callsOf(QStringLiteral("CreateSession")).size(), 2);

        // An old session's press is not ours any more.
        QSignalSpy activated(&portal, &GlobalHotkeys::activated);
        m_portal->emitSignal(QStringLiteral("Activated"),
            { QVariant::fromValue(QDBusObjectPath(first)), QStringLiteral("capture"), qulonglong(1), QVariantMap() });
        QTest::qWait(200);
        QCOMPARE(activated.size(), 0);
    }

    // Without the portal, or with one that lacks the interface, everything is unavailable at once.
    void noPortal_data()
    {
        QTest::addColumn<bool>("service");
        QTest::newRow("no portal service") << false;
        QTest::newRow("portal without global shortcuts") << true;
    }

    void noPortal()
    {
        QFETCH(bool, service);
        if (service) {
            startPortal();
            m_portal->version = 0;
        }
        QElapsedTimer elapsed;
        elapsed.start();
        PortalGlobalShortcuts portal;
        QSignalSpy changed(&portal, &GlobalHotkeys::availabilityChanged);
        portal.registerHotkey(GlobalHotkeys::captureId, GlobalHotkeys::defaultCaptureKeys);
        QTRY_VERIFY_WITH_TIMEOUT(!portal.isAvailable(), 10'000);
        QVERIFY2(elapsed.elapsed() < 2'000, qPrintable(QString::number(elapsed.elapsed())));
        QCOMPARE(changed.size(), 1);
        QCOMPARE(portal.inUse(GlobalHotkeys::captureId), std::nullopt);
        QVERIFY(!portal.registerHotkey(GlobalHotkeys::saveTabId, GlobalHotkeys::defaultSaveTabKeys));
        if (service) {
            QCOMPARE(m_portal->callsOf(QStringLiteral("CreateSession")).size(), 0);
        }
    }
};

QTEST_GUILESS_MAIN(PortalGlobalShortcutsTest)
#include "PortalGlobalShortcutsTest.moc"
