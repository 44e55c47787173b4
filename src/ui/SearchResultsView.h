#pragma once

#include <QWidget>

class QLabel;

namespace oxle {

class ItemListView;
class ScreenHeader;
struct UiContext;

// The items matching the search field, as rows without selection or detail. Every change of the query
// searches again at once; until an answer arrives the previous results stay.
class SearchResultsView : public QWidget
{
    Q_OBJECT
public:
    SearchResultsView(UiContext &context, const QString &query, QWidget *parent = nullptr);

    const QString &query() const { return m_query; }
    void setQuery(const QString &query);
    ItemListView *listView() const { return m_list; }
    bool showsNoMatches() const;

private:
    void refresh();

    UiContext &m_context;
    QString m_query;
    ScreenHeader *m_header;
    ItemListView *m_list;
    QLabel *m_noMatches;
};

} // namespace oxle
