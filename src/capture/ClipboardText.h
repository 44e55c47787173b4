#pragma once

#include <QString>

#include <QCoro/QCoroTask>

#include <functional>
#include <optional>

namespace oxle {

// Reads the clipboard's plain text without ever holding up the caller's thread: a clipboard owner that is slow
// or hung only costs a short, bounded wait. Answers nothing when there is no text, no owner, or no answer in
// time. The platform backends provide one.
using ClipboardReader = std::function<QCoro::Task<std::optional<QString>>()>;

} // namespace oxle
