// The settings window (offscreen): its frame and the open-window count, the account section following the
// session, "Launch at login" showing the state read back (a fake that refuses, and the real autostart entry in a
// temporary configuration folder), the reminder preference reaching the file and rescheduling, the Updates
// section, the version line, accessible names, and the update check's window over a feed on loopback.

#include "FakeLibrary.h"

#include "core/LoginItem.h"
#include "core/UpdateCheck.h"
#include "platform/linux/XdgAutostart.h"
#include "support/RecordingServer.h"
#include "ui/NativeContentController.h"
#include "ui/SettingsController.h"
#include "ui/SettingsView.h"
#include "ui/UpdateCheckDialog.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLayout>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

using namespace oxle;
using namespace oxle::test;

namespace {

// A login item whose answers the test decides.
class FakeLoginItem : public LoginItem
{
public:
    bool enabled = false;
    bool refuse = false;
    QStringList calls;

    bool isEnabled() const override { return enabled; }
    bool setEnabled(bool on) override
    {
        calls << (on ? QStringLiteral("on") : QStringLiteral("off"));
        if (refuse)
            return false;
        enabled = on;
        return true;
    }
};

// The pieces a settings window needs, over the fake store's account and preferences.
struct Fixture
{
    explicit Fixture(LoginItem *item = nullptr, SettingsActions extra = {})
        : controller(f.account, f.defaults, item ? *item : login, windows,
                     SettingsActions{[this] { ++reschedules; }, std::move(extra.onCheckUpdates)},
                     QStringLiteral("0.1.0"))
    {
    }

    SettingsView *view()
    {
        controller.show();
        return controller.window()->view();
    }

    FakeStore f;
    FakeLoginItem login;
    OpenWindowCount windows;
    int reschedules = 0;
    SettingsController controller;
};

QStringList unnamedControls(QWidget *top)
{
    QStringList unnamed;
    for (QAbstractButton *widget : top->findChildren<QAbstractButton *>()) {
        if (widget->objectName().startsWith(QLatin1String("qt_")))
            continue;
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(widget);
        if (!accessible || accessible->text(QAccessible::Name).trimmed().isEmpty())
            unnamed << QString::fromLatin1(widget->metaObject()->className()) + QLatin1Char(' ') + widget->text();
    }
    return unnamed;
}

} // namespace

class SettingsWindowTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void windowFrameAndOpenWindowCount();
    void accountSectionFollowsSession_data();
    void accountSectionFollowsSession();
    void launchAtLoginShowsStateReadBack_data();
    void launchAtLoginShowsStateReadBack();
    void launchAtLoginWithAutostartEntry();
    void reminderPreferenceStoredAndRescheduled();
    void updatesSectionAndVersion_data();
    void updatesSectionAndVersion();
    void everyControlHasAnAccessibleName();
    void updateCheckWindow_data();
    void updateCheckWindow();
};

void SettingsWindowTest::windowFrameAndOpenWindowCount()
{
    Fixture x;
    QVERIFY(!x.controller.window());
    QSignalSpy anyOpen(&x.windows, &OpenWindowCount::anyOpenChanged);
    x.controller.show();
    x.controller.show();
    SettingsWindow *window = x.controller.window();
    QVERIFY(window);
    QCOMPARE(window->windowTitle(), QStringLiteral("oxle Settings"));
    QCOMPARE(window->size(), QSize(420, 460));
    QCOMPARE(window->minimumSize(), window->maximumSize());
    QVERIFY(!(window->windowFlags() & (Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint)));
    QCOMPARE(x.windows.count(), 1);

    // With the main window open too, closing one keeps "a window is open"; closing both ends it.
    NativeContentController content(x.f.context, x.windows);
    content.show();
    QCOMPARE(x.windows.count(), 2);
    window->close();
    window->close();
    QVERIFY(!window->isVisible());
    QCOMPARE(x.windows.count(), 1);
    content.window()->close();
    QCOMPARE(x.windows.count(), 0);
    QCOMPARE(anyOpen.size(), 2);

    // Kept after closing, and reopened from the keyboard-closed state the same way.
    x.controller.show();
    QCOMPARE(x.controller.window(), window);
    QCOMPARE(x.windows.count(), 1);
    QVERIFY(QTest::qWaitForWindowActive(window));
    QTest::keyClick(window, Qt::Key_Escape);
    QVERIFY(!window->isVisible());
    QCOMPARE(x.windows.count(), 0);
}

