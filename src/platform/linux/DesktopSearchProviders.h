#pragma once

#include "library/SearchIndex.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace oxle {

class Fts5SearchIndex;

// The desktop's search over the local index of saved items: a KRunner runner (org.kde.krunner1) and a GNOME
// Shell search provider (org.gnome.Shell.SearchProvider2), exported on the session bus under one name, which
// the D-Bus service file also uses to start oxle when the desktop asks before oxle runs. The index is only
// read, as it is on disk at each search.
class DesktopSearchProviders : public QObject, public DesktopSearch
{
    Q_OBJECT
public:
    static inline const QString serviceName = QStringLiteral("org.oxle.Oxle");
    static inline const QString krunnerPath = QStringLiteral("/org/oxle/Oxle/krunner");
    static inline const QString shellSearchPath = QStringLiteral("/org/oxle/Oxle/SearchProvider");

    // indexPath: the index file; empty for the one the indexer writes.
    explicit DesktopSearchProviders(DesktopSearchActions actions, const QString &indexPath = {},
                                    QObject *parent = nullptr);
    ~DesktopSearchProviders() override;
    DesktopSearchProviders(const DesktopSearchProviders &) = delete;
    DesktopSearchProviders &operator=(const DesktopSearchProviders &) = delete;

    // Exports both providers, then claims the name. False, with a warning in the log, when there is no bus or
    // the name or a path is taken; oxle then runs on without the desktop's search.
    bool start(const QDBusConnection &connection);
    // On the session bus.
    bool start() override { return start(QDBusConnection::sessionBus()); }

private:
    void stop();

    std::unique_ptr<Fts5SearchIndex> m_index;
    DesktopSearchActions m_actions;
    std::unique_ptr<QObject> m_krunner;
    std::unique_ptr<QObject> m_shellSearch;
    std::optional<QDBusConnection> m_connection;
    bool m_ownsName = false;
};

} // namespace oxle
