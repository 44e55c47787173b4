#include "platform/linux/DesktopSearchProviders.h"

#include "platform/linux/Fts5SearchIndex.h"
#include "platform/linux/Logging.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QVariantMap>

namespace oxle {

// One row of a KRunner answer: (id, text, icon name, match type, relevance, properties).
struct RunnerMatch
{
    QString id;
    QString text;
    QString icon;
    int type = 0;
    double relevance = 0;
    QVariantMap properties;
};

// One entry of KRunner's action list: (id, text, icon name).
struct RunnerAction
{
    QString id;
    QString text;
    QString icon;
};

} // namespace oxle

Q_DECLARE_METATYPE(oxle::RunnerMatch)
Q_DECLARE_METATYPE(oxle::RunnerAction)

namespace oxle {

QDBusArgument &operator<<(QDBusArgument &argument, const RunnerMatch &match)
{
    argument.beginStructure();
    argument << match.id << match.text << match.icon << match.type << match.relevance << match.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, RunnerMatch &match)
{
    argument.beginStructure();
    argument >> match.id >> match.text >> match.icon >> match.type >> match.relevance >> match.properties;
    argument.endStructure();
    return argument;
}

QDBusArgument &operator<<(QDBusArgument &argument, const RunnerAction &action)
{
    argument.beginStructure();
    argument << action.id << action.text << action.icon;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, RunnerAction &action)
{
    argument.beginStructure();
    argument >> action.id >> action.text >> action.icon;
    argument.endStructure();
    return argument;
}

namespace {

const QString iconName = QStringLiteral("oxle");

// What a result shows under its title: the source's domain when the item has one, else its address.
QString subtitle(const SearchRecord &record)
{
    if (record.description && !record.description->isEmpty())
        return *record.description;
    return record.url.value_or(QString());
}

// Every item has a title to show; should one be empty, its address or its identifier stands in.
QString titleOf(const SearchRecord &record)
{
    if (!record.title.trimmed().isEmpty())
        return record.title;
    if (record.url && !record.url->isEmpty())
        return *record.url;
    return record.identifier;
}

QStringList identifiers(const QList<SearchRecord> &records)
{
    QStringList result;
    result.reserve(records.size());
    for (const SearchRecord &record : records)
        result.append(record.identifier);
    return result;
}

} // namespace

// org.kde.krunner1: KRunner sends what the user typed and shows our matches among its own.
class KRunnerProvider : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.krunner1")
public:
    KRunnerProvider(Fts5SearchIndex &index, const DesktopSearchActions &actions)
        : m_index(index)
        , m_actions(actions)
    { }

public Q_SLOTS:
    QList<oxle::RunnerAction> Actions() { return {}; }

    QList<oxle::RunnerMatch> Match(const QString &query)
    {
        // KRunner's "possible match"; the best hit ranks highest, and every hit stays above KRunner's
        // middle so that a few saved items are not buried under file-search results.
        constexpr int possibleMatch = 30;
        QList<RunnerMatch> result;
        const QList<SearchRecord> records = m_index.match(query);
        for (qsizetype rank = 0; rank < records.size(); ++rank) {
            const SearchRecord &record = records.at(rank);
            QVariantMap properties;
            if (const QString sub = subtitle(record); !sub.isEmpty())
                properties.insert(QStringLiteral("subtext"), sub);
            if (record.url && !record.url->isEmpty())
                properties.insert(QStringLiteral("urls"), QStringList{*record.url});
            result.append(RunnerMatch{record.identifier, titleOf(record), iconName, possibleMatch,
                                      1.0 - 0.02 * double(rank), properties});
        }
        return result;
    }

    void Run(const QString &matchId, const QString &actionId)
    {
        Q_UNUSED(actionId)
        if (m_actions.activate)
            m_actions.activate(matchId, 0);
    }

private:
    Fts5SearchIndex &m_index;
    const DesktopSearchActions &m_actions;
};

// org.gnome.Shell.SearchProvider2: the shell asks for identifiers, then for what to show of them.
class ShellSearchProvider : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.gnome.Shell.SearchProvider2")
public:
    ShellSearchProvider(Fts5SearchIndex &index, const DesktopSearchActions &actions)
        : m_index(index)
        , m_actions(actions)
    { }

