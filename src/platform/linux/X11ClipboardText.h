#pragma once

#include "capture/ClipboardText.h"

#include <QString>

#include <QCoro/QCoroTask>

#include <chrono>
#include <optional>

namespace oxle {

// The CLIPBOARD selection's text, read on a connection of its own to the X server in a worker thread, so that a
// slow or hung clipboard owner never holds up the event loop (Qt's own clipboard read waits for the owner on
// the main thread). Asks for UTF8_STRING, then STRING. Refuses incremental (INCR) transfers and anything larger
// than maxBytes: text worth pre-filling is a link, never that long.
class X11ClipboardText
{
public:
    struct Limits
    {
        // How long the owner has to answer the conversion.
        std::chrono::milliseconds answerTimeout{250};
        // How long the caller waits at most, whatever the X server does.
        std::chrono::milliseconds overallTimeout{400};
        qsizetype maxBytes = qsizetype{64} * 1024;
    };

    // Nothing without a display, without an owner, on a refusal, a transfer that is too large, or no answer in
    // time. The worker thread outlives a caller that gave up; it ends within the answer timeout.
    static QCoro::Task<std::optional<QString>> read(Limits limits);
    static QCoro::Task<std::optional<QString>> read();
    // For the capture command: reads with the given limits (or the defaults) on every call.
    static ClipboardReader reader(Limits limits);
    static ClipboardReader reader();

    // The same read, blocking the calling thread for up to the answer timeout.
    static std::optional<QString> readBlocking(const Limits &limits);
};

} // namespace oxle
