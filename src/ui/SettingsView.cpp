#include "ui/SettingsView.h"

#include "ui/DisplayRules.h"
#include "ui/SettingsModel.h"
#include "ui/Symbols.h"
#include "ui/UiStyle.h"

#include <QApplication>
#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace oxle {

namespace {

constexpr int iconSize = 44;

QPixmap applicationIcon(qreal devicePixelRatio)
{
    // The installed icon where the theme has it, the shell's window icon next, and the bundled bookmark last.
    QIcon icon = QIcon::fromTheme(QStringLiteral("oxle"));
    if (icon.isNull())
        icon = QApplication::windowIcon();
    if (!icon.isNull())
        return icon.pixmap(QSize(iconSize, iconSize), devicePixelRatio);
    return Symbols::tinted(QStringLiteral("bookmark.fill"), DisplayRules::accentColor(), iconSize, devicePixelRatio);
}

} // namespace

SettingsView::SettingsView(SettingsModel &model, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
{
    setAccessibleName(QStringLiteral("Settings"));
    setFixedSize(width, height);

    m_updates = new QGroupBox(QStringLiteral("Updates"), this);
    m_checkUpdates = new QPushButton(QStringLiteral("Check for Updates…"), m_updates);
    m_checkUpdates->setAccessibleName(QStringLiteral("Check for Updates"));
    auto *updatesLayout = new QHBoxLayout(m_updates);
    updatesLayout->addWidget(m_checkUpdates);
    updatesLayout->addStretch();
    connect(m_checkUpdates, &QPushButton::clicked, &m_model, &SettingsModel::checkForUpdates);
    // Builds without an update feed have no update check; the section is left out rather than shown dead.
    m_updates->setVisible(m_model.canCheckUpdates());
    connect(&m_model, &SettingsModel::canCheckUpdatesChanged, m_updates, &QWidget::setVisible);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 16, 20, 16);
    layout->setSpacing(12);
    layout->addWidget(buildAccount());
    layout->addWidget(buildGeneral());
    layout->addWidget(m_updates);
    layout->addWidget(buildAbout());
    layout->addStretch();

    setTabOrder(m_signOut, m_apple);
    setTabOrder(m_apple, m_google);
    setTabOrder(m_google, m_launchAtLogin);
    setTabOrder(m_launchAtLogin, m_deliverReminders);
    setTabOrder(m_deliverReminders, m_checkUpdates);

    connect(&m_model, &SettingsModel::accountChanged, this, &SettingsView::showAccount);
    showAccount();
}

QWidget *SettingsView::buildAccount()
{
    auto *section = new QGroupBox(QStringLiteral("Account"), this);

    // Two pages of which one is shown. Not a stacked widget: that keeps the height of its tallest page, and
    // the section would show empty space under "Sign out".
    m_signedInPage = new QWidget(section);
    m_signedInValue = new QLabel(m_signedInPage);
    m_signedInValue->setTextFormat(Qt::PlainText);
    m_signedInValue->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *signedInLabel = new QLabel(QStringLiteral("Signed in"), m_signedInPage);
    signedInLabel->setBuddy(m_signedInValue);
    m_signOut = new QPushButton(QStringLiteral("Sign out"), m_signedInPage);
    m_signOut->setAccessibleName(QStringLiteral("Sign out"));
    connect(m_signOut, &QPushButton::clicked, &m_model, &SettingsModel::signOut);
    auto *signedInLayout = new QFormLayout(m_signedInPage);
    signedInLayout->setContentsMargins(0, 0, 0, 0);
    signedInLayout->addRow(signedInLabel, m_signedInValue);
    signedInLayout->addRow(QString(), m_signOut);
    signedInLayout->setAlignment(m_signOut, Qt::AlignLeft);

    m_signedOutPage = new QWidget(section);
    m_notSignedIn = new QLabel(QStringLiteral("Not signed in"), m_signedOutPage);
    UiStyle::setSecondary(m_notSignedIn);
    m_apple = new QPushButton(Symbols::icon(QStringLiteral("apple.logo")), QStringLiteral("Sign in with Apple"),
                              m_signedOutPage);
    m_google = new QPushButton(QStringLiteral("Sign in with Google"), m_signedOutPage);
    for (QPushButton *button : {m_apple, m_google})
        button->setAccessibleName(button->text());
    // No progress or error here: the browser takes over, and the account row changes when it succeeds.
    connect(m_apple, &QPushButton::clicked, this, [this] { m_model.signIn(QStringLiteral("apple")); });
    connect(m_google, &QPushButton::clicked, this, [this] { m_model.signIn(QStringLiteral("google")); });
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_apple);
    buttons->addWidget(m_google);
    buttons->addStretch();
    auto *signedOutLayout = new QVBoxLayout(m_signedOutPage);
    signedOutLayout->setContentsMargins(0, 0, 0, 0);
    signedOutLayout->addWidget(m_notSignedIn);
    signedOutLayout->addLayout(buttons);

    auto *sectionLayout = new QVBoxLayout(section);
    sectionLayout->addWidget(m_signedInPage);
    sectionLayout->addWidget(m_signedOutPage);
    return section;
}

