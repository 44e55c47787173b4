#pragma once

#include <QLoggingCategory>

// The Linux backends' log category (keychain, notifications, search index, hot keys, front tab, timers).
namespace oxle {

Q_DECLARE_LOGGING_CATEGORY(lcPlatformLinux)

} // namespace oxle
