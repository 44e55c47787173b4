#include "library/OxleAPI.h"

#include "capture/SavePipeline.h"
#include "core/Errors.h"
#include "core/Ids.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace oxle {

namespace {

const QString kItems = u"items"_s;
const QString kCategories = u"categories"_s;
const QString kMembers = u"category_members"_s;
const QString kSharedItems = u"shared_items"_s;
const QString kItemStates = u"item_states"_s;

const QString kIsNull = u"is.null"_s;

QString eq(const QString &value)
{
    return u"eq."_s + value;
}

std::pair<QString, QString> item(const char *name, const QString &value)
{
    return {QString::fromLatin1(name), value};
}

// The filter that picks one row.
QueryItems byId(const QString &id)
{
    return {item("id", eq(id))};
}

QJsonValue optionalMillis(const std::optional<qint64> &at)
{
    return at ? QJsonValue(*at) : QJsonValue(QJsonValue::Null);
}

QString trimmedText(const QString &text)
{
    // QString::trimmed() removes Unicode white space, line breaks included.
    return text.trimmed();
}

} // namespace

const QString OxleAPI::itemSelect = QStringLiteral(
    "id,url,title,note,source_domain,content_type,category_id,status,created_at,reminder_override_at,thumbnail_url");
const QString OxleAPI::categorySelect = u"id,name,color,icon,is_system,sort_order,created_at"_s;
const QString OxleAPI::itemStateSelect =
    u"shared_item_id,status,completed_at,reminder_override_at,deleted_at"_s;
const QString OxleAPI::sharedItemSelect =
    u"id,url,title,note,source_domain,content_type,category_id,thumbnail_url,created_at"_s;
const QString OxleAPI::contentRowSelect = u"id,url,title,source_domain,content_type,thumbnail_url"_s;
const QString OxleAPI::stateRowSelect = u"shared_item_id,reminder_override_at"_s;
const QString OxleAPI::categoryOrder = u"sort_order.asc,created_at.asc"_s;

OxleAPI::OxleAPI(Transport &transport, Clock clock)
    : m_transport(transport)
    , m_clock(clock ? std::move(clock) : Clock(&nowMillis))
{
}

OxleAPI::~OxleAPI() = default;

QString OxleAPI::inList(const QStringList &ids)
{
    // A list's id is whatever text its owner chose. A value holding one of the list syntax characters
    // ("," "(" ")" '"' "\") or white space, or an empty one, goes in double quotes with '"' and "\"
    // escaped by a backslash; plain identifiers are sent bare.
    const auto needsQuotes = [](const QString &value) {
        return value.isEmpty() || std::any_of(value.cbegin(), value.cend(), [](QChar c) {
            return c == u',' || c == u'(' || c == u')' || c == u'"' || c == u'\\' || c.isSpace();
        });
    };
    QString out = u"in.("_s;
    for (qsizetype i = 0; i < ids.size(); ++i) {
        if (i > 0)
            out += QLatin1Char(',');
        const QString &id = ids[i];
        if (!needsQuotes(id)) {
            out += id;
            continue;
        }
        QString escaped = id;
        escaped.replace(u"\\"_s, u"\\\\"_s).replace(u"\""_s, u"\\\""_s);
        out += QLatin1Char('"') + escaped + QLatin1Char('"');
    }
    return out + QLatin1Char(')');
}

QueryItems OxleAPI::ownLiveItems(const OxleSession &session) const
{
    return {item("user_id", eq(session.userId)), item("deleted_at", kIsNull)};
}

// --- Reads ---------------------------------------------------------------------------------------------------

QCoro::Task<QList<Category>> OxleAPI::fetchCategories(OxleSession session)
{
    const QueryItems query{item("user_id", eq(session.userId)), item("deleted_at", kIsNull),
                           item("is_locked", u"not.is.true"_s), item("select", categorySelect),
                           item("order", categoryOrder)};
    co_return co_await m_transport.get<Category>(kCategories, session, query);
}

QCoro::Task<QStringList> OxleAPI::fetchMemberListIDs(OxleSession session)
{
    const QueryItems query{item("user_id", eq(session.userId)), item("select", u"category_id"_s)};
    const QList<MemberRow> rows = co_await m_transport.get<MemberRow>(kMembers, session, query);
    QStringList ids;
    ids.reserve(rows.size());
    for (const MemberRow &row : rows)
        ids.append(row.categoryId);
    co_return ids;
}

