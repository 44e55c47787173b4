#pragma once

// The library's reads and writes against the backend's tables: one REST request (or a fixed short
// sequence) per operation, run through the transport. Every operation takes the session to send and throws
// whatever the transport throws; none keeps state. The reads are virtual so that tests can stand in for the
// network where they need control over timing.

#include "core/OxleSession.h"
#include "core/Records.h"
#include "core/Transport.h"

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <QCoro/QCoroTask>

#include <functional>
#include <optional>

namespace oxle {

class OxleAPI
{
public:
    // Epoch milliseconds for the timestamps of a write; injectable so tests can predict bodies.
    using Clock = std::function<qint64()>;

    explicit OxleAPI(Transport &transport, Clock clock = {});
    virtual ~OxleAPI();

    Transport &transport() const { return m_transport; }
    qint64 now() const { return m_clock(); }

    static const QString itemSelect;
    static const QString categorySelect;
    static const QString itemStateSelect;
    static const QString sharedItemSelect;
    static const QString contentRowSelect;
    static const QString stateRowSelect;
    static const QString categoryOrder;
    // The largest number of item rows the counts read asks for.
    static constexpr int countLimit = 2000;
    static constexpr int reminderLimit = 200;
    static constexpr int recentLimit = 500;
    static constexpr int searchLimit = 50;

    // --- Reads -----------------------------------------------------------------------------------------------

    // The user's own live, unlocked lists in their sort order.
    virtual QCoro::Task<QList<Category>> fetchCategories(OxleSession session);
    // Ids of the lists the user is a member of, in response order (own lists included, duplicates kept).
    virtual QCoro::Task<QStringList> fetchMemberListIDs(OxleSession session);
    // Live, unlocked lists by id, whoever owns them. No request for an empty id list.
    virtual QCoro::Task<QList<Category>> fetchCategoriesByID(OxleSession session, QStringList ids);
    // The user's live items of one own list, notes excluded, newest first.
    virtual QCoro::Task<QList<Item>> fetchItems(OxleSession session, QString categoryID);
    // The user's states of the given shared items. No request for an empty id list.
    virtual QCoro::Task<QList<ItemState>> fetchItemStates(OxleSession session, QStringList sharedItemIDs);
    // A shared list's live items as this user sees them: merged with the user's states, removed ones left out.
    virtual QCoro::Task<QList<Item>> fetchSharedItems(OxleSession session, QString categoryID);
    virtual QCoro::Task<QList<Item>> fetchNotes(OxleSession session);
    // The user's live items without a list, notes excluded, newest first.
    virtual QCoro::Task<QList<Item>> fetchInbox(OxleSession session);
    // Own live items (notes included) that carry a reminder time, at most 200.
    virtual QCoro::Task<QList<Item>> fetchReminderItems(OxleSession session);
    // Shared items that carry this user's reminder time, at most 200.
    virtual QCoro::Task<QList<Item>> fetchSharedReminderItems(OxleSession session);
    // The newest 500 own live items, notes included.
    virtual QCoro::Task<QList<Item>> fetchRecentItems(OxleSession session);
    // The list of every live own non-note item (at most 2000 rows), for counting items per list.
    virtual QCoro::Task<QList<ItemCategoryRow>> fetchItemCategories(OxleSession session);
    // Own items whose title, note, link or domain contains the query, newest first, at most 50.
    // No request when the cleaned query is empty.
    virtual QCoro::Task<QList<Item>> searchItems(OxleSession session, QString query);

    // --- Item writes ------------------------------------------------------------------------------------------

    // Creates or merges the user's state row of a shared item; the key columns and updated_at are added.
    virtual QCoro::Task<void> upsertItemState(OxleSession session, QString sharedItemID, QJsonObject fields);
    virtual QCoro::Task<void> setSharedStatus(OxleSession session, QString sharedItemID, QString status);
    virtual QCoro::Task<void> setItemStatus(OxleSession session, QString itemID, QString status);
    virtual QCoro::Task<void> removeSharedItem(OxleSession session, QString sharedItemID);
    virtual QCoro::Task<void> deleteItem(OxleSession session, QString itemID);
    virtual QCoro::Task<void> moveItem(OxleSession session, QString itemID, QString categoryID);
    virtual QCoro::Task<void> setSharedReminder(OxleSession session, QString sharedItemID, std::optional<qint64> at);
    virtual QCoro::Task<void> setItemReminder(OxleSession session, QString itemID, std::optional<qint64> at);

    // --- List writes ------------------------------------------------------------------------------------------

    // Inserts a new, non-system list row with the given id and position.
    virtual QCoro::Task<void> createCategory(OxleSession session, QString id, QString name, QString color, QString icon,
                                             qint64 sortOrder);
    virtual QCoro::Task<void> updateCategory(OxleSession session, QString id, QString name, QString color,
                                             QString icon);
    // Moves the user's live items of the list to the inbox, then soft-deletes the list. When the first write
    // fails the list is left alone.
    virtual QCoro::Task<void> deleteCategory(OxleSession session, QString id);
    // Ends the user's membership of a shared list.
    virtual QCoro::Task<void> leaveCategory(OxleSession session, QString id);
    // Joins a shared list; answers its id, or none when the backend answered with an empty one. An answer
    // that is not a JSON string throws DecodeError.
    virtual QCoro::Task<std::optional<QString>> redeemCategoryInvite(OxleSession session, QString code);

    // --- Notes ------------------------------------------------------------------------------------------------

    // Inserts a note into the user's default list (created when missing) and answers its id.
    virtual QCoro::Task<QString> insertNote(OxleSession session, QString text);
    // Writes a note's title and body as given (untrimmed).
    virtual QCoro::Task<void> updateNote(OxleSession session, QString noteID, QString title, QString text);

    // --- Pure rules, public for tests and the benchmark --------------------------------------------------------

    // Rows in order; a row whose state is removed is skipped; status and reminder come from the state.
    static QList<Item> mergeSharedItems(const QList<SharedItemRow> &rows, const QList<ItemState> &states);
    // Live non-note rows per list; rows without a list (the inbox) are not counted.
    static QHash<QString, int> countItemsPerList(const QList<ItemCategoryRow> &rows);
    // "," "(" ")" and "*" become spaces (they would break the backend's filter group), then the ends are trimmed.
    static QString cleanSearchText(const QString &query);
    // The `or` filter for a non-empty cleaned text.
    static QString searchFilter(const QString &cleaned);
    // The id in an invitation answer, a JSON string (none when it is empty). Throws DecodeError for null,
    // any other JSON value, or a body that is not JSON.
    static std::optional<QString> parseInviteAnswer(const QByteArray &body);
    // The `in` filter over the values: "in.(a,b,c)", with a value the list syntax would misread quoted
    // ("in.(a,\"b,c\")").
    static QString inList(const QStringList &ids);

private:
    QueryItems ownLiveItems(const OxleSession &session) const;

    Transport &m_transport;
    Clock m_clock;
};

} // namespace oxle
