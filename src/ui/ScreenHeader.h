#pragma once

#include <QToolBar>

class QLabel;

namespace oxle {

// The strip above a screen: its title on the left, its commands on the right.
class ScreenHeader : public QToolBar
{
    Q_OBJECT
public:
    explicit ScreenHeader(const QString &title, QWidget *parent = nullptr);
    void setTitle(const QString &title);
    QString title() const;
    // Adds a command button for the action (text beside its icon) and returns its widget.
    QWidget *addCommand(QAction *action);

private:
    QLabel *m_title;
};

} // namespace oxle
