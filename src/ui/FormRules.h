#pragma once

// When the list form and the add-item sheet may save, and what they hand on.

#include "core/Records.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace oxle {

namespace ListFormRules {

// The swatches of the list form, in the order shown.
const QStringList &palette();
inline const QString defaultIcon = QStringLiteral("sparkles");

// The name as saved: spaces and tabs trimmed, line breaks kept.
QString trimmedName(const QString &name);
bool canSave(const QString &name);
// The edit form starts from the list's own colour and icon, whatever they are, or the defaults when absent.
QString initialColor(const std::optional<QString> &color);
QString initialIcon(const std::optional<QString> &icon);

} // namespace ListFormRules

namespace AddSheetRules {

// "Add" is enabled by text other than spaces and tabs and a chosen list. Only those are tested here, so text of
// line breaks alone enables it; textToAdd then refuses it.
bool addEnabled(const QString &text, const QString &categoryID);
// The text handed to the store, trimmed of white space and line breaks, or nothing when the sheet should stay open.
std::optional<QString> textToAdd(const QString &text, const QString &categoryID);
// The preselected list: the default when given, else the first list, else none ("").
QString initialCategoryID(const QList<Category> &categories, const std::optional<QString> &defaultID);

} // namespace AddSheetRules

} // namespace oxle
