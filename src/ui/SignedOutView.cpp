#include "ui/SignedOutView.h"

#include "core/Account.h"
#include "core/Errors.h"
#include "ui/DisplayRules.h"
#include "ui/Symbols.h"
#include "ui/UiStyle.h"

#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedLayout>
#include <QVBoxLayout>

namespace oxle {

SignedOutView::SignedOutView(Account &account, std::function<void()> cancelSignIn, QWidget *parent)
    : QWidget(parent)
    , m_account(account)
    , m_apple(new QPushButton(QStringLiteral("Sign in with Apple"), this))
    , m_google(new QPushButton(QStringLiteral("Sign in with Google"), this))
    , m_progress(new QProgressBar(this))
    , m_cancel(new QPushButton(QStringLiteral("Cancel"), this))
    , m_cancelSignIn(std::move(cancelSignIn))
    , m_status(new QLabel(this))
{
    setAccessibleName(QStringLiteral("Signed out"));
    const QColor accent = DisplayRules::accentColor();

    auto *symbol = new QLabel(this);
    symbol->setPixmap(Symbols::tinted(QStringLiteral("bookmark.fill"), accent, 46, devicePixelRatioF()));
    symbol->setAccessibleName(QStringLiteral("oxle"));

    auto *welcome = new QLabel(QStringLiteral("Welcome to oxle"), this);
    welcome->setFont(UiStyle::font(UiStyle::Title));
    auto *explanation = new QLabel(
        QStringLiteral("Sign in to see your lists, notes, and saved links, in sync with your phone."), this);
    explanation->setWordWrap(true);
    explanation->setAlignment(Qt::AlignHCenter);
    // A fixed width: a wrapping label in a centring layout is otherwise given one line's height.
    explanation->setFixedWidth(360);
    explanation->setMinimumHeight(explanation->heightForWidth(360));
    UiStyle::setSecondary(explanation);

    m_apple->setIcon(Symbols::icon(QStringLiteral("apple.logo")));
    for (QPushButton *button : {m_apple, m_google}) {
        button->setMinimumWidth(260);
        button->setMinimumHeight(34);
        button->setAccessibleName(button->text());
    }
    connect(m_apple, &QPushButton::clicked, this, [this] { signIn(QStringLiteral("apple")); });
    connect(m_google, &QPushButton::clicked, this, [this] { signIn(QStringLiteral("google")); });

    // While busy an indeterminate bar, otherwise the last failure's text: one line of fixed height.
    m_progress->setRange(0, 0);
    m_progress->setTextVisible(false);
    m_progress->setMaximumWidth(120);
    m_progress->setFixedHeight(8);
    m_progress->setAccessibleName(QStringLiteral("Signing in"));
    m_status->setTextFormat(Qt::PlainText);
    m_status->setAlignment(Qt::AlignCenter);
    m_status->setWordWrap(true);
    m_status->setFont(UiStyle::font(UiStyle::Caption));
    m_status->setAccessibleName(QStringLiteral("Sign-in status"));
    QPalette errorPalette = m_status->palette();
    errorPalette.setColor(QPalette::WindowText, UiStyle::errorColor());
    m_status->setPalette(errorPalette);

    auto *statusLine = new QWidget(this);
    statusLine->setMinimumHeight(18);
    auto *statusLayout = new QVBoxLayout(statusLine);
    statusLayout->setContentsMargins(0, 0, 0, 0);
    statusLayout->addWidget(m_progress, 0, Qt::AlignHCenter);
    statusLayout->addWidget(m_status);
    statusLayout->addWidget(m_cancel, 0, Qt::AlignHCenter);
    m_cancel->setFlat(true);
    m_cancel->setAccessibleName(QStringLiteral("Cancel sign-in"));
    m_cancel->setToolTip(QStringLiteral("Stop waiting for the browser"));
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        if (m_cancelSignIn)
            m_cancelSignIn();
    });

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(40, 40, 40, 40);
    layout->setSpacing(18);
    layout->addStretch();
    layout->addWidget(symbol, 0, Qt::AlignHCenter);
    auto *texts = new QVBoxLayout;
    texts->setSpacing(6);
    texts->addWidget(welcome, 0, Qt::AlignHCenter);
    texts->addWidget(explanation, 0, Qt::AlignHCenter);
    layout->addLayout(texts);
    auto *buttons = new QVBoxLayout;
    buttons->setSpacing(10);
    buttons->addWidget(m_apple, 0, Qt::AlignHCenter);
    buttons->addWidget(m_google, 0, Qt::AlignHCenter);
    buttons->addSpacing(4);
    buttons->addWidget(statusLine);
    layout->addLayout(buttons);
    layout->addStretch();

    setTabOrder(m_apple, m_google);
    setTabOrder(m_google, m_cancel);
    updateStatus();
}

QCoro::Task<void> SignedOutView::signIn(QString provider)
{
    QPointer<SignedOutView> self(this);
    m_error.reset();
    setBusy(true);
    std::optional<QString> failure;
    try {
        co_await m_account.signIn(std::move(provider));
    } catch (const Error &error) {
        failure = error.description();
    } catch (const std::exception &error) {
        failure = QString::fromLocal8Bit(error.what());
    }
    if (!self)
        co_return;
    m_error = failure;
    setBusy(false);
}

void SignedOutView::setBusy(bool busy)
{
    m_busy = busy;
    m_apple->setEnabled(!busy);
    m_google->setEnabled(!busy);
    updateStatus();
}

void SignedOutView::updateStatus()
{
    m_progress->setVisible(m_busy);
    m_cancel->setVisible(m_busy && m_cancelSignIn);
    m_status->setVisible(!m_busy && m_error.has_value());
    m_status->setText(m_error.value_or(QString()));
}

} // namespace oxle
