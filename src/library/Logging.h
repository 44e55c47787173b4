#pragma once

#include <QLoggingCategory>

// The library's log category (the store, its commands and the search index writer).
namespace oxle {

Q_DECLARE_LOGGING_CATEGORY(lcLibrary)

} // namespace oxle
