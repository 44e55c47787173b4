#pragma once

#include <QLoggingCategory>

// The reminders' log category (scheduling and the notifications they become).
namespace oxle {

Q_DECLARE_LOGGING_CATEGORY(lcReminders)

} // namespace oxle