// Space between a button's bottom edge and the bottom of the group box around it, once laid out.
static int gapUnderInSection(QWidget *view, QWidget *button)
{
    view->show();
    QWidget *section = button->parentWidget();
    while (section && !qobject_cast<QGroupBox *>(section))
        section = section->parentWidget();
    if (!section)
        return -1;
    view->layout()->activate();
    section->layout()->activate();
    QCoreApplication::processEvents();
    return section->height() - button->mapTo(section, QPoint(0, button->height())).y();
}

void SettingsWindowTest::accountSectionFollowsSession_data()
{
    QTest::addColumn<std::optional<QString>>("email");
    QTest::addColumn<QString>("shown");
    QTest::newRow("with e-mail") << std::optional<QString>(QStringLiteral("me@example.com"))
                                 << QStringLiteral("me@example.com");
    QTest::newRow("without e-mail") << std::optional<QString>() << QStringLiteral("Signed in");
    QTest::newRow("empty e-mail") << std::optional<QString>(QString()) << QStringLiteral("Signed in");
}

void SettingsWindowTest::accountSectionFollowsSession()
{
    QFETCH(std::optional<QString>, email);
    QFETCH(QString, shown);
    Fixture x;
    const OxleSession session{QStringLiteral("token"), QStringLiteral("refresh"), 0, QStringLiteral("me"), email};
    x.f.store.saveKeychain(session);
    x.f.account.restoreSession();
    SettingsView *view = x.view();
    QVERIFY(view->showsSignedIn());
    QCOMPARE(view->signedInValue()->text(), shown);
    QVERIFY(view->signOutButton()->isVisible());
    QVERIFY(!view->appleButton()->isVisible());

    view->signOutButton()->click();
    QVERIFY(!x.f.account.isSignedIn());
    QVERIFY(!view->showsSignedIn());
    QVERIFY(view->notSignedIn()->isVisible());
    QCOMPARE(view->notSignedIn()->text(), QStringLiteral("Not signed in"));
    QVERIFY(view->appleButton()->isVisible() && view->googleButton()->isVisible());
    QCOMPARE(view->appleButton()->text(), QStringLiteral("Sign in with Apple"));
    QCOMPARE(view->googleButton()->text(), QStringLiteral("Sign in with Google"));

    const int signedOutGap = gapUnderInSection(view, view->appleButton());

    // A sign-in elsewhere (the main window) switches the section back.
    x.f.store.saveKeychain(session);
    x.f.account.restoreSession();
    QVERIFY(view->showsSignedIn());
    QCOMPARE(view->signedInValue()->text(), shown);
    // The section fits the page it shows: no empty band under "Sign out" left by the other page.
    QCOMPARE(gapUnderInSection(view, view->signOutButton()), signedOutGap);
}

void SettingsWindowTest::launchAtLoginShowsStateReadBack_data()
{
    QTest::addColumn<bool>("enabledBefore");
    QTest::addColumn<bool>("refuse");
    QTest::addColumn<bool>("checkedAfter");
    QTest::newRow("turned on") << false << false << true;
    QTest::newRow("turned on, refused") << false << true << false;
    QTest::newRow("turned off") << true << false << false;
    QTest::newRow("turned off, refused") << true << true << true;
}

