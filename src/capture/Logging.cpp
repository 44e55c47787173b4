#include "capture/Logging.h"

namespace oxle {

// Debug lines are off unless asked for (QT_LOGGING_RULES="oxle.*.debug=true").
Q_LOGGING_CATEGORY(lcCapture, "oxle.capture", QtInfoMsg)

} // namespace oxle
