#pragma once

#include "library/SearchIndex.h"

#include <QString>

struct sqlite3;

namespace oxle {

// The search index on Linux: an SQLite database with a full-text (FTS5) table over title, description and
// address, for the desktop's search providers. One row per identifier; a refresh replaces rows and never
// deletes any. Holds nothing but what the records carry (no session, no tokens).
class Fts5SearchIndex : public SearchIndex
{
public:
    // ":memory:" for a private in-memory index.
    explicit Fts5SearchIndex(QString path = defaultPath());
    ~Fts5SearchIndex() override;
    Fts5SearchIndex(const Fts5SearchIndex &) = delete;
    Fts5SearchIndex &operator=(const Fts5SearchIndex &) = delete;

    // $XDG_DATA_HOME/oxle/search-index.sqlite
    static QString defaultPath();

    bool replace(const QList<SearchRecord> &records) override;

    // Every record, ordered by identifier; and the identifiers whose title, description or address match a
    // full-text query. For the search providers and tests.
    QList<SearchRecord> records();
    QStringList search(const QString &query);

private:
    bool open();
    bool exec(const char *sql);

    QString m_path;
    sqlite3 *m_db = nullptr;
};

} // namespace oxle
