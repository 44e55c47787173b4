#include "ui/ItemListModel.h"

#include "ui/DisplayRules.h"
#include "ui/ThumbnailCache.h"

#include <QPixmap>

namespace oxle {

ItemListModel::ItemListModel(ThumbnailCache *thumbnails, QObject *parent)
    : QAbstractListModel(parent)
    , m_thumbnails(thumbnails)
{
    if (m_thumbnails)
        connect(m_thumbnails, &ThumbnailCache::loaded, this, &ItemListModel::onThumbnailLoaded);
}

// Views and callers may hand in invalid or foreign indexes; those answer nothing rather than warn.
bool ItemListModel::isRow(const QModelIndex &index) const
{
    return index.isValid() && index.model() == this && !index.parent().isValid() && index.column() == 0
        && index.row() < m_items.size();
}

void ItemListModel::setItems(const QList<Item> &items)
{
    const bool sameRows = items.size() == m_items.size()
        && std::equal(
            items.begin(), items.end(), m_items.begin(), [](const Item &a, const Item &b) { return a.id == b.id; });
    if (!sameRows) {
        beginResetModel();
        m_items = items;
        forgetRows();
        endResetModel();
        return;
    }
    // Only the span that really changed is announced, so a republished but unchanged array repaints nothing.
    qsizetype first = -1;
    qsizetype last = -1;
    for (qsizetype row = 0; row < items.size(); ++row) {
        if (items[row] == m_items[row])
            continue;
        if (first < 0)
            first = row;
        last = row;
    }
    m_items = items;
    if (first < 0)
        return;
    forgetRows();
    Q_EMIT dataChanged(index(int(first)), index(int(last)));
}

void ItemListModel::forgetRows()
{
    m_subtitles.clear();
    m_rowByID.clear();
    m_rowsByThumbnail.clear();
    m_indexed = false;
}

void ItemListModel::ensureIndex() const
{
    if (m_indexed)
        return;
    m_indexed = true;
    m_rowByID.reserve(m_items.size());
    for (qsizetype row = 0; row < m_items.size(); ++row) {
        const Item &item = m_items[row];
        if (!m_rowByID.contains(item.id)) // the first row wins for a repeated id
            m_rowByID.insert(item.id, int(row));
        if (item.thumbnailUrl && !item.thumbnailUrl->isEmpty())
            m_rowsByThumbnail.insert(*item.thumbnailUrl, int(row));
    }
}

std::optional<Item> ItemListModel::itemAt(const QModelIndex &index) const
{
    if (!isRow(index))
        return std::nullopt;
    return m_items[index.row()];
}

int ItemListModel::rowOf(const QString &itemID) const
{
    ensureIndex();
    return m_rowByID.value(itemID, -1);
}

void ItemListModel::setClock(std::function<QDateTime()> clock)
{
    m_clock = std::move(clock);
    m_subtitles.clear();
    if (!m_items.isEmpty())
        Q_EMIT dataChanged(index(0), index(rowCount() - 1), { SubtitleRole });
}

int ItemListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_items.size());
}

QVariant ItemListModel::data(const QModelIndex &index, int role) const
{
    if (!isRow(index))
        return QVariant();
    const Item &item = m_items[index.row()];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
    case TitleRole:
        return item.displayTitle();
    case ItemRole:
        return QVariant::fromValue(item);
    case IdRole:
        return item.id;
    case SubtitleRole:
        return subtitleAt(index.row());
    case DoneRole:
        return item.status == ItemStatus::Done;
    case SymbolRole:
        return item.symbolName();
    case ThumbnailRole: {
        if (!m_thumbnails || !item.thumbnailUrl || item.thumbnailUrl->isEmpty())
            return QVariant();
        const QPixmap pixmap = m_thumbnails->pixmap(*item.thumbnailUrl);
        return pixmap.isNull() ? QVariant() : QVariant(pixmap);
    }
    case DomainRole:
        return item.sourceDomain.value_or(QString());
    case NotePreviewRole:
        return DisplayRules::notePreview(item);
    default:
        return QVariant();
    }
}

QString ItemListModel::subtitleAt(int row) const
{
    const QDateTime clockNow = m_clock ? m_clock() : QDateTime();
    const qint64 millis = m_clock ? clockNow.toMSecsSinceEpoch() : QDateTime::currentMSecsSinceEpoch();
    const qint64 second = millis / 1000;
    if (second != m_subtitleSecond) {
        m_subtitleSecond = second;
        m_subtitles.clear();
        m_zone = QTimeZone::systemTimeZone();
    }
    if (m_subtitles.size() != m_items.size())
        m_subtitles = QList<QString>(m_items.size());
    QString &cached = m_subtitles[row];
    if (cached.isNull()) {
        // Local-time arithmetic goes through the C library, which looks at the zone file on every conversion;
        // the same zone as a QTimeZone counts the same calendar days several times faster.
        QDateTime now = m_clock ? clockNow : QDateTime::fromMSecsSinceEpoch(millis);
        if (now.timeSpec() == Qt::LocalTime && m_zone.isValid())
            now = now.toTimeZone(m_zone);
        cached = DisplayRules::subtitle(m_items[row], now);
    }
    return cached;
}

Qt::ItemFlags ItemListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}

QHash<int, QByteArray> ItemListModel::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractListModel::roleNames();
    names.insert(ItemRole, "item");
    names.insert(IdRole, "itemID");
    names.insert(TitleRole, "title");
    names.insert(SubtitleRole, "subtitle");
    names.insert(DoneRole, "done");
    names.insert(SymbolRole, "symbol");
    names.insert(ThumbnailRole, "thumbnail");
    names.insert(DomainRole, "domain");
    names.insert(NotePreviewRole, "notePreview");
    return names;
}

void ItemListModel::onThumbnailLoaded(const QString &url)
{
    ensureIndex();
    for (auto it = m_rowsByThumbnail.constFind(url); it != m_rowsByThumbnail.constEnd() && it.key() == url; ++it) {
        const QModelIndex changed = index(it.value());
        Q_EMIT dataChanged(changed, changed, { ThumbnailRole });
    }
}

} // namespace oxle
