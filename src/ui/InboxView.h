#pragma once

#include <QWidget>

namespace oxle {

class ItemsSplitPane;
class ScreenHeader;
struct UiContext;

// The items without a list, as rows with a detail pane.
class InboxView : public QWidget
{
    Q_OBJECT
public:
    explicit InboxView(UiContext &context, QWidget *parent = nullptr);
    ItemsSplitPane *splitPane() const { return m_split; }

private:
    void refresh();

    UiContext &m_context;
    ScreenHeader *m_header;
    ItemsSplitPane *m_split;
};

} // namespace oxle
