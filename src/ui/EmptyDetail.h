#pragma once

#include <QWidget>

class QLabel;

namespace oxle {

// The centred symbol and line of text shown where a list, a detail or a selection is empty.
class EmptyDetail : public QWidget
{
    Q_OBJECT
public:
    EmptyDetail(const QString &symbol, const QString &text, QWidget *parent = nullptr);

    QString text() const;
    void setContent(const QString &symbol, const QString &text);

private:
    QLabel *m_symbol;
    QLabel *m_text;
};

} // namespace oxle