QCoro::Task<QList<Category>> OxleAPI::fetchCategoriesByID(OxleSession session, QStringList ids)
{
    if (ids.isEmpty())
        co_return QList<Category>{};
    const QueryItems query{item("id", inList(ids)), item("deleted_at", kIsNull),
                           item("is_locked", u"not.is.true"_s), item("select", categorySelect)};
    co_return co_await m_transport.get<Category>(kCategories, session, query);
}

QCoro::Task<QList<Item>> OxleAPI::fetchItems(OxleSession session, QString categoryID)
{
    const QueryItems query{item("user_id", eq(session.userId)),
                           item("category_id", eq(categoryID)),
                           item("deleted_at", kIsNull),
                           item("content_type", u"neq.note"_s),
                           item("select", itemSelect),
                           item("order", u"created_at.desc"_s)};
    co_return co_await m_transport.get<Item>(kItems, session, query);
}

QCoro::Task<QList<ItemState>> OxleAPI::fetchItemStates(OxleSession session, QStringList sharedItemIDs)
{
    if (sharedItemIDs.isEmpty())
        co_return QList<ItemState>{};
    const QueryItems query{item("user_id", eq(session.userId)), item("shared_item_id", inList(sharedItemIDs)),
                           item("select", itemStateSelect)};
    co_return co_await m_transport.get<ItemState>(kItemStates, session, query);
}

QCoro::Task<QList<Item>> OxleAPI::fetchSharedItems(OxleSession session, QString categoryID)
{
    const QueryItems query{item("category_id", eq(categoryID)), item("deleted_at", kIsNull),
                           item("select", sharedItemSelect), item("order", u"created_at.desc"_s)};
    const QList<SharedItemRow> rows = co_await m_transport.get<SharedItemRow>(kSharedItems, session, query);
    QStringList ids;
    ids.reserve(rows.size());
    for (const SharedItemRow &row : rows)
        ids.append(row.id);
    const QList<ItemState> states = co_await fetchItemStates(session, ids);
    co_return mergeSharedItems(rows, states);
}

QList<Item> OxleAPI::mergeSharedItems(const QList<SharedItemRow> &rows, const QList<ItemState> &states)
{
    QHash<QString, const ItemState *> byItem;
    byItem.reserve(states.size());
    for (const ItemState &state : states)
        byItem.insert(state.sharedItemId, &state);

    QList<Item> items;
    items.reserve(rows.size());
    for (const SharedItemRow &row : rows) {
        const ItemState *state = byItem.value(row.id, nullptr);
        if (state && state->deletedAt)
            continue; // the user removed it from their own view
        Item &out = items.emplaceBack();
        out.id = row.id;
        out.url = row.url;
        out.title = row.title;
        out.note = row.note;
        out.sourceDomain = row.sourceDomain;
        out.contentType = row.contentType;
        out.categoryId = row.categoryId;
        out.thumbnailUrl = row.thumbnailUrl;
        out.createdAt = row.createdAt;
        out.status = state ? state->status : QString(ItemStatus::Queued);
        if (state)
            out.reminderOverrideAt = state->reminderOverrideAt;
    }
    return items;
}

QCoro::Task<QList<Item>> OxleAPI::fetchNotes(OxleSession session)
{
    QueryItems query = ownLiveItems(session);
    query << item("content_type", u"eq.note"_s) << item("select", itemSelect)
          << item("order", u"created_at.desc"_s);
    co_return co_await m_transport.get<Item>(kItems, session, query);
}

QCoro::Task<QList<Item>> OxleAPI::fetchInbox(OxleSession session)
{
    const QueryItems query{item("user_id", eq(session.userId)),
                           item("category_id", kIsNull),
                           item("deleted_at", kIsNull),
                           item("content_type", u"neq.note"_s),
                           item("select", itemSelect),
                           item("order", u"created_at.desc"_s)};
    co_return co_await m_transport.get<Item>(kItems, session, query);
}

