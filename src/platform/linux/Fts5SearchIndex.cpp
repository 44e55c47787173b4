#include "platform/linux/Fts5SearchIndex.h"

#include "platform/linux/Logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTextBoundaryFinder>
#include <sqlite3.h>

#include <algorithm>

namespace oxle {

namespace {

// Rows live in a plain table keyed by identifier (so a record is replaced in place); the full-text table
// mirrors it through triggers, as SQLite's external-content tables expect.
const char schema[] = R"sql(
CREATE TABLE IF NOT EXISTS records (
    id INTEGER PRIMARY KEY,
    identifier TEXT NOT NULL UNIQUE,
    domain TEXT NOT NULL,
    title TEXT NOT NULL,
    description TEXT,
    url TEXT
);
CREATE VIRTUAL TABLE IF NOT EXISTS records_fts USING fts5(
    title, description, url, content='records', content_rowid='id');
CREATE TRIGGER IF NOT EXISTS records_ai AFTER INSERT ON records BEGIN
    INSERT INTO records_fts(rowid, title, description, url) VALUES (new.id, new.title, new.description, new.url);
END;
CREATE TRIGGER IF NOT EXISTS records_ad AFTER DELETE ON records BEGIN
    INSERT INTO records_fts(records_fts, rowid, title, description, url)
        VALUES ('delete', old.id, old.title, old.description, old.url);
END;
CREATE TRIGGER IF NOT EXISTS records_au AFTER UPDATE ON records BEGIN
    INSERT INTO records_fts(records_fts, rowid, title, description, url)
        VALUES ('delete', old.id, old.title, old.description, old.url);
    INSERT INTO records_fts(rowid, title, description, url) VALUES (new.id, new.title, new.description, new.url);
END;
)sql";

const char upsertSql[] = "INSERT INTO records (identifier, domain, title, description, url) VALUES (?1, ?2, ?3, ?4, ?5)"
                         " ON CONFLICT(identifier) DO UPDATE SET domain = excluded.domain, title = excluded.title,"
                         " description = excluded.description, url = excluded.url";

// Owns a prepared statement for one scope.
struct Statement
{
    sqlite3_stmt *handle = nullptr;
    Statement(sqlite3 *db, const char *sql) { sqlite3_prepare_v2(db, sql, -1, &handle, nullptr); }
    ~Statement() { sqlite3_finalize(handle); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;
};

void bindText(sqlite3_stmt *statement, int index, const std::optional<QString> &text)
{
    if (!text) {
        sqlite3_bind_null(statement, index);
        return;
    }
    const QByteArray utf8 = text->toUtf8();
    sqlite3_bind_text(statement, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

std::optional<QString> columnText(sqlite3_stmt *statement, int index)
{
    if (sqlite3_column_type(statement, index) == SQLITE_NULL)
        return std::nullopt;
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(statement, index));
    return QString::fromUtf8(text, sqlite3_column_bytes(statement, index));
}

} // namespace

Fts5SearchIndex::Fts5SearchIndex(QString path, Access access)
    : m_path(std::move(path))
    , m_access(access)
{ }

Fts5SearchIndex::~Fts5SearchIndex()
{
    sqlite3_close(m_db);
}

QString Fts5SearchIndex::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/oxle/search-index.sqlite");
}

bool Fts5SearchIndex::exec(const char *sql)
{
    char *message = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    qCWarning(lcPlatformLinux) << "search index:" << message;
    sqlite3_free(message);
    return false;
}

// Opened on first use, so that a process that never indexes never creates the file.
bool Fts5SearchIndex::open()
{
    if (m_db)
        return true;
    const bool inMemory = m_path == QLatin1String(":memory:");
    if (m_access == Access::ReadOnly) {
        // Nothing saved yet: no file, nothing to find. Asked again at the next search.
        if (inMemory || !QFileInfo::exists(m_path))
            return false;
        if (sqlite3_open_v2(m_path.toUtf8().constData(), &m_db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
            qCWarning(lcPlatformLinux) << "search index: cannot read" << m_path;
            sqlite3_close(m_db);
            m_db = nullptr;
            return false;
        }
        // The index is in write-ahead mode, so readers do not wait for the indexer; a file from before that
        // may still be locked for a moment by a write.
        sqlite3_busy_timeout(m_db, 250);
        return true;
    }
    if (!inMemory) {
        // The reading list is private: the folder and the file are the user's alone.
        const QString folder = QFileInfo(m_path).absolutePath();
        if (!QDir().mkpath(folder))
            return false;
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    if (sqlite3_open_v2(m_path.toUtf8().constData(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr)
        != SQLITE_OK) {
        qCWarning(lcPlatformLinux) << "search index: cannot open" << m_path;
        sqlite3_close(m_db);
        m_db = nullptr;
        return false;
    }
    if (!inMemory) {
        QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner);
        // Write-ahead logging: the search providers read while a refresh writes, and neither waits.
        exec("PRAGMA journal_mode=WAL");
    }
    sqlite3_busy_timeout(m_db, 2000); // a reader of a file from before write-ahead mode
    if (!exec(schema)) {
        sqlite3_close(m_db);
        m_db = nullptr;
        return false;
    }
    return true;
}

bool Fts5SearchIndex::replace(const QList<SearchRecord> &records)
{
    if (!open() || !exec("BEGIN IMMEDIATE"))
        return false;
    Statement upsert(m_db, upsertSql);
    bool ok = upsert.handle != nullptr;
    for (const SearchRecord &record : records) {
        if (!ok)
            break;
        sqlite3_reset(upsert.handle);
        bindText(upsert.handle, 1, record.identifier);
        bindText(upsert.handle, 2, record.domain);
        bindText(upsert.handle, 3, record.title);
        bindText(upsert.handle, 4, record.description);
        bindText(upsert.handle, 5, record.url);
        ok = sqlite3_step(upsert.handle) == SQLITE_DONE;
    }
    if (ok && exec("COMMIT"))
        return true;
    qCWarning(lcPlatformLinux) << "search index: write failed:" << sqlite3_errmsg(m_db);
    exec("ROLLBACK");
    return false;
}

QList<SearchRecord> Fts5SearchIndex::records()
{
    QList<SearchRecord> result;
    if (!open())
        return result;
    Statement select(m_db, "SELECT identifier, domain, title, description, url FROM records ORDER BY identifier");
    while (select.handle && sqlite3_step(select.handle) == SQLITE_ROW) {
        result.append(SearchRecord { columnText(select.handle, 0).value_or(QString()),
            columnText(select.handle, 1).value_or(QString()), columnText(select.handle, 2).value_or(QString()),
            columnText(select.handle, 3), columnText(select.handle, 4) });
    }
    return result;
}

QStringList Fts5SearchIndex::search(const QString &query)
{
    QStringList result;
    if (!open())
        return result;
    Statement select(m_db,
        "SELECT r.identifier FROM records_fts JOIN records r ON r.id = records_fts.rowid"
        " WHERE records_fts MATCH ?1 ORDER BY rank");
    bindText(select.handle, 1, query);
    while (select.handle && sqlite3_step(select.handle) == SQLITE_ROW)
        result.append(columnText(select.handle, 0).value_or(QString()));
    return result;
}

QString Fts5SearchIndex::matchExpression(const QString &text)
{
    // Control characters (a pasted NUL) separate words like spaces do.
    QString cleaned = text;
    for (QChar &character : cleaned) {
        if (character.category() == QChar::Other_Control)
            character = QLatin1Char(' ');
    }
    cleaned = cleaned.simplified(); // every kind of white space, one plain space between words

    // Fewer than two characters as the user sees them (an accented letter or an emoji is one) find nothing.
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, cleaned);
    int characters = 0;
    while (characters < 2 && graphemes.toNextBoundary() != -1)
        ++characters;
    if (characters < 2)
        return {};

    // Each word becomes a quoted string with a prefix mark: inside quotes, query syntax (AND, NEAR(, -, :, *,
    // parentheses) is plain text, and a quote is written twice. A word with no letter or digit (a lone "-")
    // holds nothing the index could match and is left out.
    QStringList terms;
    const QStringList words = cleaned.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString &word : words) {
        if (std::none_of(word.begin(), word.end(), [](QChar character) { return character.isLetterOrNumber(); }))
            continue;
        QString quoted = word;
        quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
        terms.append(QLatin1Char('"') + quoted + QLatin1String("\"*"));
    }
    return terms.join(QLatin1Char(' '));
}

QList<SearchRecord> Fts5SearchIndex::match(const QString &text, int limit)
{
    QList<SearchRecord> result;
    const QString expression = matchExpression(text);
    if (expression.isEmpty() || limit <= 0 || !open())
        return result;
    // bm25 weights per column: title, description, address.
    Statement select(m_db,
        "SELECT r.identifier, r.domain, r.title, r.description, r.url FROM records_fts"
        " JOIN records r ON r.id = records_fts.rowid WHERE records_fts MATCH ?1"
        " ORDER BY bm25(records_fts, 10.0, 3.0, 1.0), r.identifier LIMIT ?2");
    if (!select.handle) {
        qCDebug(lcPlatformLinux) << "search index: cannot search:" << sqlite3_errmsg(m_db);
        return result;
    }
    bindText(select.handle, 1, expression);
    sqlite3_bind_int(select.handle, 2, limit);
    int status = SQLITE_ROW;
    while ((status = sqlite3_step(select.handle)) == SQLITE_ROW) {
        result.append(SearchRecord { columnText(select.handle, 0).value_or(QString()),
            columnText(select.handle, 1).value_or(QString()), columnText(select.handle, 2).value_or(QString()),
            columnText(select.handle, 3), columnText(select.handle, 4) });
    }
    if (status != SQLITE_DONE)
        qCWarning(lcPlatformLinux) << "search index: search failed:" << sqlite3_errmsg(m_db);
    return result;
}

QList<SearchRecord> Fts5SearchIndex::recordsFor(const QStringList &identifiers)
{
    QList<SearchRecord> result;
    if (identifiers.isEmpty() || !open())
        return result;
    Statement select(m_db, "SELECT identifier, domain, title, description, url FROM records WHERE identifier = ?1");
    if (!select.handle)
        return result;
    for (const QString &identifier : identifiers) {
        sqlite3_reset(select.handle);
        bindText(select.handle, 1, identifier);
        if (sqlite3_step(select.handle) == SQLITE_ROW) {
            result.append(SearchRecord { columnText(select.handle, 0).value_or(QString()),
                columnText(select.handle, 1).value_or(QString()), columnText(select.handle, 2).value_or(QString()),
                columnText(select.handle, 3), columnText(select.handle, 4) });
        }
    }
    return result;
}

} // namespace oxle
