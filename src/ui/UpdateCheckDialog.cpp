#include "ui/UpdateCheckDialog.h"

#include <QPointer>
#include <QPushButton>
#include <QTextDocument>

namespace oxle {

UpdateCheckDialog::UpdateCheckDialog(UpdateChecker &checker, std::function<bool(const QUrl &)> openUrl,
                                     QWidget *parent)
    : QMessageBox(parent)
    , m_checker(checker)
    , m_openUrl(std::move(openUrl))
    , m_download(addButton(QStringLiteral("Download"), QMessageBox::AcceptRole))
    , m_close(addButton(QStringLiteral("Close"), QMessageBox::RejectRole))
{
    setWindowTitle(QStringLiteral("Software Update"));
    setWindowModality(Qt::NonModal);
    setModal(false);
    // The texts come partly from the feed: shown as they are, never as markup.
    setTextFormat(Qt::PlainText);
    m_download->setAccessibleName(QStringLiteral("Download the new version"));
    m_close->setAccessibleName(QStringLiteral("Close"));
    setEscapeButton(m_close);
    connect(this, &QMessageBox::buttonClicked, this, &UpdateCheckDialog::onButton);
}

void UpdateCheckDialog::start()
{
    if (!m_checking) {
        m_checking = true;
        m_result.reset();
        setIcon(QMessageBox::NoIcon);
        setText(QStringLiteral("Checking for updates…"));
        setInformativeText(QString());
        m_download->hide();
        setDefaultButton(m_close);
        m_close->setText(QStringLiteral("Cancel"));
        m_close->setAccessibleName(QStringLiteral("Cancel"));
        runCheck();
    }
    show();
    raise();
    activateWindow();
}

QCoro::Task<void> UpdateCheckDialog::runCheck()
{
    QPointer<UpdateCheckDialog> self(this);
    UpdateCheckResult result = co_await m_checker.check();
    if (!self)
        co_return;
    m_checking = false;
    // Closed while checking: the user no longer waits for an answer.
    if (isVisible())
        showResult(result);
    Q_EMIT checkFinished();
}

void UpdateCheckDialog::showResult(const UpdateCheckResult &result)
{
    m_result = result;
    const bool available = result.kind == UpdateCheckResult::Kind::Available;
    setIcon(result.kind == UpdateCheckResult::Kind::Failed ? QMessageBox::Warning : QMessageBox::Information);
    setText(result.text());
    // Escaped into a paragraph: notes from the feed cannot bring markup or links of their own.
    setInformativeText(Qt::convertFromPlainText(result.detail()));
    m_close->setText(QStringLiteral("Close"));
    m_close->setAccessibleName(QStringLiteral("Close"));
    m_download->setVisible(available);
    setDefaultButton(available ? m_download : m_close);
    (available ? m_download : m_close)->setFocus();
}

void UpdateCheckDialog::onButton(QAbstractButton *button)
{
    if (button == m_download && m_result && m_result->kind == UpdateCheckResult::Kind::Available && m_openUrl)
        m_openUrl(m_result->downloadUrl);
}

} // namespace oxle
