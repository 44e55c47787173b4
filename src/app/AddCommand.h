#pragma once

#include <QString>

#include <QCoro/QCoroTask>

namespace oxle {

class SessionStore;
class Transport;

// "Add to oxle": saves one text as a link or a note with the stored session,
// without the running application and without refreshing the token.
struct AddOutcome
{
    enum class Result { Saved, AlreadySaved, NotSignedIn, NothingToSave, Failed };

    Result result;
    QString text; // the dialog text, or the error's text when the save failed

    int exitCode() const;
};

// store and transport are borrowed: they must outlive the returned task.
QCoro::Task<AddOutcome> addToOxle(const SessionStore *store, Transport *transport, QString text);

} // namespace oxle
