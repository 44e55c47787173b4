#pragma once

// How an item, a note and a list colour are shown wherever they appear: rows, cards, the detail pane, the
// notes list and the sidebar. Pure functions, so the views only paint what these return.

#include "core/Records.h"

#include <QColor>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QTimeZone>
#include <optional>

namespace oxle::DisplayRules {

inline const QString accentColorText = QStringLiteral("#536878");

// Trims white space, drops one leading '#', then takes exactly six hexadecimal digits as an opaque sRGB colour.
// Anything else yields no colour; the caller picks its own fallback.
std::optional<QColor> hexColor(const QString &text);
QColor accentColor();

// createdAt (epoch ms) relative to now in the locale's abbreviated wording ("2 hr. ago", "3 days ago"), in the
// largest calendar unit that fits (years, months, weeks, days, hours, minutes, seconds), counted in now's zone.
QString relativeTime(qint64 createdAtMillis, const QDateTime &now, const QLocale &locale = QLocale());
// "domain · relative time", or the relative time alone when the item has no domain.
QString subtitle(const Item &item, const QDateTime &now, const QLocale &locale = QLocale());
// One line of a note's body for the notes list: without a leading copy of the title, line feeds as spaces.
QString notePreview(const Item &note);
// "Reminder: " and the time as a medium date with a short time, in the locale and zone.
QString reminderText(
    qint64 millis, const QLocale &locale = QLocale(), const QTimeZone &zone = QTimeZone::systemTimeZone());

// Trims Unicode space separators and tabs from both ends but keeps line breaks: the rule for names and
// previews, where a trailing newline is content rather than padding.
QString trimBlanks(const QString &text);

} // namespace oxle::DisplayRules
