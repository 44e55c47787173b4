#include "ui/AddItemSheet.h"

#include "ui/FormRules.h"
#include "ui/GrowingTextEdit.h"
#include "ui/UiStyle.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace oxle {

AddItemSheet::AddItemSheet(const QList<Category> &categories, const std::optional<QString> &defaultCategoryID,
                           QWidget *parent)
    : QDialog(parent)
    , m_text(new GrowingTextEdit(1, 4, this))
    , m_list(new QComboBox(this))
{
    setWindowTitle(QStringLiteral("Add to oxle"));
    setWindowModality(Qt::WindowModal);
    setFixedWidth(420);

    auto *heading = new QLabel(QStringLiteral("Add to oxle"), this);
    heading->setFont(UiStyle::font(UiStyle::Headline));

    m_text->setPlaceholderText(QStringLiteral("Paste a link or write a note"));
    m_text->setAccessibleName(QStringLiteral("Link or note"));
    connect(m_text, &QPlainTextEdit::textChanged, this, &AddItemSheet::updateAdd);
    connect(m_text, &GrowingTextEdit::submitted, this, &AddItemSheet::add);

    for (const Category &category : categories)
        m_list->addItem(category.name, category.id);
    m_list->setAccessibleName(QStringLiteral("List"));
    const QString initial = AddSheetRules::initialCategoryID(categories, defaultCategoryID);
    m_list->setCurrentIndex(m_list->findData(initial));
    connect(m_list, &QComboBox::currentIndexChanged, this, &AddItemSheet::updateAdd);

    auto *form = new QFormLayout;
    form->setContentsMargins(0, 0, 0, 0);
    auto *listLabel = new QLabel(QStringLiteral("List"), this);
    listLabel->setBuddy(m_list);
    form->addRow(listLabel, m_list);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *cancel = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    m_add = buttons->addButton(QStringLiteral("Add"), QDialogButtonBox::AcceptRole);
    cancel->setAccessibleName(QStringLiteral("Cancel"));
    m_add->setAccessibleName(QStringLiteral("Add"));
    m_add->setDefault(true);
    disconnect(buttons, &QDialogButtonBox::accepted, nullptr, nullptr);
    connect(m_add, &QPushButton::clicked, this, &AddItemSheet::add);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(14);
    layout->addWidget(heading);
    layout->addWidget(m_text);
    layout->addLayout(form);
    layout->addWidget(buttons);

    setTabOrder(m_text, m_list);
    setTabOrder(m_list, cancel);
    setTabOrder(cancel, m_add);
    m_text->setFocus();
    updateAdd();
}

QString AddItemSheet::categoryID() const
{
    return m_list->currentIndex() >= 0 ? m_list->currentData().toString() : QString();
}

void AddItemSheet::updateAdd()
{
    m_add->setEnabled(AddSheetRules::addEnabled(m_text->text(), categoryID()));
}

void AddItemSheet::add()
{
    const auto text = AddSheetRules::textToAdd(m_text->text(), categoryID());
    if (!text)
        return;
    Q_EMIT added(*text, categoryID());
    accept();
}

} // namespace oxle
