#include "ui/ListFormSheet.h"

#include "ui/DisplayRules.h"
#include "ui/FormRules.h"
#include "ui/UiStyle.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace oxle {

ColorSwatch::ColorSwatch(const QString &colorText, QWidget *parent)
    : QAbstractButton(parent)
    , m_colorText(colorText)
{
    setCheckable(true);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setAccessibleName(QStringLiteral("Colour %1").arg(colorText));
    setToolTip(colorText);
}

void ColorSwatch::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF circle = QRectF(rect()).adjusted(1, 1, -1, -1);
    painter.setPen(Qt::NoPen);
    painter.setBrush(DisplayRules::hexColor(m_colorText).value_or(QColor(Qt::gray)));
    painter.drawEllipse(circle);
    if (isChecked()) {
        // A ring inside the edge, in the primary colour.
        painter.setPen(QPen(UiStyle::primary(palette()), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(circle.adjusted(1, 1, -1, -1));
    }
    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    }
}

ListFormSheet::ListFormSheet(const QString &title, const QString &name, const QString &color, const QString &icon,
                             QWidget *parent)
    : QDialog(parent)
    , m_name(new QLineEdit(name, this))
    , m_icon(icon)
{
    setWindowTitle(title);
    setWindowModality(Qt::WindowModal);
    setAccessibleName(title);
    setFixedWidth(360);

    auto *heading = new QLabel(title, this);
    heading->setFont(UiStyle::font(UiStyle::Headline));

    m_name->setPlaceholderText(QStringLiteral("List name"));
    m_name->setAccessibleName(QStringLiteral("List name"));
    connect(m_name, &QLineEdit::textChanged, this, &ListFormSheet::updateSave);
    // Return in the name field reaches the default button ("Save"); connecting returnPressed as well would save twice.

    auto *swatchRow = new QHBoxLayout;
    swatchRow->setSpacing(10);
    QWidget *previous = m_name;
    for (const QString &entry : ListFormRules::palette()) {
        auto *swatch = new ColorSwatch(entry, this);
        connect(swatch, &ColorSwatch::clicked, this, [this, entry] { setColor(entry); });
        swatchRow->addWidget(swatch);
        setTabOrder(previous, swatch);
        previous = swatch;
        m_swatches.append(swatch);
    }
    swatchRow->addStretch();

    auto *buttons = new QDialogButtonBox(this);
    m_save = buttons->addButton(QStringLiteral("Save"), QDialogButtonBox::AcceptRole);
    QPushButton *cancel = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    m_save->setAccessibleName(QStringLiteral("Save"));
    cancel->setAccessibleName(QStringLiteral("Cancel"));
    m_save->setDefault(true);
    // The accept role would close the sheet on its own; "Save" decides itself whether to close.
    disconnect(buttons, &QDialogButtonBox::accepted, nullptr, nullptr);
    connect(m_save, &QPushButton::clicked, this, &ListFormSheet::save);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    setTabOrder(previous, cancel);
    setTabOrder(cancel, m_save);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(16);
    layout->addWidget(heading);
    layout->addWidget(m_name);
    layout->addLayout(swatchRow);
    layout->addWidget(buttons);

    setColor(color);
    updateSave();
}

QString ListFormSheet::name() const
{
    return m_name->text();
}

void ListFormSheet::setColor(const QString &color)
{
    m_color = color;
    // Only an exact match is ringed: a colour from elsewhere stays chosen with no swatch ringed.
    for (ColorSwatch *swatch : std::as_const(m_swatches))
        swatch->setChecked(swatch->colorText() == color);
}

void ListFormSheet::updateSave()
{
    m_save->setEnabled(ListFormRules::canSave(m_name->text()));
}

void ListFormSheet::save()
{
    if (!ListFormRules::canSave(m_name->text()))
        return;
    Q_EMIT saved(ListFormRules::trimmedName(m_name->text()), m_color, m_icon);
    accept();
}

} // namespace oxle
