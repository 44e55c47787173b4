#pragma once

#include <QCoro/QCoroTask>
#include <QString>
#include <optional>

namespace oxle {

// The page shown in the front browser window.
struct BrowserTab
{
    QString url; // never empty
    QString title; // may be empty

    bool operator==(const BrowserTab &) const = default;
};

// Reads the front browser tab. Answers nothing when the front application is not a supported browser or the
// browser does not tell; never throws. Implementations must not block the caller's thread: the tray and the
// hot key stay responsive while a browser is slow to answer.
class FrontTab
{
public:
    virtual ~FrontTab() = default;
    virtual QCoro::Task<std::optional<BrowserTab>> current() = 0;
};

} // namespace oxle
