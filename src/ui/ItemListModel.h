#pragma once

// One row per item, for the list rows, the inbox, the search results, the cards and the notes list. The
// store publishes whole arrays; setItems keeps the selection and scroll position when only the contents of
// the same rows changed, and resets otherwise.

#include "core/Records.h"

#include <QAbstractListModel>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMultiHash>
#include <QTimeZone>
#include <functional>
#include <limits>
#include <optional>

namespace oxle {

class ThumbnailCache;

class ItemListModel : public QAbstractListModel
{
    Q_OBJECT
public:
    enum Role {
        ItemRole = Qt::UserRole + 1, // QVariant::fromValue(Item)
        IdRole,
        TitleRole, // Item::displayTitle, also Qt::DisplayRole
        SubtitleRole,
        DoneRole, // status is exactly "done"
        SymbolRole, // Item::symbolName
        ThumbnailRole, // QPixmap, or a null QVariant while loading, after a failure or without an address
        DomainRole, // source domain, or an empty string
        NotePreviewRole,
    };

    // thumbnails may be null: every row then shows its placeholder.
    explicit ItemListModel(ThumbnailCache *thumbnails, QObject *parent = nullptr);

    // Replaces the rows. The same ids in the same order only signal the rows whose contents differ (selection
    // and scroll position stay); any other change resets the model.
    void setItems(const QList<Item> &items);
    const QList<Item> &items() const { return m_items; }
    std::optional<Item> itemAt(const QModelIndex &index) const;
    int rowOf(const QString &itemID) const; // -1 when absent
    // "Now" for the subtitles' relative times; the default (also for an empty function) is the system clock.
    void setClock(std::function<QDateTime()> clock);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QHash<int, QByteArray> roleNames() const override;

private:
    bool isRow(const QModelIndex &index) const;
    void onThumbnailLoaded(const QString &url);
    void forgetRows();
    void ensureIndex() const;
    QString subtitleAt(int row) const;

    ThumbnailCache *m_thumbnails;
    QList<Item> m_items;
    // Built on first use: handing over thousands of rows should not wait for look-ups nobody made yet.
    mutable QHash<QString, int> m_rowByID;
    mutable QMultiHash<QString, int> m_rowsByThumbnail;
    mutable bool m_indexed = false;
    std::function<QDateTime()> m_clock; // empty: the system clock
    // Subtitles of the current second: a scroll or a hover repaints the same rows many times a second.
    mutable QList<QString> m_subtitles; // null: not yet computed
    mutable qint64 m_subtitleSecond = std::numeric_limits<qint64>::min();
    mutable QTimeZone m_zone;
};

} // namespace oxle
