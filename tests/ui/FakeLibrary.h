#pragma once

// A library held in memory behind the store's API, so the windows can be driven without a network: reads answer
// from the lists below, writes change them and are logged ("delete n1", "move i1 l2", …). A signed-in account
// whose session never expires completes the store.

#include "core/Account.h"
#include "core/AuthService.h"
#include "core/SessionStore.h"
#include "core/Transport.h"
#include "library/AppData.h"
#include "library/OxleAPI.h"
#include "reminders/UserDefaults.h"
#include "support/MemoryKeychain.h"
#include "ui/UiContext.h"

#include <QNetworkAccessManager>
#include <QTemporaryDir>

#include <algorithm>

namespace oxle::test {

class FakeLibrary : public OxleAPI
{
public:
    explicit FakeLibrary(Transport &transport) : OxleAPI(transport, [] { return qint64(1'700'000'000'000); }) {}

    QList<Category> own;
    QList<Category> shared;
    QList<Item> items; // own and shared items, notes included
    QStringList log;

    static Item item(const QString &id, const std::optional<QString> &list, const QString &status = QStringLiteral("queued"),
                     const QString &type = QStringLiteral("link"))
    {
        Item item;
        item.id = id;
        item.url = QStringLiteral("https://example.com/") + id;
        item.title = QStringLiteral("Title ") + id;
        item.sourceDomain = QStringLiteral("example.com");
        item.contentType = type;
        item.categoryId = list;
        item.status = status;
        item.createdAt = 1'699'000'000'000;
        return item;
    }
    static Category list(const QString &id, bool system = false)
    {
        return Category{id, QStringLiteral("List ") + id, QStringLiteral("#30A46C"), QStringLiteral("sparkles"), system, 0, 0};
    }

    // The answers are ready at once; the work is done before the task is made, so no lambda runs inside a
    // coroutine (and QCoro 0.8, which moves from an lvalue handed to co_return, never sees a member).
    template<typename T>
    static QCoro::Task<T> ready(T value)
    {
        co_return value;
    }
    static QCoro::Task<void> ready() { co_return; }

