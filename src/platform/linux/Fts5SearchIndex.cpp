#include "platform/linux/Fts5SearchIndex.h"

#include "platform/linux/Logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <sqlite3.h>

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

Fts5SearchIndex::Fts5SearchIndex(QString path)
    : m_path(std::move(path))
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
    if (m_path != QLatin1String(":memory:")) {
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
    if (m_path != QLatin1String(":memory:"))
        QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner);
    sqlite3_busy_timeout(m_db, 2000); // a search provider may be reading
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

} // namespace oxle
