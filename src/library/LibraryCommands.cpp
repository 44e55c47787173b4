#include "library/LibraryCommands.h"

#include "core/Account.h"
#include "core/Errors.h"
#include "library/AppData.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Qt::Literals::StringLiterals;

namespace oxle {

namespace {

constexpr int exitOk = 0;
constexpr int exitUsage = 1;
constexpr int exitFailure = 2;

const QString kInbox = u"inbox"_s;
const QString kNotes = u"notes"_s;

struct Parsed
{
    QString command;
    QStringList operands;
    bool json = false;
    bool help = false;
    QString badOption; // set when an unknown option was given
};

Parsed parse(const QStringList &args)
{
    Parsed parsed;
    bool optionsEnded = false;
    for (const QString &arg : args) {
        if (!optionsEnded && arg.startsWith(u'-') && arg.size() > 1) {
            if (arg == u"--json"_s)
                parsed.json = true;
            else if (arg == u"-h"_s || arg == u"--help"_s)
                parsed.help = true;
            else if (arg == u"--"_s)
                optionsEnded = true;
            else if (parsed.badOption.isEmpty())
                parsed.badOption = arg;
            continue;
        }
        if (parsed.command.isEmpty())
            parsed.command = arg;
        else
            parsed.operands.append(arg);
    }
    return parsed;
}

QString isoTime(qint64 millis)
{
    return QDateTime::fromMSecsSinceEpoch(millis, Qt::UTC).toString(Qt::ISODateWithMs);
}

QJsonValue optionalText(const std::optional<QString> &value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

QJsonValue optionalMillis(const std::optional<qint64> &value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

void writeJson(QTextStream &out, const QJsonArray &array)
{
    out << QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented));
}

void writeRow(QTextStream &out, const QStringList &fields)
{
    QStringList escaped;
    escaped.reserve(fields.size());
    for (const QString &field : fields)
        escaped.append(escapeField(field));
    out << escaped.join(u'\t') << u'\n';
}

void writeLists(QTextStream &out, const AppData &data, bool json)
{
    QJsonArray array;
    for (const Category &category : data.categories()) {
        const bool shared = data.isSharedList(category.id);
        const int count = data.counts().value(category.id, 0);
        if (json) {
            array.append(QJsonObject{{u"id"_s, category.id},
                                     {u"name"_s, category.name},
                                     {u"shared"_s, shared},
                                     {u"count"_s, count},
                                     {u"color"_s, optionalText(category.color)},
                                     {u"icon"_s, optionalText(category.icon)},
                                     {u"isSystem"_s, category.isSystem},
                                     {u"sortOrder"_s, category.sortOrder},
                                     {u"createdAt"_s, category.createdAt}});
        } else {
            writeRow(out, {category.id, category.name, shared ? u"shared"_s : u"own"_s, QString::number(count)});
        }
    }
    if (json)
        writeJson(out, array);
}

void writeItems(QTextStream &out, const QList<Item> &items, bool json)
{
    QJsonArray array;
    for (const Item &item : items) {
        if (json) {
            array.append(QJsonObject{{u"id"_s, item.id},
                                     {u"url"_s, item.url},
                                     {u"title"_s, optionalText(item.title)},
                                     {u"displayTitle"_s, item.displayTitle()},
                                     {u"note"_s, optionalText(item.note)},
                                     {u"sourceDomain"_s, optionalText(item.sourceDomain)},
                                     {u"contentType"_s, item.contentType},
                                     {u"categoryId"_s, optionalText(item.categoryId)},
                                     {u"status"_s, item.status},
                                     {u"createdAt"_s, item.createdAt},
                                     {u"reminderOverrideAt"_s, optionalMillis(item.reminderOverrideAt)},
                                     {u"thumbnailUrl"_s, optionalText(item.thumbnailUrl)}});
        } else {
            writeRow(out, {item.id, item.status, item.contentType, isoTime(item.createdAt),
                           item.reminderOverrideAt ? isoTime(*item.reminderOverrideAt) : QString(),
                           item.displayTitle(), item.url, item.note.value_or(QString())});
        }
    }
    if (json)
        writeJson(out, array);
}

int usageError(QTextStream &err, const QString &message)
{
    err << message << u'\n' << libraryCommandUsage();
    err.flush();
    return exitUsage;
}

int failure(QTextStream &err, const AppData &data)
{
    err << data.errorText().value_or(u"The request failed."_s) << u'\n';
    err.flush();
    return exitFailure;
}

} // namespace

bool isLibraryCommand(const QString &name)
{
    return name == u"lists"_s || name == u"items"_s || name == u"search"_s;
}

QString libraryCommandUsage()
{
    return u"usage:\n"
           "  oxle lists [--json]                       own lists, then shared lists, with item counts\n"
           "  oxle items LIST_ID|inbox|notes [--json]   items of a list, the inbox or the notes\n"
           "  oxle search [--json] [--] QUERY...        own items matching the words (at most 50)\n"
           "Rows are tab-separated; inside a field \\\\, \\t, \\n and \\r stand for a backslash, a tab,\n"
           "a line feed and a carriage return.\n"_s;
}

QString escapeField(const QString &text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'\\':
            escaped += u"\\\\"_s;
            break;
        case u'\t':
            escaped += u"\\t"_s;
            break;
        case u'\n':
            escaped += u"\\n"_s;
            break;
        case u'\r':
            escaped += u"\\r"_s;
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

QCoro::Task<int> runLibraryCommand(QStringList args, AppData *data, QTextStream *out, QTextStream *err)
{
    const Parsed parsed = parse(args);
    if (parsed.help) {
        *out << libraryCommandUsage();
        out->flush();
        co_return exitOk;
    }
    if (!parsed.badOption.isEmpty())
        co_return usageError(*err, u"Unknown option "_s + parsed.badOption + u'.');
    if (!isLibraryCommand(parsed.command))
        co_return usageError(*err, parsed.command.isEmpty() ? u"Missing command."_s
                                                           : u"Unknown command "_s + parsed.command + u'.');
    if (parsed.command == u"lists"_s && !parsed.operands.isEmpty())
        co_return usageError(*err, u"lists takes no arguments."_s);
    if (parsed.command == u"items"_s && parsed.operands.size() != 1)
        co_return usageError(*err, u"items takes one list id, inbox or notes."_s);
    if (parsed.command == u"search"_s && parsed.operands.isEmpty())
        co_return usageError(*err, u"search needs the words to look for."_s);

    // The store's loads return silently without a session; a script needs to know why nothing came back.
    bool signedIn = true;
    QString sessionError;
    try {
        co_await data->account().validSession();
    } catch (const AuthError &error) {
        signedIn = false;
        if (error.kind() != AuthError::Kind::NoSession)
            sessionError = error.description();
    } catch (const Error &error) {
        signedIn = false;
        sessionError = error.description();
    }
    if (!signedIn) {
        *err << (sessionError.isEmpty() ? u"Sign in to oxle first."_s : sessionError) << u'\n';
        err->flush();
        co_return exitFailure;
    }
    data->clearErrorText();

    if (parsed.command == u"lists"_s) {
        const bool listsLoaded = co_await data->loadCategories();
        if (!listsLoaded)
            co_return failure(*err, *data);
        const bool countsLoaded = co_await data->loadCounts();
        if (!countsLoaded)
            co_return failure(*err, *data);
        writeLists(*out, *data, parsed.json);
    } else if (parsed.command == u"items"_s) {
        const QString which = parsed.operands.constFirst();
        if (which == kInbox) {
            if (!co_await data->loadInbox())
                co_return failure(*err, *data);
            writeItems(*out, data->inboxItems(), parsed.json);
        } else if (which == kNotes) {
            if (!co_await data->loadNotes())
                co_return failure(*err, *data);
            writeItems(*out, data->notes(), parsed.json);
        } else {
            // The lists decide whether the id is a shared list, whose items come from another table.
            if (!co_await data->loadCategories())
                co_return failure(*err, *data);
            bool known = false;
            for (const Category &category : data->categories())
                known = known || category.id == which;
            if (!known) {
                *err << u"No list with the id "_s << which << u".\n"_s;
                err->flush();
                co_return exitFailure;
            }
            if (!co_await data->loadItems(which))
                co_return failure(*err, *data);
            writeItems(*out, data->items(), parsed.json);
        }
    } else {
        if (!co_await data->search(parsed.operands.join(u' ')))
            co_return failure(*err, *data);
        writeItems(*out, data->searchResults(), parsed.json);
    }
    out->flush();
    co_return exitOk;
}

} // namespace oxle
