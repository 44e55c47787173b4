#pragma once

#include "core/UpdateCheck.h"

#include <QCoro/QCoroTask>
#include <QMessageBox>
#include <QUrl>

#include <functional>
#include <optional>

class QPushButton;

namespace oxle {

// The "Check for Updates…" window: says that it is checking, then the outcome, with a Download button when a
// newer version exists. Non-modal and reused: asking again while a check runs only brings it forward. Closing it
// while the check runs drops the outcome.
class UpdateCheckDialog : public QMessageBox
{
    Q_OBJECT
public:
    // openUrl hands the download link to the browser.
    UpdateCheckDialog(UpdateChecker &checker, std::function<bool(const QUrl &)> openUrl, QWidget *parent = nullptr);

    // Shows the window and starts a check, unless one is already running.
    void start();
    bool isChecking() const { return m_checking; }
    // The last check's outcome, once one has finished while the window was open.
    const std::optional<UpdateCheckResult> &result() const { return m_result; }
    QPushButton *downloadButton() const { return m_download; }
    QPushButton *closeButton() const { return m_close; }

Q_SIGNALS:
    // A check finished and its outcome is shown (or dropped, when the window was closed meanwhile).
    void checkFinished();

private:
    QCoro::Task<void> runCheck();
    void showResult(const UpdateCheckResult &result);
    void onButton(QAbstractButton *button);

    UpdateChecker &m_checker;
    std::function<bool(const QUrl &)> m_openUrl;
    QPushButton *m_download;
    QPushButton *m_close;
    bool m_checking = false;
    std::optional<UpdateCheckResult> m_result;
};

} // namespace oxle