QWidget *SettingsView::buildGeneral()
{
    auto *section = new QGroupBox(QStringLiteral("General"), this);

    m_launchAtLogin = new QCheckBox(QStringLiteral("Launch at login"), section);
    m_launchAtLogin->setAccessibleName(m_launchAtLogin->text());
    m_launchAtLogin->setChecked(m_model.launchAtLogin());
    // clicked, not toggled: only the user's changes go to the model; its answer is then shown as it is.
    connect(m_launchAtLogin, &QCheckBox::clicked, &m_model, &SettingsModel::setLaunchAtLogin);
    connect(&m_model, &SettingsModel::launchAtLoginChanged, m_launchAtLogin, [this](bool on) {
        const QSignalBlocker blocker(m_launchAtLogin);
        m_launchAtLogin->setChecked(on);
    });

    m_deliverReminders = new QCheckBox(QStringLiteral("Deliver reminders on this computer"), section);
    m_deliverReminders->setAccessibleName(m_deliverReminders->text());
    m_deliverReminders->setChecked(m_model.deliverReminders());
    connect(m_deliverReminders, &QCheckBox::clicked, &m_model, &SettingsModel::setDeliverReminders);
    connect(&m_model, &SettingsModel::deliverRemindersChanged, m_deliverReminders, [this](bool on) {
        const QSignalBlocker blocker(m_deliverReminders);
        m_deliverReminders->setChecked(on);
    });

    m_remindersCaption = new QLabel(QStringLiteral("When on, this computer shows reminder notifications. Off by "
                                                   "default, so your phone stays the reminder device and you avoid "
                                                   "a double ping."),
                                    section);
    m_remindersCaption->setWordWrap(true);
    m_remindersCaption->setFont(UiStyle::font(UiStyle::Caption));
    UiStyle::setSecondary(m_remindersCaption);
    m_deliverReminders->setAccessibleDescription(m_remindersCaption->text());

    auto *layout = new QVBoxLayout(section);
    layout->addWidget(m_launchAtLogin);
    layout->addWidget(m_deliverReminders);
    layout->addWidget(m_remindersCaption);
    return section;
}

QWidget *SettingsView::buildAbout()
{
    auto *section = new QGroupBox(this);
    section->setAccessibleName(QStringLiteral("About oxle"));
    m_icon = new QLabel(section);
    m_icon->setFixedSize(iconSize, iconSize);
    m_icon->setScaledContents(true);
    m_icon->setPixmap(applicationIcon(devicePixelRatioF()));
    m_icon->setAccessibleName(QStringLiteral("oxle icon"));

    auto *name = new QLabel(QStringLiteral("oxle"), section);
    name->setFont(UiStyle::font(UiStyle::Headline));
    m_version = new QLabel(m_model.versionText(), section);
    m_version->setTextFormat(Qt::PlainText);
    m_version->setFont(UiStyle::font(UiStyle::Caption));
    UiStyle::setSecondary(m_version);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(name);
    texts->addWidget(m_version);
    auto *row = new QHBoxLayout(section);
    row->setSpacing(12);
    row->addWidget(m_icon, 0, Qt::AlignVCenter);
    row->addLayout(texts);
    row->addStretch();
    return section;
}

bool SettingsView::showsSignedIn() const
{
    return !m_signedInPage->isHidden();
}

void SettingsView::showAccount()
{
    const bool signedIn = m_model.isSignedIn();
    m_signedInValue->setText(signedIn ? m_model.signedInValue() : QString());
    const QString value = m_signedInValue->text();
    m_signedInValue->setAccessibleName(value == QLatin1String("Signed in") ? value : QStringLiteral("Signed in as ") + value);
    // Focus on a button that is about to go away would be lost with it.
    QWidget *shown = m_signedInPage->isHidden() ? m_signedOutPage : m_signedInPage;
    const bool hadFocus = shown->isAncestorOf(QApplication::focusWidget());
    m_signedInPage->setVisible(signedIn);
    m_signedOutPage->setVisible(!signedIn);
    if (hadFocus)
        (signedIn ? m_signOut : m_apple)->setFocus();
}

} // namespace oxle