QCoro::Task<QList<Item>> OxleAPI::fetchReminderItems(OxleSession session)
{
    QueryItems query = ownLiveItems(session);
    query << item("reminder_override_at", u"not.is.null"_s) << item("select", itemSelect)
          << item("limit", QString::number(reminderLimit));
    co_return co_await m_transport.get<Item>(kItems, session, query);
}

QCoro::Task<QList<Item>> OxleAPI::fetchSharedReminderItems(OxleSession session)
{
    const QueryItems stateQuery{item("user_id", eq(session.userId)),
                                item("reminder_override_at", u"not.is.null"_s),
                                item("deleted_at", kIsNull), item("select", stateRowSelect),
                                item("limit", QString::number(reminderLimit))};
    const QList<StateRow> states = co_await m_transport.get<StateRow>(kItemStates, session, stateQuery);
    QHash<QString, std::optional<qint64>> reminders;
    QStringList ids; // keys in response order, so the request is reproducible
    for (const StateRow &state : states) {
        if (!reminders.contains(state.sharedItemId))
            ids.append(state.sharedItemId);
        reminders.insert(state.sharedItemId, state.reminderOverrideAt);
    }
    if (ids.isEmpty())
        co_return QList<Item>{};

    const QueryItems contentQuery{item("id", inList(ids)), item("deleted_at", kIsNull),
                                  item("select", contentRowSelect)};
    const QList<ContentRow> rows = co_await m_transport.get<ContentRow>(kSharedItems, session, contentQuery);
    QList<Item> items;
    for (const ContentRow &row : rows) {
        const std::optional<qint64> at = reminders.value(row.id);
        if (!at)
            continue;
        Item &out = items.emplaceBack();
        out.id = row.id;
        out.url = row.url;
        out.title = row.title;
        out.sourceDomain = row.sourceDomain;
        out.contentType = row.contentType;
        out.thumbnailUrl = row.thumbnailUrl;
        out.status = ItemStatus::Queued;
        out.createdAt = 0;
        out.reminderOverrideAt = at;
    }
    co_return items;
}

QCoro::Task<QList<Item>> OxleAPI::fetchRecentItems(OxleSession session)
{
    QueryItems query = ownLiveItems(session);
    query << item("select", itemSelect) << item("order", u"created_at.desc"_s)
          << item("limit", QString::number(recentLimit));
    co_return co_await m_transport.get<Item>(kItems, session, query);
}

QCoro::Task<QList<ItemCategoryRow>> OxleAPI::fetchItemCategories(OxleSession session)
{
    QueryItems query = ownLiveItems(session);
    query << item("content_type", u"neq.note"_s) << item("select", u"category_id"_s)
          << item("limit", QString::number(countLimit));
    co_return co_await m_transport.get<ItemCategoryRow>(kItems, session, query);
}

QHash<QString, int> OxleAPI::countItemsPerList(const QList<ItemCategoryRow> &rows)
{
    QHash<QString, int> counts;
    for (const ItemCategoryRow &row : rows)
        if (row.categoryId)
            ++counts[*row.categoryId];
    return counts;
}

QString OxleAPI::cleanSearchText(const QString &query)
{
    QString cleaned = query;
    for (QChar &c : cleaned)
        if (c == u',' || c == u'(' || c == u')' || c == u'*')
            c = u' ';
    return trimmedText(cleaned);
}

QString OxleAPI::searchFilter(const QString &cleaned)
{
    const QString pattern = QLatin1Char('*') + cleaned + QLatin1Char('*');
    return u"(title.ilike."_s + pattern + u",note.ilike."_s + pattern +
           u",url.ilike."_s + pattern + u",source_domain.ilike."_s + pattern +
           QLatin1Char(')');
}

QCoro::Task<QList<Item>> OxleAPI::searchItems(OxleSession session, QString query)
{
    const QString cleaned = cleanSearchText(query);
    if (cleaned.isEmpty())
        co_return QList<Item>{};
    QueryItems items = ownLiveItems(session);
    items << item("or", searchFilter(cleaned)) << item("select", itemSelect)
          << item("order", u"created_at.desc"_s) << item("limit", QString::number(searchLimit));
    co_return co_await m_transport.get<Item>(kItems, session, items);
}

