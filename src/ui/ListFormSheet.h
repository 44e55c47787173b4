#pragma once

#include <QAbstractButton>
#include <QDialog>
#include <QList>

class QDialogButtonBox;
class QLineEdit;
class QPushButton;

namespace oxle {

// One colour of the list form: a filled circle, ringed when it is the chosen colour.
class ColorSwatch : public QAbstractButton
{
    Q_OBJECT
public:
    ColorSwatch(const QString &colorText, QWidget *parent = nullptr);
    const QString &colorText() const { return m_colorText; }
    QSize sizeHint() const override { return {22, 22}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_colorText;
};

// The sheet that names a list and picks its colour, for a new list and for editing one. The icon is passed
// through unchanged. It saves nothing itself: `saved` carries the trimmed name, the colour and the icon.
class ListFormSheet : public QDialog
{
    Q_OBJECT
public:
    ListFormSheet(const QString &title, const QString &name, const QString &color, const QString &icon,
                  QWidget *parent = nullptr);

    QString name() const;
    const QString &color() const { return m_color; }
    QLineEdit *nameField() const { return m_name; }
    QPushButton *saveButton() const { return m_save; }
    const QList<ColorSwatch *> &swatches() const { return m_swatches; }

    // "Save": does nothing while the trimmed name is empty.
    void save();

Q_SIGNALS:
    void saved(const QString &name, const QString &color, const QString &icon);

private:
    void setColor(const QString &color);
    void updateSave();

    QLineEdit *m_name;
    QPushButton *m_save;
    QList<ColorSwatch *> m_swatches;
    QString m_color;
    QString m_icon;
};

} // namespace oxle
