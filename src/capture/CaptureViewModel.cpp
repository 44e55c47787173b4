#include "capture/CaptureViewModel.h"

#include "capture/LinkRules.h"
#include "capture/SavePipeline.h"
#include "core/Account.h"
#include "core/Errors.h"
#include "library/OxleAPI.h"

#include <QPointer>

#include <exception>
#include <utility>

namespace oxle {

namespace {

// The text of a failure as the user sees it.
QString describe(const std::exception_ptr &failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const Error &error) {
        return error.description();
    } catch (const std::exception &error) {
        return QString::fromLocal8Bit(error.what());
    } catch (...) {
        return QStringLiteral("Something went wrong.");
    }
}

} // namespace

CaptureViewModel::CaptureViewModel(Account &account, OxleAPI &api, QObject *parent)
    : QObject(parent)
    , m_account(account)
    , m_api(api)
{
    m_dismissTimer.setSingleShot(true);
    m_dismissTimer.setInterval(dismissDelay);
    connect(&m_dismissTimer, &QTimer::timeout, this, &CaptureViewModel::dismiss);
}

void CaptureViewModel::setText(const QString &text)
{
    if (text == m_text)
        return;
    m_text = text;
    Q_EMIT changed();
}

void CaptureViewModel::setSelectedCategoryID(const std::optional<QString> &id)
{
    if (id == m_selectedCategoryID)
        return;
    m_selectedCategoryID = id;
    Q_EMIT changed();
}

void CaptureViewModel::setStatus(const QString &status)
{
    if (status == m_status)
        return;
    m_status = status;
    Q_EMIT changed();
}

QList<Category> CaptureViewModel::userLists() const
{
    QList<Category> lists;
    for (const Category &category : m_categories)
        if (!category.isSystem)
            lists.append(category);
    return lists;
}

QString CaptureViewModel::listName(const std::optional<QString> &id) const
{
    if (!id)
        return ItemReader::defaultListName;
    for (const Category &category : m_categories)
        if (category.id == *id)
            return category.name;
    return QStringLiteral("your list");
}

QString CaptureViewModel::selectedListName() const
{
    return listName(m_selectedCategoryID);
}

bool CaptureViewModel::canSave() const
{
    return !m_isBusy && !m_text.trimmed().isEmpty();
}

void CaptureViewModel::prepare(std::optional<QString> prefill)
{
    m_dismissTimer.stop();
    m_isSignedIn = m_account.isSignedIn();
    m_status.clear();
    m_selectedCategoryID.reset();
    // Untrimmed: the field shows the clipboard as it is. Text that is not a link is never offered.
    m_text = prefill && ItemReader::looksLikeLink(*prefill) ? *prefill : QString();
    Q_EMIT changed();
    if (m_isSignedIn)
        loadLists();
}

QCoro::Task<void> CaptureViewModel::loadLists()
{
    const QPointer<CaptureViewModel> self(this);
    std::optional<OxleSession> session;
    try {
        session = co_await m_account.validSession();
    } catch (...) {
        co_return;
    }
    if (!self)
        co_return;
    QList<Category> lists;
    try {
        lists = co_await m_api.fetchCategories(*session);
    } catch (...) {
        // The picker then offers the default list alone.
    }
    if (!self)
        co_return;
    m_categories = lists;
    Q_EMIT changed();
}

void CaptureViewModel::submit()
{
    const QString trimmed = m_text.trimmed();
    if (trimmed.isEmpty())
        return;
    // Return in the field submits even while the Save button is disabled; a second save of the same text
    // would store it twice.
    if (m_isBusy)
        return;
    if (!m_account.isSignedIn()) {
        setStatus(QStringLiteral("Sign in to save."));
        return;
    }
    m_dismissTimer.stop();
    m_isBusy = true;
    m_status = QStringLiteral("Saving…");
    Q_EMIT changed();
    save(trimmed, m_selectedCategoryID);
}

QCoro::Task<void> CaptureViewModel::save(QString text, std::optional<QString> categoryID)
{
    const QPointer<CaptureViewModel> self(this);
    bool alreadySaved = false;
    std::exception_ptr failure;
    try {
        const OxleSession session = co_await m_account.validSession();
        if (!self)
            co_return;
        Transport *transport = &m_api.transport();
        if (ItemReader::looksLikeLink(text))
            alreadySaved = co_await ItemReader::saveLink(transport, session, text, std::nullopt, categoryID);
        else
            alreadySaved = co_await ItemReader::saveNote(transport, session, text, categoryID);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    m_isBusy = false;
    if (failure) {
        // The text stays so that the user can try again.
        m_status = describe(failure);
        Q_EMIT changed();
        co_return;
    }
    // Names the list the text went to, even if the picker moved on while the save ran.
    m_status = alreadySaved ? QStringLiteral("Already saved.")
                            : QStringLiteral("Saved to ") + listName(categoryID) + QLatin1Char('.');
    m_text.clear();
    Q_EMIT changed();
    m_dismissTimer.start();
}

void CaptureViewModel::signIn(QString provider)
{
    runSignIn(std::move(provider));
}

QCoro::Task<void> CaptureViewModel::runSignIn(QString provider)
{
    const QPointer<CaptureViewModel> self(this);
    std::exception_ptr failure;
    try {
        co_await m_account.signIn(std::move(provider));
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (failure) {
        setStatus(describe(failure));
        co_return;
    }
    m_isSignedIn = true;
    m_status.clear();
    Q_EMIT changed();
    co_await loadLists();
}

void CaptureViewModel::cancelDismiss()
{
    m_dismissTimer.stop();
}

void CaptureViewModel::dismiss()
{
    if (onDismiss)
        onDismiss();
}

} // namespace oxle