void SettingsWindowTest::launchAtLoginShowsStateReadBack()
{
    QFETCH(bool, enabledBefore);
    QFETCH(bool, refuse);
    QFETCH(bool, checkedAfter);
    FakeLoginItem item;
    item.enabled = enabledBefore;
    item.refuse = refuse;
    Fixture x(&item);
    QCheckBox *toggle = x.view()->launchAtLoginToggle();
    QCOMPARE(toggle->isChecked(), enabledBefore);
    QTest::keyClick(toggle, Qt::Key_Space);
    QCOMPARE(toggle->isChecked(), checkedAfter);
    QCOMPARE(item.calls, QStringList{enabledBefore ? QStringLiteral("off") : QStringLiteral("on")});

    // Changed behind the window's back (the desktop's start-up settings): seen when the window opens again.
    item.refuse = false;
    item.enabled = !checkedAfter;
    x.controller.window()->close();
    x.controller.show();
    QCOMPARE(toggle->isChecked(), !checkedAfter);
}

void SettingsWindowTest::launchAtLoginWithAutostartEntry()
{
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    const QString entry = config.filePath(QStringLiteral("autostart/oxle.desktop"));
    {
        XdgAutostart autostart(QStringLiteral("/usr/bin/oxle"));
        Fixture x(&autostart);
        QCheckBox *toggle = x.view()->launchAtLoginToggle();
        toggle->click();
        QVERIFY(toggle->isChecked());
        QVERIFY(QFile::exists(entry));
        toggle->click();
        QVERIFY(!toggle->isChecked());
        QVERIFY(!QFile::exists(entry));
    }
    {
        // The autostart folder cannot be made: the toggle goes back off.
        QTemporaryDir blocked;
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(blocked.path()));
        QFile blocker(blocked.filePath(QStringLiteral("autostart")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        XdgAutostart autostart(QStringLiteral("/usr/bin/oxle"));
        Fixture x(&autostart);
        QCheckBox *toggle = x.view()->launchAtLoginToggle();
        toggle->click();
        QVERIFY(!toggle->isChecked());
    }
}

void SettingsWindowTest::reminderPreferenceStoredAndRescheduled()
{
    Fixture x;
    SettingsView *view = x.view();
    QCheckBox *toggle = view->deliverRemindersToggle();
    QCOMPARE(toggle->text(), QStringLiteral("Deliver reminders on this computer"));
    QCOMPARE(view->remindersCaption()->text(),
             QStringLiteral("When on, this computer shows reminder notifications. Off by default, so your phone "
                            "stays the reminder device and you avoid a double ping."));
    QVERIFY(!toggle->isChecked());
    QCOMPARE(x.reschedules, 0);

    const auto stored = [&] {
        return QSettings(x.f.defaults.filePath(), QSettings::IniFormat).value(QStringLiteral("deliverRemindersOnThisMac"));
    };
    toggle->click();
    QCOMPARE(stored(), QVariant(QStringLiteral("true")));
    QCOMPARE(x.reschedules, 1);
    // Off reschedules as well: that pass removes this computer's pending reminders.
    toggle->click();
    QCOMPARE(stored(), QVariant(QStringLiteral("false")));
    QCOMPARE(x.reschedules, 2);
}

void SettingsWindowTest::updatesSectionAndVersion_data()
{
    QTest::addColumn<QString>("appVersion");
    QTest::addColumn<QString>("versionText");
    QTest::newRow("build version") << QStringLiteral("0.1.0") << QStringLiteral("Version 0.1.0");
    QTest::newRow("none given") << QString() << QStringLiteral("Version 1.0");
}

void SettingsWindowTest::updatesSectionAndVersion()
{
    QFETCH(QString, appVersion);
    QFETCH(QString, versionText);
    FakeStore f;
    FakeLoginItem login;
    OpenWindowCount windows;
    int checks = 0;
    SettingsController controller(f.account, f.defaults, login, windows, {}, appVersion);
    controller.show();
    SettingsView *view = controller.window()->view();
    QCOMPARE(view->versionLabel()->text(), versionText);
    QCOMPARE(view->iconLabel()->size(), QSize(44, 44));
    QVERIFY(!view->iconLabel()->pixmap().isNull());

    // No update feed in the build: no Updates section at all.
    QVERIFY(!view->updatesSection()->isVisible());
    controller.setOnCheckUpdates([&] { ++checks; });
    QVERIFY(view->updatesSection()->isVisible());
    QCOMPARE(view->checkUpdatesButton()->text(), QStringLiteral("Check for Updates…"));
    view->checkUpdatesButton()->click();
    QCOMPARE(checks, 1);
}

void SettingsWindowTest::everyControlHasAnAccessibleName()
{
    Fixture x(nullptr, SettingsActions{{}, [] {}});
    x.f.signIn();
    x.controller.show();
    SettingsWindow *window = x.controller.window();
    QVERIFY2(unnamedControls(window).isEmpty(), qPrintable(unnamedControls(window).join(u", ")));
    x.f.account.signOut();
    QVERIFY2(unnamedControls(window).isEmpty(), qPrintable(unnamedControls(window).join(u", ")));

    // Tab reaches every control of the signed-out window in order.
    QStringList reached;
    QVERIFY(QTest::qWaitForWindowActive(window));
    x.controller.window()->view()->appleButton()->setFocus();
    for (int i = 0; i < 5; ++i) {
        QVERIFY(QApplication::focusWidget());
        reached << QApplication::focusWidget()->accessibleName();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    QCOMPARE(reached, (QStringList{QStringLiteral("Sign in with Apple"), QStringLiteral("Sign in with Google"),
                                   QStringLiteral("Launch at login"), QStringLiteral("Deliver reminders on this computer"),
                                   QStringLiteral("Check for Updates")}));
}

void SettingsWindowTest::updateCheckWindow_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("feed");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("offersDownload");
    QTest::newRow("newer") << 200 << QByteArray(R"({"version": "0.2", "url": "https://example.org/oxle"})")
                           << QStringLiteral("Version 0.2 is available.") << true;
    QTest::newRow("same") << 200 << QByteArray(R"({"version": "0.1", "url": "https://example.org/oxle"})")
                          << QStringLiteral("oxle is up to date.") << false;
    QTest::newRow("failed") << 503 << QByteArray() << QStringLiteral("The update check failed.") << false;
}

void SettingsWindowTest::updateCheckWindow()
{
    QFETCH(int, status);
    QFETCH(QByteArray, feed);
    QFETCH(QString, text);
    QFETCH(bool, offersDownload);
    RecordingServer server;
    server.setHandler([&](const RecordedRequest &) { return CannedResponse::json(status, feed); });
    QNetworkAccessManager network;
    UpdateChecker checker(&network, QUrl(server.baseUrl() + QStringLiteral("/feed")), QStringLiteral("0.1.0"));
    QList<QUrl> opened;
    UpdateCheckDialog dialog(checker, [&](const QUrl &url) {
        opened << url;
        return true;
    });
    QSignalSpy finished(&dialog, &UpdateCheckDialog::checkFinished);
    dialog.start();
    QVERIFY(dialog.isVisible());
    QVERIFY(!dialog.isModal());
    QCOMPARE(dialog.text(), QStringLiteral("Checking for updates…"));
    // Asked again while it runs: still one request.
    dialog.start();
    QVERIFY(finished.wait(10'000));
    QCOMPARE(server.requests().size(), 1);
    QCOMPARE(dialog.text(), text);
    QCOMPARE(dialog.downloadButton()->isVisible(), offersDownload);
    QVERIFY2(unnamedControls(&dialog).isEmpty(), qPrintable(unnamedControls(&dialog).join(u", ")));

    // Enter presses the default button: Download when there is something to download, Close otherwise.
    QTest::keyClick(&dialog, Qt::Key_Return);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(opened, offersDownload ? QList<QUrl>{QUrl(QStringLiteral("https://example.org/oxle"))} : QList<QUrl>{});
}

QTEST_MAIN(SettingsWindowTest)
#include "SettingsWindowTest.moc"
