#include "ui/FormRules.h"

#include "ui/DisplayRules.h"

namespace oxle {

namespace ListFormRules {

const QStringList &palette()
{
    static const QStringList colors {
        QStringLiteral("#536878"),
        QStringLiteral("#E5484D"),
        QStringLiteral("#F76808"),
        QStringLiteral("#F5D90A"),
        QStringLiteral("#30A46C"),
        QStringLiteral("#0091FF"),
        QStringLiteral("#8E4EC6"),
        QStringLiteral("#E93D82"),
    };
    return colors;
}

QString trimmedName(const QString &name)
{
    return DisplayRules::trimBlanks(name);
}

bool canSave(const QString &name)
{
    return !trimmedName(name).isEmpty();
}

QString initialColor(const std::optional<QString> &color)
{
    return color.value_or(DisplayRules::accentColorText);
}

QString initialIcon(const std::optional<QString> &icon)
{
    return icon.value_or(defaultIcon);
}

} // namespace ListFormRules

namespace AddSheetRules {

bool addEnabled(const QString &text, const QString &categoryID)
{
    return !DisplayRules::trimBlanks(text).isEmpty() && !categoryID.isEmpty();
}

std::optional<QString> textToAdd(const QString &text, const QString &categoryID)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || categoryID.isEmpty())
        return std::nullopt;
    return trimmed;
}

QString initialCategoryID(const QList<Category> &categories, const std::optional<QString> &defaultID)
{
    if (defaultID)
        return *defaultID;
    return categories.isEmpty() ? QString() : categories.first().id;
}

} // namespace AddSheetRules

} // namespace oxle
