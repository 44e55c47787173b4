#include "share-extension/ShareController.h"

#include "capture/SavePipeline.h"
#include "core/Errors.h"
#include "core/SessionStore.h"
#include "core/Transport.h"

#include <QDir>
#include <QFuture>
#include <QPromise>

#include <QCoro/QCoroFuture>

#include <cstdio>
#include <thread>

namespace oxle {

ShareController::ShareController(BackendConfig config, QString sharedDir, InputSource input)
    : m_config(std::move(config))
    , m_sharedDir(std::move(sharedDir))
    , m_input(std::move(input))
{
}

QString ShareController::workingText()
{
    return QStringLiteral("Saving to oxle\u2026");
}

QString ShareController::statusText(Outcome outcome)
{
    switch (outcome) {
    case Outcome::SignInFirst: return QStringLiteral("Sign in to oxle first");
    case Outcome::NothingToSave: return QStringLiteral("Nothing to save");
    case Outcome::AlreadySaved: return QStringLiteral("Already saved");
    case Outcome::Saved: return QStringLiteral("Saved to oxle");
    case Outcome::CouldNotSave: break;
    }
    return QStringLiteral("Could not save");
}

QCoro::Task<ShareController::Outcome> ShareController::process()
{
    // Nothing may escape: the executable waits for this outcome to end.
    try {
        QCoro::Task<Outcome> task = share();
        co_return co_await std::move(task);
    } catch (const Error &error) {
        // An error page can be long; the first lines are enough to tell what went wrong.
        std::fprintf(stderr, "oxle-share: %s\n", qPrintable(error.description().left(2000)));
    } catch (const std::exception &error) {
        std::fprintf(stderr, "oxle-share: %s\n", error.what());
    } catch (...) {
        std::fprintf(stderr, "oxle-share: the share failed unexpectedly.\n");
    }
    co_return Outcome::CouldNotSave;
}

QCoro::Task<ShareController::Outcome> ShareController::share()
{
    // Only the mirror: this process has no keychain access of its own.
    const SessionStore store(nullptr, m_sharedDir);
    const std::optional<OxleSession> session = store.loadShared();
    if (!session)
        co_return Outcome::SignInFirst;

    QCoro::Task<QList<ShareItem>> input = m_input();
    const std::optional<QString> link = ShareInput::extractLink(co_await std::move(input));
    if (!link)
        co_return Outcome::NothingToSave;

    Transport transport(&m_network, m_config);
    const bool alreadySaved = co_await ItemReader::saveLink(&transport, *session, *link);
    co_return alreadySaved ? Outcome::AlreadySaved : Outcome::Saved;
}

QCoro::Task<QList<ShareItem>> itemsFromArguments(QStringList arguments)
{
    co_return ShareInput::fromArguments(arguments, QDir::currentPath());
}

namespace {

QFuture<QByteArray> readStandardInputInBackground()
{
    QPromise<QByteArray> promise;
    QFuture<QByteArray> future = promise.future();
    promise.start();
    // Detached: if standard input never ends the process still exits normally once it is told to.
    std::thread([promise = std::move(promise)]() mutable {
        promise.addResult(ShareInput::readStandardInput());
        promise.finish();
    }).detach();
    return future;
}

} // namespace

QCoro::Task<QList<ShareItem>> itemsFromStandardInput()
{
    const QFuture<QByteArray> future = readStandardInputInBackground();
    const QByteArray data = co_await qCoro(future).waitForFinished();
    co_return ShareInput::fromStandardInput(data);
}

} // namespace oxle
