#pragma once

#include "core/OxleSession.h"

#include <QJsonObject>
#include <QString>

#include <QCoro/QCoroTask>

#include <optional>

namespace oxle {

class Transport;

// Turns one captured text into one row of the backend's items table. Every way of
// saving ends here. Stateless; every failed request ends the save with its error.
// The transport is borrowed: it must outlive the returned task.
namespace ItemReader {

inline const QString defaultListName = QStringLiteral("Vudevu Zoziv");

// Answers true when a live item with the same canonical URL existed and nothing was written.
// text is used as handed in (callers trim it).
QCoro::Task<bool> saveLink(Transport *transport, OxleSession session, QString text,
                           std::optional<QString> note = std::nullopt, std::optional<QString> categoryID = std::nullopt,
                           std::optional<QString> title = std::nullopt);
// Always answers false on success: notes are never deduplicated.
QCoro::Task<bool> saveNote(Transport *transport, OxleSession session, QString text,
                           std::optional<QString> categoryID = std::nullopt);
// The id of the user's default list, created when missing.
QCoro::Task<QString> defaultListID(Transport *transport, OxleSession session);

QCoro::Task<std::optional<QString>> findExistingItem(Transport *transport, OxleSession session, QString canonical);
QCoro::Task<void> insertItem(Transport *transport, OxleSession session, QJsonObject row);

// The first non-empty line of the note, cut to 80 user-perceived characters with "…".
QString noteTitle(const QString &body);

} // namespace ItemReader

} // namespace oxle
