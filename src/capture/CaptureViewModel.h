#pragma once

#include "core/Records.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <QCoro/QCoroTask>

#include <chrono>
#include <functional>
#include <optional>

namespace oxle {

class Account;
class OxleAPI;

// The state behind the capture panel: the text being captured, one status line, the list to save into, and the
// operations the panel offers (save, sign in). Confined to the main thread. Saves and list loads run as tasks
// on the main thread that suspend on the network; every failure ends in the status line (or, for the lists,
// in an empty picker), never in an exception.
class CaptureViewModel : public QObject
{
    Q_OBJECT
public:
    // How long the confirmation stays on screen before the panel closes itself.
    static constexpr std::chrono::milliseconds dismissDelay{600};

    // The API's transport also carries the saves; both must outlive the view model.
    CaptureViewModel(Account &account, OxleAPI &api, QObject *parent = nullptr);

    const QString &text() const { return m_text; }
    void setText(const QString &text);
    const QString &status() const { return m_status; }
    bool isBusy() const { return m_isBusy; }
    bool isSignedIn() const { return m_isSignedIn; }
    // The user's own lists as last loaded.
    const QList<Category> &categories() const { return m_categories; }
    // None: the default list.
    const std::optional<QString> &selectedCategoryID() const { return m_selectedCategoryID; }
    void setSelectedCategoryID(const std::optional<QString> &id);

    // Hides the panel; run once the confirmation of a save has been on screen for dismissDelay.
    std::function<void()> onDismiss;

    // categories without the system lists (the default list is offered separately), in loaded order.
    QList<Category> userLists() const;
    // The default list's name with no selection, the selected list's name, or "your list" when it is gone.
    QString selectedListName() const;
    // Whether the Save button is enabled.
    bool canSave() const;
    // Whether the panel is about to close after a save.
    bool isDismissPending() const { return m_dismissTimer.isActive(); }

    // Resets the panel for an opening: status, selection and text (prefilled only with a link), and reloads the
    // lists when someone is signed in. Cancels a pending close.
    void prepare(std::optional<QString> prefill);
    // Saves the trimmed text as a link or a note into the selected list; the outcome shows in status.
    void submit();
    // Browser sign-in with "apple" or "google"; a failure's text shows in status.
    void signIn(QString provider);
    // Keeps the panel open: called when it was closed some other way before the pending close ran.
    void cancelDismiss();

    // Replaces categories with the user's own lists. A failed fetch empties them; without a valid session
    // nothing changes. Never throws.
    QCoro::Task<void> loadLists();

Q_SIGNALS:
    // Any published field changed.
    void changed();

private:
    QCoro::Task<void> save(QString text, std::optional<QString> categoryID);
    QCoro::Task<void> runSignIn(QString provider);
    QString listName(const std::optional<QString> &id) const;
    void setStatus(const QString &status);
    void dismiss();

    Account &m_account;
    OxleAPI &m_api;
    QString m_text;
    QString m_status;
    bool m_isBusy = false;
    bool m_isSignedIn = false;
    QList<Category> m_categories;
    std::optional<QString> m_selectedCategoryID;
    QTimer m_dismissTimer;
};

} // namespace oxle
