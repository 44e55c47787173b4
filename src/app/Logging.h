#pragma once

#include <QLoggingCategory>

// The application shell's log category: launch, the running instance and what it is asked to do.
namespace oxle {

Q_DECLARE_LOGGING_CATEGORY(lcApp)

} // namespace oxle
