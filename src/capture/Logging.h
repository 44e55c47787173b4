#pragma once

#include <QLoggingCategory>

// The capture module's log category (saving links and the browser's front tab).
namespace oxle {

Q_DECLARE_LOGGING_CATEGORY(lcCapture)

} // namespace oxle
