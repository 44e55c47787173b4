#include "ui/ItemsSplitPane.h"

#include "ui/EmptyDetail.h"
#include "ui/ItemDetailView.h"
#include "ui/ItemListView.h"

#include <QStackedWidget>

namespace oxle {

ItemsSplitPane::ItemsSplitPane(UiContext &context, const QString &emptySymbol, const QString &emptyText, QWidget *parent)
    : QSplitter(Qt::Horizontal, parent)
    , m_context(context)
    , m_left(new QStackedWidget(this))
    , m_list(new ItemListView(context, m_left))
    , m_emptyList(new EmptyDetail(emptySymbol, emptyText, m_left))
    , m_right(new QStackedWidget(this))
    , m_detail(new ItemDetailView(context, m_right))
    , m_noSelection(new EmptyDetail(QStringLiteral("sidebar.right"), QStringLiteral("Select an item"), m_right))
{
    setChildrenCollapsible(false);
    m_left->addWidget(m_list);
    m_left->addWidget(m_emptyList);
    m_left->setMinimumWidth(340);
    m_right->addWidget(m_noSelection);
    m_right->addWidget(m_detail);
    m_right->setMinimumWidth(320);
    addWidget(m_left);
    addWidget(m_right);
    setStretchFactor(0, 1);
    setStretchFactor(1, 1);
    m_list->setAccessibleName(QStringLiteral("Items"));
    connect(m_list, &ItemListView::selectedItemChanged, this, [this](const std::optional<QString> &id) {
        m_selectedID = id;
        updateDetail();
    });
    updateDetail();
}

void ItemsSplitPane::setItems(const QList<Item> &rows, const QList<Item> &items)
{
    m_items = items;
    m_list->setItems(rows);
    m_list->selectItem(m_selectedID);
    m_left->setCurrentWidget(rows.isEmpty() ? static_cast<QWidget *>(m_emptyList) : m_list);
    updateDetail();
}

bool ItemsSplitPane::showsEmptyList() const
{
    return m_left->currentWidget() == m_emptyList;
}

bool ItemsSplitPane::showsDetail() const
{
    return m_right->currentWidget() == m_detail;
}

void ItemsSplitPane::setSelectedItemID(const std::optional<QString> &itemID)
{
    m_selectedID = itemID;
    m_list->selectItem(itemID);
    updateDetail();
}

std::optional<Item> ItemsSplitPane::selectedItem() const
{
    if (!m_selectedID)
        return std::nullopt;
    for (const Item &item : m_items)
        if (item.id == *m_selectedID)
            return item;
    return std::nullopt;
}

void ItemsSplitPane::updateDetail()
{
    if (const auto item = selectedItem()) {
        m_detail->setItem(*item);
        m_right->setCurrentWidget(m_detail);
    } else {
        m_right->setCurrentWidget(m_noSelection);
    }
}

} // namespace oxle
