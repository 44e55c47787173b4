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

    // A copy: QCoro 0.8 moves from an lvalue handed to co_return.
    QCoro::Task<QList<Category>> fetchCategories(OxleSession) override { co_return QList<Category>(own); }
    QCoro::Task<QStringList> fetchMemberListIDs(OxleSession) override
    {
        QStringList ids;
        for (const Category &c : shared)
            ids << c.id;
        co_return ids;
    }
    QCoro::Task<QList<Category>> fetchCategoriesByID(OxleSession, QStringList ids) override
    {
        QList<Category> found;
        for (const Category &c : shared)
            if (ids.contains(c.id))
                found << c;
        co_return found;
    }
    QCoro::Task<QList<Item>> fetchItems(OxleSession, QString categoryID) override
    {
        co_return where([&](const Item &i) { return i.categoryId == categoryID && i.contentType != ContentType::Note; });
    }
    QCoro::Task<QList<Item>> fetchSharedItems(OxleSession, QString categoryID) override
    {
        co_return where([&](const Item &i) { return i.categoryId == categoryID; });
    }
    QCoro::Task<QList<Item>> fetchNotes(OxleSession) override
    {
        co_return where([](const Item &i) { return i.contentType == ContentType::Note; });
    }
    QCoro::Task<QList<Item>> fetchInbox(OxleSession) override
    {
        co_return where([](const Item &i) { return !i.categoryId && i.contentType != ContentType::Note; });
    }
    QCoro::Task<QList<ItemCategoryRow>> fetchItemCategories(OxleSession) override
    {
        QList<ItemCategoryRow> rows;
        for (const Item &i : items)
            if (i.contentType != ContentType::Note)
                rows << ItemCategoryRow{i.categoryId};
        co_return rows;
    }
    QCoro::Task<QList<Item>> searchItems(OxleSession, QString query) override
    {
        log << QStringLiteral("search ") + query;
        co_return where([&](const Item &i) { return i.title && i.title->contains(query.trimmed()); });
    }
    QCoro::Task<void> setItemStatus(OxleSession, QString id, QString status) override
    {
        log << QStringLiteral("status %1 %2").arg(id, status);
        change(id, [&](Item &i) { i.status = status; });
        co_return;
    }
    QCoro::Task<void> setSharedStatus(OxleSession s, QString id, QString status) override
    {
        co_await setItemStatus(s, id, status);
    }
    QCoro::Task<void> deleteItem(OxleSession, QString id) override
    {
        log << QStringLiteral("delete ") + id;
        items.removeIf([&](const Item &i) { return i.id == id; });
        co_return;
    }
    QCoro::Task<void> removeSharedItem(OxleSession s, QString id) override { co_await deleteItem(s, id); }
    QCoro::Task<void> moveItem(OxleSession, QString id, QString list) override
    {
        log << QStringLiteral("move %1 %2").arg(id, list);
        change(id, [&](Item &i) { i.categoryId = list; });
        co_return;
    }
    QCoro::Task<void> setItemReminder(OxleSession, QString id, std::optional<qint64> at) override
    {
        log << QStringLiteral("remind %1 %2").arg(id, at ? QString::number(*at) : QStringLiteral("none"));
        change(id, [&](Item &i) { i.reminderOverrideAt = at; });
        co_return;
    }
    QCoro::Task<void> setSharedReminder(OxleSession s, QString id, std::optional<qint64> at) override
    {
        co_await setItemReminder(s, id, at);
    }
    QCoro::Task<void> createCategory(OxleSession, QString id, QString name, QString color, QString icon,
                                     qint64 sortOrder) override
    {
        log << QStringLiteral("create %1 %2 %3").arg(name, color, icon);
        own << Category{id, name, color, icon, false, sortOrder, 0};
        co_return;
    }
    QCoro::Task<void> updateCategory(OxleSession, QString id, QString name, QString color, QString icon) override
    {
        log << QStringLiteral("update %1 %2 %3 %4").arg(id, name, color, icon);
        for (Category &c : own)
            if (c.id == id)
                c = Category{id, name, color, icon, c.isSystem, c.sortOrder, c.createdAt};
        co_return;
    }
    QCoro::Task<void> deleteCategory(OxleSession, QString id) override
    {
        log << QStringLiteral("delete list ") + id;
        own.removeIf([&](const Category &c) { return c.id == id; });
        for (Item &i : items)
            if (i.categoryId == id)
                i.categoryId.reset();
        co_return;
    }
    QCoro::Task<void> leaveCategory(OxleSession, QString id) override
    {
        log << QStringLiteral("leave ") + id;
        shared.removeIf([&](const Category &c) { return c.id == id; });
        co_return;
    }
    QCoro::Task<QString> insertNote(OxleSession, QString text) override
    {
        const QString id = QStringLiteral("n%1").arg(items.size() + 1);
        log << QStringLiteral("insert note ") + id;
        items.prepend(item(id, QStringLiteral("default"), QStringLiteral("queued"), QStringLiteral("note")));
        change(id, [&](Item &i) {
            i.title.reset();
            i.note = text;
            i.url.clear();
            i.sourceDomain.reset();
        });
        co_return id;
    }
    QCoro::Task<void> updateNote(OxleSession, QString id, QString title, QString text) override
    {
        log << QStringLiteral("note %1 %2|%3").arg(id, title, text);
        change(id, [&](Item &i) {
            i.title = title;
            i.note = text;
        });
        co_return;
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