public Q_SLOTS:
    QStringList GetInitialResultSet(const QStringList &terms) { return identifiers(m_index.match(terms.join(u' '))); }

    // The shell narrows an earlier search as the user types on; searching again gives the same best-first
    // order and lets items that did not make the first cut come up.
    QStringList GetSubsearchResultSet(const QStringList &previousResults, const QStringList &terms)
    {
        Q_UNUSED(previousResults)
        return GetInitialResultSet(terms);
    }

    QList<QVariantMap> GetResultMetas(const QStringList &identifiers)
    {
        QList<QVariantMap> result;
        for (const SearchRecord &record : m_index.recordsFor(identifiers)) {
            QVariantMap meta{
                {QStringLiteral("id"), record.identifier},
                {QStringLiteral("name"), titleOf(record)},
                {QStringLiteral("gicon"), iconName},
            };
            if (const QString sub = subtitle(record); !sub.isEmpty())
                meta.insert(QStringLiteral("description"), sub);
            result.append(meta);
        }
        return result;
    }

    void ActivateResult(const QString &identifier, const QStringList &terms, uint timestamp)
    {
        Q_UNUSED(terms)
        if (m_actions.activate)
            m_actions.activate(identifier, timestamp);
    }

    void LaunchSearch(const QStringList &terms, uint timestamp)
    {
        if (m_actions.launchSearch)
            m_actions.launchSearch(terms.join(u' ').simplified(), timestamp);
    }

private:
    Fts5SearchIndex &m_index;
    const DesktopSearchActions &m_actions;
};

DesktopSearchProviders::DesktopSearchProviders(DesktopSearchActions actions, const QString &indexPath,
                                               QObject *parent)
    : QObject(parent)
    , m_index(std::make_unique<Fts5SearchIndex>(indexPath.isEmpty() ? Fts5SearchIndex::defaultPath() : indexPath,
                                                Fts5SearchIndex::Access::ReadOnly))
    , m_actions(std::move(actions))
{
    qDBusRegisterMetaType<RunnerMatch>();
    qDBusRegisterMetaType<QList<RunnerMatch>>();
    qDBusRegisterMetaType<RunnerAction>();
    qDBusRegisterMetaType<QList<RunnerAction>>();
    qDBusRegisterMetaType<QList<QVariantMap>>();
}

DesktopSearchProviders::~DesktopSearchProviders()
{
    stop();
}

bool DesktopSearchProviders::start(const QDBusConnection &connection)
{
    stop();
    if (!connection.isConnected()) {
        qCWarning(lcPlatformLinux) << "desktop search: no session bus; the desktop's search will not find saved items";
        return false;
    }
    m_connection = connection;
    constexpr auto options = QDBusConnection::ExportAllSlots;
    auto krunner = std::make_unique<KRunnerProvider>(*m_index, m_actions);
    auto shellSearch = std::make_unique<ShellSearchProvider>(*m_index, m_actions);
    if (m_connection->registerObject(krunnerPath, krunner.get(), options))
        m_krunner = std::move(krunner);
    if (m_connection->registerObject(shellSearchPath, shellSearch.get(), options))
        m_shellSearch = std::move(shellSearch);
    if (!m_krunner || !m_shellSearch) {
        qCWarning(lcPlatformLinux) << "desktop search: cannot export the search providers";
        stop();
        return false;
    }
    if (!m_connection->registerService(serviceName)) {
        qCWarning(lcPlatformLinux) << "desktop search: cannot take the bus name" << serviceName << ":"
                                   << m_connection->lastError().message();
        stop();
        return false;
    }
    m_ownsName = true;
    return true;
}

void DesktopSearchProviders::stop()
{
    if (m_connection) {
        if (m_ownsName)
            m_connection->unregisterService(serviceName);
        if (m_krunner)
            m_connection->unregisterObject(krunnerPath);
        if (m_shellSearch)
            m_connection->unregisterObject(shellSearchPath);
    }
    m_ownsName = false;
    m_krunner.reset();
    m_shellSearch.reset();
    m_connection.reset();
}

} // namespace oxle

#include "DesktopSearchProviders.moc"
