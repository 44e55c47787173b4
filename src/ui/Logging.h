#pragma once

#include <QLoggingCategory>

// The windows' log category.
namespace oxle {

Q_DECLARE_LOGGING_CATEGORY(lcUi)

} // namespace oxle
