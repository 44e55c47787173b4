#pragma once

#include <QCoro/QCoroTask>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QProgressBar;
class QPushButton;

namespace oxle {

class Account;

// Fills the main window while nobody is signed in and offers the two sign-in providers. The account publishes
// the new session when a sign-in succeeds; the root view then replaces this view.
class SignedOutView : public QWidget
{
    Q_OBJECT
public:
    // cancelSignIn gives up a sign-in that waits for the browser (the browser window may have been closed);
    // without it no Cancel button is offered.
    explicit SignedOutView(Account &account, std::function<void()> cancelSignIn = {}, QWidget *parent = nullptr);

    bool isBusy() const { return m_busy; }
    const std::optional<QString> &error() const { return m_error; }

    QPushButton *appleButton() const { return m_apple; }
    QPushButton *googleButton() const { return m_google; }
    QLabel *statusLabel() const { return m_status; }

    // Runs one sign-in; "google" or "apple".
    QCoro::Task<void> signIn(QString provider);

private:
    void setBusy(bool busy);
    void updateStatus();

    Account &m_account;
    QPushButton *m_apple;
    QPushButton *m_google;
    QProgressBar *m_progress;
    QPushButton *m_cancel;
    std::function<void()> m_cancelSignIn;
    QLabel *m_status;
    bool m_busy = false;
    std::optional<QString> m_error;
};

} // namespace oxle
