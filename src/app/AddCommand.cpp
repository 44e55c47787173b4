#include "app/AddCommand.h"

#include "capture/LinkRules.h"
#include "capture/SavePipeline.h"
#include "core/Errors.h"
#include "core/SessionStore.h"

namespace oxle {

int AddOutcome::exitCode() const
{
    switch (result) {
    case Result::Saved:
    case Result::AlreadySaved:
        return 0;
    case Result::NotSignedIn:
    case Result::NothingToSave:
        return 1;
    case Result::Failed:
        return 2;
    }
    return 2;
}

QCoro::Task<AddOutcome> addToOxle(const SessionStore *store, Transport *transport, QString text)
{
    const auto session = store->loadShared();
    if (!session)
        co_return AddOutcome{AddOutcome::Result::NotSignedIn, QStringLiteral("Sign in to oxle first.")};

    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        co_return AddOutcome{AddOutcome::Result::NothingToSave, QStringLiteral("Nothing to save.")};

    try {
        bool alreadySaved = false;
        if (ItemReader::looksLikeLink(trimmed))
            alreadySaved = co_await ItemReader::saveLink(transport, *session, trimmed);
        else
            alreadySaved = co_await ItemReader::saveNote(transport, *session, trimmed);
        if (alreadySaved)
            co_return AddOutcome{AddOutcome::Result::AlreadySaved, QStringLiteral("Already saved.")};
        co_return AddOutcome{AddOutcome::Result::Saved, QStringLiteral("Saved to oxle.")};
    } catch (const Error &error) {
        co_return AddOutcome{AddOutcome::Result::Failed, error.description()};
    }
}

} // namespace oxle