// --- Item writes ---------------------------------------------------------------------------------------------

QCoro::Task<void> OxleAPI::upsertItemState(OxleSession session, QString sharedItemID, QJsonObject fields)
{
    fields.insert(u"shared_item_id"_s, sharedItemID);
    fields.insert(u"user_id"_s, session.userId);
    fields.insert(u"updated_at"_s, now());
    co_await m_transport.upsert(kItemStates, session, u"shared_item_id,user_id"_s, fields);
}

QCoro::Task<void> OxleAPI::setSharedStatus(OxleSession session, QString sharedItemID, QString status)
{
    const bool done = status == ItemStatus::Done;
    const QJsonValue completedAt = done ? QJsonValue(now()) : QJsonValue(QJsonValue::Null);
    const QJsonObject fields{{u"status"_s, status}, {u"completed_at"_s, completedAt}};
    co_await upsertItemState(session, sharedItemID, fields);
}

QCoro::Task<void> OxleAPI::setItemStatus(OxleSession session, QString itemID, QString status)
{
    const qint64 at = now();
    const bool done = status == ItemStatus::Done;
    const QJsonValue completedAt = done ? QJsonValue(at) : QJsonValue(QJsonValue::Null);
    const QJsonObject body{{u"status"_s, status}, {u"updated_at"_s, at}, {u"completed_at"_s, completedAt}};
    co_await m_transport.patch(kItems, session, byId(itemID), body);
}

QCoro::Task<void> OxleAPI::removeSharedItem(OxleSession session, QString sharedItemID)
{
    const QJsonObject fields{{u"deleted_at"_s, now()}};
    co_await upsertItemState(session, sharedItemID, fields);
}

QCoro::Task<void> OxleAPI::deleteItem(OxleSession session, QString itemID)
{
    const qint64 at = now();
    const QJsonObject body{{u"deleted_at"_s, at}, {u"updated_at"_s, at}};
    co_await m_transport.patch(kItems, session, byId(itemID), body);
}

QCoro::Task<void> OxleAPI::moveItem(OxleSession session, QString itemID, QString categoryID)
{
    const QJsonObject body{{u"category_id"_s, categoryID},
                           {u"status"_s, QString(ItemStatus::Queued)},
                           {u"updated_at"_s, now()}};
    co_await m_transport.patch(kItems, session, byId(itemID), body);
}

QCoro::Task<void> OxleAPI::setSharedReminder(OxleSession session, QString sharedItemID, std::optional<qint64> at)
{
    const QJsonObject fields{{u"reminder_override_at"_s, optionalMillis(at)}};
    co_await upsertItemState(session, sharedItemID, fields);
}

QCoro::Task<void> OxleAPI::setItemReminder(OxleSession session, QString itemID, std::optional<qint64> at)
{
    const QJsonObject body{{u"updated_at"_s, now()},
                           {u"reminder_override_at"_s, optionalMillis(at)}};
    co_await m_transport.patch(kItems, session, byId(itemID), body);
}

// --- List writes ---------------------------------------------------------------------------------------------

QCoro::Task<void> OxleAPI::createCategory(OxleSession session, QString id, QString name, QString color, QString icon,
                                          qint64 sortOrder)
{
    const qint64 at = now();
    // The schedule and alarm columns are written with fixed defaults; nothing here reads them back.
    const QJsonObject row{{u"id"_s, id},
                          {u"user_id"_s, session.userId},
                          {u"name"_s, name},
                          {u"color"_s, color},
                          {u"icon"_s, icon},
                          {u"schedule_enabled"_s, false},
                          {u"schedule_time_of_day"_s, u"20:00"_s},
                          {u"schedule_days"_s, QJsonArray()},
                          {u"sort_order"_s, sortOrder},
                          {u"is_system"_s, false},
                          {u"reminder_alarm"_s, false},
                          {u"is_locked"_s, false},
                          {u"created_at"_s, at},
                          {u"updated_at"_s, at}};
    co_await m_transport.insert(kCategories, session, row);
}

QCoro::Task<void> OxleAPI::updateCategory(OxleSession session, QString id, QString name, QString color, QString icon)
{
    const QJsonObject body{{u"name"_s, name},
                           {u"color"_s, color},
                           {u"icon"_s, icon},
                           {u"updated_at"_s, now()}};
    co_await m_transport.patch(kCategories, session, byId(id), body);
}

