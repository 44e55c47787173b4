#pragma once

#include <QPlainTextEdit>

namespace oxle {

// A text field that grows with its text from minLines to maxLines and then scrolls. Return submits; Shift+Return
// (or Alt+Return) starts a new line, as in a chat field. Tab moves the focus on instead of inserting a tab.
class GrowingTextEdit : public QPlainTextEdit
{
    Q_OBJECT
public:
    GrowingTextEdit(int minLines, int maxLines, QWidget *parent = nullptr);

    QString text() const { return toPlainText(); }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    void submitted();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    int heightForLines(int lines) const;
    void updateHeight();

    int m_minLines;
    int m_maxLines;
};

} // namespace oxle
