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
#include <functional>
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
    // "Now" for the subtitles' relative times; the default is the system clock.
    void setClock(std::function<QDateTime()> clock);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QHash<int, QByteArray> roleNames() const override;

private:
    bool isRow(const QModelIndex &index) const;
    void onThumbnailLoaded(const QString &url);
    void rebuildIndex();

    ThumbnailCache *m_thumbnails;
    QList<Item> m_items;
    QHash<QString, int> m_rowByID;
    QMultiHash<QString, int> m_rowsByThumbnail;
    std::function<QDateTime()> m_clock;
};

} // namespace oxle
