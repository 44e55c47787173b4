#pragma once

#include "core/BackendConfig.h"
#include "share-extension/ShareInput.h"

#include <QList>
#include <QNetworkAccessManager>
#include <QString>

#include <QCoro/QCoroTask>

#include <functional>

namespace oxle {

// One share: read the session the application mirrored, pick the link, save it to the default list. It never
// signs in and never refreshes: an expired token makes the save fail like any other backend refusal.
class ShareController
{
public:
    enum class Outcome { SignInFirst, NothingToSave, AlreadySaved, Saved, CouldNotSave };

    // The input is only gathered once a session is known to exist (reading standard input may wait).
    using InputSource = std::function<QCoro::Task<QList<ShareItem>>()>;

    ShareController(BackendConfig config, QString sharedDir, InputSource input);

    // Never throws: any failure (of the input, the session or the save) is CouldNotSave, with its own error
    // text on standard error, not shown to the user.
    QCoro::Task<Outcome> process();

    static QString workingText();
    static QString statusText(Outcome outcome);
    static bool succeeded(Outcome outcome) { return outcome == Outcome::Saved || outcome == Outcome::AlreadySaved; }

private:
    QCoro::Task<Outcome> share();

    BackendConfig m_config;
    QString m_sharedDir;
    InputSource m_input;
    QNetworkAccessManager m_network;
};

// Input sources for the executable.
QCoro::Task<QList<ShareItem>> itemsFromArguments(QStringList arguments);
// Reads standard input on a worker thread so that the window stays responsive while it waits.
QCoro::Task<QList<ShareItem>> itemsFromStandardInput();

} // namespace oxle