    QCoro::Task<QList<Category>> fetchCategories(OxleSession) override { return ready(QList<Category>(own)); }
    QCoro::Task<QStringList> fetchMemberListIDs(OxleSession) override
    {
        QStringList ids;
        for (const Category &c : shared)
            ids << c.id;
        return ready(ids);
    }
    QCoro::Task<QList<Category>> fetchCategoriesByID(OxleSession, QStringList ids) override
    {
        QList<Category> found;
        for (const Category &c : shared)
            if (ids.contains(c.id))
                found << c;
        return ready(found);
    }
    QCoro::Task<QList<Item>> fetchItems(OxleSession, QString categoryID) override
    {
        return ready(where([&](const Item &i) { return i.categoryId == categoryID && i.contentType != ContentType::Note; }));
    }
    QCoro::Task<QList<Item>> fetchSharedItems(OxleSession, QString categoryID) override
    {
        return ready(where([&](const Item &i) { return i.categoryId == categoryID; }));
    }
    QCoro::Task<QList<Item>> fetchNotes(OxleSession) override
    {
        return ready(where([](const Item &i) { return i.contentType == ContentType::Note; }));
    }
    QCoro::Task<QList<Item>> fetchInbox(OxleSession) override
    {
        return ready(where([](const Item &i) { return !i.categoryId && i.contentType != ContentType::Note; }));
    }
    QCoro::Task<QList<ItemCategoryRow>> fetchItemCategories(OxleSession) override
    {
        QList<ItemCategoryRow> rows;
        for (const Item &i : items)
            if (i.contentType != ContentType::Note)
                rows << ItemCategoryRow{i.categoryId};
        return ready(rows);
    }
    QCoro::Task<QList<Item>> searchItems(OxleSession, QString query) override
    {
        log << QStringLiteral("search ") + query;
        return ready(where([&](const Item &i) { return i.title && i.title->contains(query.trimmed()); }));
    }
    QCoro::Task<void> setItemStatus(OxleSession, QString id, QString status) override
    {
        log << QStringLiteral("status %1 %2").arg(id, status);
        change(id, [&](Item &i) { i.status = status; });
        return ready();
    }
    QCoro::Task<void> setSharedStatus(OxleSession s, QString id, QString status) override
    {
        return setItemStatus(std::move(s), std::move(id), std::move(status));
    }
    QCoro::Task<void> deleteItem(OxleSession, QString id) override
    {
        log << QStringLiteral("delete ") + id;
        items.removeIf([&](const Item &i) { return i.id == id; });
        return ready();
    }
    QCoro::Task<void> removeSharedItem(OxleSession s, QString id) override { return deleteItem(std::move(s), std::move(id)); }
    QCoro::Task<void> moveItem(OxleSession, QString id, QString list) override
    {
        log << QStringLiteral("move %1 %2").arg(id, list);
        change(id, [&](Item &i) { i.categoryId = list; });
        return ready();
    }
    QCoro::Task<void> setItemReminder(OxleSession, QString id, std::optional<qint64> at) override
    {
        log << QStringLiteral("remind %1 %2").arg(id, at ? QString::number(*at) : QStringLiteral("none"));
        change(id, [&](Item &i) { i.reminderOverrideAt = at; });
        return ready();
    }
    QCoro::Task<void> setSharedReminder(OxleSession s, QString id, std::optional<qint64> at) override
    {
        return setItemReminder(std::move(s), std::move(id), at);
    }
    QCoro::Task<void> createCategory(OxleSession, QString id, QString name, QString color, QString icon,
                                     qint64 sortOrder) override
    {
        log << QStringLiteral("create %1 %2 %3").arg(name, color, icon);
        own << Category{id, name, color, icon, false, sortOrder, 0};
        return ready();
    }
    QCoro::Task<void> updateCategory(OxleSession, QString id, QString name, QString color, QString icon) override
    {
        log << QStringLiteral("update %1 %2 %3 %4").arg(id, name, color, icon);
        for (Category &c : own)
            if (c.id == id)
                c = Category{id, name, color, icon, c.isSystem, c.sortOrder, c.createdAt};
        return ready();
    }
    QCoro::Task<void> deleteCategory(OxleSession, QString id) override
    {
        log << QStringLiteral("delete list ") + id;
        own.removeIf([&](const Category &c) { return c.id == id; });
        for (Item &i : items)
            if (i.categoryId == id)
                i.categoryId.reset();
        return ready();
    }
    QCoro::Task<void> leaveCategory(OxleSession, QString id) override
    {
        log << QStringLiteral("leave ") + id;
        shared.removeIf([&](const Category &c) { return c.id == id; });
        return ready();
    }
    QCoro::Task<QString> insertNote(OxleSession, QString text) override
    {
        const QString id = QStringLiteral("n%1").arg(items.size() + 1);
        log << QStringLiteral("insert note ") + id;
        Item note = item(id, QStringLiteral("default"), QStringLiteral("queued"), QStringLiteral("note"));
        note.title.reset();
        note.note = text;
        note.url.clear();
        note.sourceDomain.reset();
        items.prepend(note);
        return ready(id);
    }
    QCoro::Task<void> updateNote(OxleSession, QString id, QString title, QString text) override
    {
        log << QStringLiteral("note %1 %2|%3").arg(id, title, text);
        change(id, [&](Item &i) {
            i.title = title;
            i.note = text;
        });
        return ready();
    }

private:
    template<typename Predicate>
    QList<Item> where(Predicate predicate) const
    {
        QList<Item> found;
        std::copy_if(items.begin(), items.end(), std::back_inserter(found), predicate);
        return found;
    }
    template<typename Change>
    void change(const QString &id, Change apply)
    {
        for (Item &i : items)
            if (i.id == id)
                apply(i);
    }
};

// The store over the fake library, signed in, with preferences in a file of its own.
struct FakeStore
{
    FakeStore()
        : config{QStringLiteral("http://127.0.0.1:9"), QStringLiteral("anon"), 1000}
        , transport(&network, config)
        , library(transport)
        , store(&keychain, dir.path())
        , auth(&network, config, nullptr)
        , account(&store, &auth)
        , data(account, library)
        , defaults(dir.filePath(QStringLiteral("oxle.ini")))
        , context{data, account, defaults, nullptr, [this](const QUrl &url) {
                      opened << url;
                      return true;
                  }}
    {
    }

    void signIn()
    {
        store.saveKeychain(OxleSession{QStringLiteral("token"), QStringLiteral("refresh"), 0, QStringLiteral("me"), {}});
        account.restoreSession();
    }

    QNetworkAccessManager network;
    BackendConfig config;
    Transport transport;
    FakeLibrary library;
    MemoryKeychain keychain;
    QTemporaryDir dir;
    SessionStore store;
    AuthService auth;
    Account account;
    AppData data;
    UserDefaults defaults;
    QList<QUrl> opened;
    UiContext context;
};

} // namespace oxle::test
