#include "ui/SearchResultsView.h"

#include "library/AppData.h"
#include "ui/ItemListView.h"
#include "ui/ScreenHeader.h"
#include "ui/UiContext.h"
#include "ui/UiStyle.h"

#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace oxle {

SearchResultsView::SearchResultsView(UiContext &context, const QString &query, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
    , m_header(new ScreenHeader(QStringLiteral("Search"), this))
    , m_list(new ItemListView(context, this))
    , m_noMatches(new QLabel(QStringLiteral("No matches"), this))
{
    m_list->setAccessibleName(QStringLiteral("Search results"));
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    m_noMatches->setAlignment(Qt::AlignCenter);
    m_noMatches->setAttribute(Qt::WA_TransparentForMouseEvents);
    UiStyle::setSecondary(m_noMatches);

    // "No matches" is drawn over the (empty) list.
    auto *body = new QGridLayout;
    body->addWidget(m_list, 0, 0);
    body->addWidget(m_noMatches, 0, 0);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_header);
    layout->addLayout(body, 1);

    connect(&m_context.data, &AppData::searchResultsChanged, this, &SearchResultsView::refresh);
    refresh();
    setQuery(query);
}

void SearchResultsView::setQuery(const QString &query)
{
    if (query == m_query && !query.isEmpty())
        return;
    m_query = query;
    // Searches overlap freely; the store publishes whichever finishes last.
    m_context.data.search(query);
}

bool SearchResultsView::showsNoMatches() const
{
    return !m_noMatches->isHidden();
}

void SearchResultsView::refresh()
{
    m_list->setItems(m_context.data.searchResults());
    m_noMatches->setVisible(m_context.data.searchResults().isEmpty());
}

} // namespace oxle