QCoro::Task<void> OxleAPI::deleteCategory(OxleSession session, QString id)
{
    const qint64 at = now();
    // Items first: if this fails the list stays, so no item is left pointing at a deleted list.
    const QueryItems itemQuery{item("user_id", eq(session.userId)), item("category_id", eq(id)),
                               item("deleted_at", kIsNull)};
    const QJsonObject itemBody{{u"category_id"_s, QJsonValue::Null},
                               {u"status"_s, QString(ItemStatus::Inbox)},
                               {u"updated_at"_s, at}};
    co_await m_transport.patch(kItems, session, itemQuery, itemBody);

    const QJsonObject listBody{{u"deleted_at"_s, at}, {u"updated_at"_s, at}};
    co_await m_transport.patch(kCategories, session, byId(id), listBody);
}

QCoro::Task<void> OxleAPI::leaveCategory(OxleSession session, QString id)
{
    const QJsonObject body{{u"p_category_id"_s, id}};
    co_await m_transport.rpc(u"leave_category"_s, session, body);
}

std::optional<QString> OxleAPI::parseInviteAnswer(const QByteArray &body)
{
    // The answer is one JSON value; wrapped in brackets it parses as an array of exactly that value.
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson('[' + body + ']', &error);
    if (error.error != QJsonParseError::NoError || document.array().size() != 1)
        throw DecodeError(u"The answer to the invitation is not valid JSON: "_s
                          + (error.error != QJsonParseError::NoError ? error.errorString() : u"not one value"_s)
                          + u'.');
    const QJsonValue value = document.array().first();
    if (value.isNull())
        throw DecodeError(u"The invitation was not redeemed: the answer holds no list id (null)."_s);
    if (!value.isString()) {
        const QString kind = value.isBool() ? u"true or false"_s
                           : value.isDouble() ? u"a number"_s
                           : value.isArray()  ? u"an array"_s
                                              : u"an object"_s;
        throw DecodeError(u"The answer to the invitation is not a list id but "_s + kind + u'.');
    }
    const QString id = value.toString();
    if (id.isEmpty())
        return std::nullopt;
    return id;
}

QCoro::Task<std::optional<QString>> OxleAPI::redeemCategoryInvite(OxleSession session, QString code)
{
    const QJsonObject body{{u"p_code"_s, code.toUpper()}};
    const QByteArray answer = co_await m_transport.rpc(u"redeem_category_invite"_s, session, body);
    co_return parseInviteAnswer(answer);
}

// --- Notes ---------------------------------------------------------------------------------------------------

QCoro::Task<QString> OxleAPI::insertNote(OxleSession session, QString text)
{
    const QString id = makeId();
    const qint64 at = now();
    const QString body = trimmedText(text);
    const QString title = ItemReader::noteTitle(body);
    // Finds or creates the default list; its failure ends the call before anything is inserted.
    const QString listID = co_await ItemReader::defaultListID(&m_transport, session);
    const QJsonObject row{{u"id"_s, id},
                          {u"user_id"_s, session.userId},
                          {u"url"_s, QString()},
                          {u"canonical_url"_s, u"note:"_s + id},
                          {u"content_type"_s, QString(ContentType::Note)},
                          {u"title"_s, title},
                          {u"note"_s, body},
                          {u"category_id"_s, listID},
                          {u"status"_s, QString(ItemStatus::Queued)},
                          {u"enrichment_status"_s, u"enriched"_s},
                          {u"reminder_alarm"_s, false},
                          {u"skip_count"_s, 0},
                          {u"snooze_count"_s, 0},
                          {u"created_at"_s, at},
                          {u"updated_at"_s, at}};
    co_await m_transport.insert(kItems, session, row);
    co_return id;
}

QCoro::Task<void> OxleAPI::updateNote(OxleSession session, QString noteID, QString title, QString text)
{
    const QJsonObject body{{u"title"_s, title},
                           {u"note"_s, text},
                           {u"updated_at"_s, now()}};
    co_await m_transport.patch(kItems, session, byId(noteID), body);
}

} // namespace oxle
