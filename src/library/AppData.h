#pragma once

// The main window's store: the signed-in user's lists, the items of one list, the notes, the inbox, the counts
// per list and the last search results, with every operation that changes them. Confined to the main thread.
//
// Nothing is cached: every operation ends by reloading what it changed. Loads that overlap are not cancelled;
// each publishes when it finishes, so the one that finishes last wins. Each published field has its own change
// signal, emitted after every assignment.
//
// Failures: a failed load or search sets errorText and leaves its field as it was. Writes of item and list
// operations ignore their failures (the reload that follows shows the backend's state). The note saves and
// addText report their outcome, because their callers would otherwise present lost text as saved.

#include "core/OxleSession.h"
#include "core/Records.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <QCoro/QCoroTask>

#include <optional>

namespace oxle {

class Account;
class OxleAPI;

class AppData : public QObject
{
    Q_OBJECT
public:
    static inline const QString fallbackListName = QStringLiteral("List");

    AppData(Account &account, OxleAPI &api, QObject *parent = nullptr);

    Account &account() const { return m_account; }
    OxleAPI &api() const { return m_api; }

    // Own lists in their sort order, then the shared lists.
    const QList<Category> &categories() const { return m_categories; }
    // Items of the list whose load finished last.
    const QList<Item> &items() const { return m_items; }
    const QList<Item> &notes() const { return m_notes; }
    const QList<Item> &inboxItems() const { return m_inboxItems; }
    const QList<Item> &searchResults() const { return m_searchResults; }
    // Live non-note own items per list id; lists without such items have no entry.
    const QHash<QString, int> &counts() const { return m_counts; }
    const QSet<QString> &sharedCategoryIDs() const { return m_sharedCategoryIDs; }
    // A list the window should select next (set after joining a list).
    const std::optional<QString> &pendingSelect() const { return m_pendingSelect; }
    // The description of the last failed load or search. The store only sets it.
    const std::optional<QString> &errorText() const { return m_errorText; }

    void clearPendingSelect();
    void clearErrorText();

    // A shared item lives in a list whose id is in sharedCategoryIDs; everything else is the user's own.
    bool isShared(const Item &item) const;
    bool isSharedList(const QString &categoryID) const { return m_sharedCategoryIDs.contains(categoryID); }
    // The name of the list with that id, or "List".
    QString listName(const QString &categoryID) const;
    // The symbol shown for a list's icon token.
    static QString listSymbol(const std::optional<QString> &icon);

    // --- Loading. Without a session each returns at once and changes nothing. Each answers whether it
    // published a new value (false also when signed out).
    QCoro::Task<bool> loadCategories();
    QCoro::Task<bool> loadNotes();
    QCoro::Task<bool> loadInbox();
    QCoro::Task<bool> loadCounts();
    QCoro::Task<bool> loadItems(QString categoryID);
    // Lists, notes, inbox and counts, one after the other.
    QCoro::Task<void> refreshAll();

    // --- Item operations. Shared or own is decided by sharedCategoryIDs at the time of the call. Each reloads
    // where the item was shown: its list, or the notes for a note, or the inbox for an item without a list.
    QCoro::Task<void> markDone(Item item);
    QCoro::Task<void> remove(Item item);
    QCoro::Task<void> move(Item item, QString categoryID);
    QCoro::Task<void> setReminder(Item item, std::optional<qint64> at);
    // Saves typed text into a list as a link or a note, then reloads that list and the counts. Answers false
    // when nothing was sent (signed out, empty text) or the save failed; true also when the link was already
    // saved elsewhere.
    QCoro::Task<bool> addText(QString text, QString categoryID);

    // --- Lists
    // Answers the new list's id, or none when signed out or the insert failed.
    QCoro::Task<std::optional<QString>> createList(QString name, QString color, QString icon);
    QCoro::Task<void> updateList(QString id, QString name, QString color, QString icon);
    QCoro::Task<void> deleteList(QString id);
    QCoro::Task<void> leaveList(QString id);
    // Joins a shared list by invitation code; on success pendingSelect names it.
    QCoro::Task<std::optional<QString>> redeemInvite(QString code);

    // --- Search. Answers false when the search failed (errorText is set and the results are unchanged).
    QCoro::Task<bool> search(QString query);

    // --- Notes
    // A new empty note in the default list; none when signed out or the insert failed.
    QCoro::Task<std::optional<QString>> createNote();
    // Writes the note's title and body as given, then reloads the notes. Answers whether the write succeeded,
    // so an editor never reports an unsaved note as saved.
    QCoro::Task<bool> updateNote(Item note, QString title, QString text);

Q_SIGNALS:
    void categoriesChanged();
    void itemsChanged();
    void notesChanged();
    void inboxItemsChanged();
    void searchResultsChanged();
    void countsChanged();
    void sharedCategoryIDsChanged();
    void pendingSelectChanged();
    void errorTextChanged();

private:
    QCoro::Task<std::optional<OxleSession>> session();
    // One read with a valid session, its value handed to publish; a failure sets errorText and keeps what
    // is shown. Answers whether a new value was published.
    template<typename Read, typename Publish>
    QCoro::Task<bool> loadInto(Read read, Publish publish)
    {
        const auto session = co_await this->session();
        if (!session)
            co_return false;
        try {
            publish(co_await read(*session));
        } catch (const std::exception &error) {
            setError(error);
            co_return false;
        }
        co_return true;
    }
    void setError(const std::exception &error);
    // The notes when asNote, else the list categoryId, else the inbox.
    QCoro::Task<void> reloadWhereShown(std::optional<QString> categoryId, bool asNote);

    Account &m_account;
    OxleAPI &m_api;

    QList<Category> m_categories;
    QList<Item> m_items;
    QList<Item> m_notes;
    QList<Item> m_inboxItems;
    QList<Item> m_searchResults;
    QHash<QString, int> m_counts;
    QSet<QString> m_sharedCategoryIDs;
    std::optional<QString> m_pendingSelect;
    std::optional<QString> m_errorText;
};

} // namespace oxle
