#include "ui/InboxView.h"

#include "library/AppData.h"
#include "ui/ItemsSplitPane.h"
#include "ui/ScreenHeader.h"
#include "ui/UiContext.h"

#include <QVBoxLayout>

namespace oxle {

InboxView::InboxView(UiContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
    , m_header(new ScreenHeader(QStringLiteral("Inbox"), this))
    , m_split(new ItemsSplitPane(context, QStringLiteral("tray"), QStringLiteral("Inbox is empty"), this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_header);
    layout->addWidget(m_split, 1);
    connect(&m_context.data, &AppData::inboxItemsChanged, this, &InboxView::refresh);
    connect(&m_context.data, &AppData::sharedCategoryIDsChanged, this, &InboxView::refresh);
    refresh();
    m_context.data.loadInbox();
}

void InboxView::refresh()
{
    m_split->setItems(m_context.data.inboxItems(), m_context.data.inboxItems());
}

} // namespace oxle
