#include "capture/SavePipeline.h"

#include "capture/LinkRules.h"
#include "core/Ids.h"
#include "core/Records.h"
#include "core/Transport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTextBoundaryFinder>

namespace oxle::ItemReader {

namespace {

constexpr qsizetype maxTitleLength = 80;

// The id of the first object of a JSON array, if it has a text "id". Anything
// else (not JSON, not an array of objects, empty) answers none, never an error.
std::optional<QString> firstId(const QByteArray &bytes)
{
    const auto document = QJsonDocument::fromJson(bytes);
    if (!document.isArray())
        return std::nullopt;
    const QJsonArray array = document.array();
    for (const auto &element : array)
        if (!element.isObject())
            return std::nullopt;
    if (array.isEmpty())
        return std::nullopt;
    const auto id = array.first().toObject().value(QStringLiteral("id"));
    if (!id.isString())
        return std::nullopt;
    return id.toString();
}

QString trimmed(const QString &text)
{
    // Whitespace and newlines at both ends, Unicode-aware as the platform's trimming is.
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).isSpace())
        ++begin;
    while (end > begin && text.at(end - 1).isSpace())
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

QString noteTitle(const QString &body)
{
    const QStringList lines = body.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QString first = lines.isEmpty() ? body : lines.first();
    // A note typed with CRLF line ends keeps its first line, not the whole text.
    if (first.endsWith(QLatin1Char('\r')) && !lines.isEmpty())
        first.chop(1);

    // Count user-perceived characters, not code units.
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, first);
    qsizetype count = 0;
    qsizetype cutAt = -1;
    while (finder.toNextBoundary() != -1) {
        ++count;
        if (count == maxTitleLength - 1)
            cutAt = finder.position();
        if (count > maxTitleLength)
            return first.left(cutAt) + QChar(0x2026);
    }
    return first;
}

QCoro::Task<std::optional<QString>> findExistingItem(Transport *transport, OxleSession session, QString canonical)
{
    const QueryItems query{
        {QStringLiteral("user_id"), QStringLiteral("eq.") + session.userId},
        {QStringLiteral("canonical_url"), QStringLiteral("eq.") + canonical},
        {QStringLiteral("deleted_at"), QStringLiteral("is.null")},
        {QStringLiteral("select"), QStringLiteral("id")},
        {QStringLiteral("limit"), QStringLiteral("1")},
    };
    const QUrl url = transport->restUrl(QStringLiteral("items"), query);
    const QByteArray bytes = co_await transport->sendChecked("GET", transport->makeRequest(url, session));
    co_return firstId(bytes);
}

QCoro::Task<QString> defaultListID(Transport *transport, OxleSession session)
{
    const QueryItems query{
        {QStringLiteral("user_id"), QStringLiteral("eq.") + session.userId},
        {QStringLiteral("name"), QStringLiteral("eq.") + defaultListName},
        {QStringLiteral("deleted_at"), QStringLiteral("is.null")},
        {QStringLiteral("select"), QStringLiteral("id")},
        {QStringLiteral("order"), QStringLiteral("created_at.asc")},
        {QStringLiteral("limit"), QStringLiteral("1")},
    };
    const QByteArray found = co_await transport->sendChecked(
        "GET", transport->makeRequest(transport->restUrl(QStringLiteral("categories"), query), session));
    if (auto id = firstId(found))
        co_return *id;

    const QString fallback = QStringLiteral("sb_") + session.userId;
    const qint64 now = nowMillis();
    const QJsonObject row{
        {QStringLiteral("id"), fallback},
        {QStringLiteral("user_id"), session.userId},
        {QStringLiteral("name"), defaultListName},
        {QStringLiteral("color"), QStringLiteral("#536878")},
        {QStringLiteral("icon"), QStringLiteral("sparkles")},
        {QStringLiteral("schedule_enabled"), false},
        {QStringLiteral("schedule_time_of_day"), QStringLiteral("20:00")},
        {QStringLiteral("schedule_days"), QJsonArray()},
        {QStringLiteral("sort_order"), 0},
        {QStringLiteral("is_system"), true},
        {QStringLiteral("reminder_alarm"), false},
        {QStringLiteral("created_at"), now},
        {QStringLiteral("updated_at"), now},
    };
    const QUrl url =
        transport->restUrl(QStringLiteral("categories"), {{QStringLiteral("on_conflict"), QStringLiteral("id")}});
    const QByteArray created = co_await transport->sendChecked(
        "POST", transport->makeRequest(url, session, "return=representation,resolution=merge-duplicates"),
        Transport::serialize(row));
    co_return firstId(created).value_or(fallback);
}

QCoro::Task<void> insertItem(Transport *transport, OxleSession session, QJsonObject row)
{
    co_await transport->sendChecked("POST", transport->makeRequest(transport->restUrl(QStringLiteral("items")), session,
                                                                 "return=minimal"),
                                   Transport::serialize(row));
}

QCoro::Task<bool> saveLink(Transport *transport, OxleSession session, QString text, std::optional<QString> note,
                           std::optional<QString> categoryID, std::optional<QString> title)
{
    const QString canonical = canonicalURL(text);
    if (co_await findExistingItem(transport, session, canonical))
        co_return true;

    QString list;
    if (categoryID)
        list = *categoryID;
    else
        list = co_await defaultListID(transport, session);
    const qint64 now = nowMillis();
    QJsonObject row{
        {QStringLiteral("id"), makeId()},
        {QStringLiteral("user_id"), session.userId},
        {QStringLiteral("url"), text},
        {QStringLiteral("canonical_url"), canonical},
        {QStringLiteral("content_type"), contentType(text)},
        {QStringLiteral("source_domain"), sourceDomain(text)},
        {QStringLiteral("category_id"), list},
        {QStringLiteral("status"), QString(ItemStatus::Queued)},
        {QStringLiteral("enrichment_status"), QStringLiteral("pending")},
        {QStringLiteral("reminder_alarm"), false},
        {QStringLiteral("skip_count"), 0},
        {QStringLiteral("snooze_count"), 0},
        {QStringLiteral("created_at"), now},
        {QStringLiteral("updated_at"), now},
    };
    if (title && !title->isEmpty())
        row.insert(QStringLiteral("title"), *title);
    if (note)
        row.insert(QStringLiteral("note"), *note);
    co_await insertItem(transport, session, row);
    co_return false;
}

QCoro::Task<bool> saveNote(Transport *transport, OxleSession session, QString text, std::optional<QString> categoryID)
{
    const qint64 now = nowMillis();
    const QString body = trimmed(text);
    const QString id = makeId();
    QString list;
    if (categoryID)
        list = *categoryID;
    else
        list = co_await defaultListID(transport, session);
    const QJsonObject row{
        {QStringLiteral("id"), id},
        {QStringLiteral("user_id"), session.userId},
        {QStringLiteral("url"), QString()},
        {QStringLiteral("canonical_url"), QStringLiteral("note:") + id},
        {QStringLiteral("content_type"), QString(ContentType::Note)},
        {QStringLiteral("title"), noteTitle(body)},
        {QStringLiteral("note"), body},
        {QStringLiteral("category_id"), list},
        {QStringLiteral("status"), QString(ItemStatus::Queued)},
        {QStringLiteral("enrichment_status"), QStringLiteral("enriched")},
        {QStringLiteral("reminder_alarm"), false},
        {QStringLiteral("skip_count"), 0},
        {QStringLiteral("snooze_count"), 0},
        {QStringLiteral("created_at"), now},
        {QStringLiteral("updated_at"), now},
    };
    co_await insertItem(transport, session, row);
    co_return false;
}

} // namespace oxle::ItemReader
