#pragma once

#include "library/SearchIndex.h"

#include <QString>
#include <QStringList>

struct sqlite3;

namespace oxle {

// The search index on Linux: an SQLite database with a full-text (FTS5) table over title, description and
// address, for the desktop's search providers. One row per identifier; a refresh replaces rows and never
// deletes any. Holds nothing but what the records carry (no session, no tokens).
class Fts5SearchIndex : public SearchIndex
{
public:
    // The indexer writes; the desktop's search providers only read, and never create the file: until the
    // first save there is simply nothing to find.
    enum class Access : quint8 { ReadWrite, ReadOnly };

    // ":memory:" for a private in-memory index.
    explicit Fts5SearchIndex(QString path = defaultPath(), Access access = Access::ReadWrite);
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

    // What the desktop's search shows for text the user typed: the records in which every word is the start
    // of a word of the title, description or address, best first (a hit in the title counts most), at most
    // `limit`. Text of fewer than two characters finds nothing. The words are matched as plain text, never
    // read as query syntax.
    static constexpr int maxMatches = 20;
    QList<SearchRecord> match(const QString &text, int limit = maxMatches);
    // The full-text query that match() runs for `text`; empty when the text finds nothing.
    static QString matchExpression(const QString &text);
    // The records with these identifiers, in the order asked; unknown identifiers are left out.
    QList<SearchRecord> recordsFor(const QStringList &identifiers);

private:
    bool open();
    bool exec(const char *sql);

    QString m_path;
    Access m_access;
    sqlite3 *m_db = nullptr;
};

} // namespace oxle
