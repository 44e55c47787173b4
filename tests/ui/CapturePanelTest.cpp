// The capture panel's window over the recording server (offscreen): opening, keyboard focus, Escape, reopening,
// Return and Ctrl+Return, the Save button's state and the signed-out layout.

#include "capture/CaptureViewModel.h"
#include "core/Account.h"
#include "core/AuthService.h"
#include "core/SessionStore.h"
#include "core/Transport.h"
#include "library/OxleAPI.h"
#include "support/MemoryKeychain.h"
#include "support/RecordingServer.h"
#include "ui/CaptureController.h"
#include "ui/CapturePanel.h"
#include "ui/CaptureView.h"
#include "ui/GrowingTextEdit.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QPushButton>
#include <QTemporaryDir>
#include <QScrollBar>
#include <QTest>

#include <memory>

using namespace oxle;
using namespace oxle::test;

namespace {

QByteArray listsJson()
{
    return R"([{"id":"sb_u","name":"Vudevu Zoziv","color":null,"icon":null,"is_system":true,"sort_order":0,"created_at":1},
               {"id":"L1","name":"Reading","color":null,"icon":null,"is_system":false,"sort_order":1,"created_at":2}])";
}

struct Fixture
{
    Fixture()
        : config{server.baseUrl(), QStringLiteral("anon"), 60'000}
        , store(&keychain, dir.path())
        , auth(&network, config, nullptr)
        , account(&store, &auth)
        , transport(&network, config)
        , api(transport)
        , model(account, api)
        , controller(model)
    {
        server.setHandler([](const RecordedRequest &request) {
            if (request.method == "GET" && request.path == QStringLiteral("/rest/v1/categories") &&
                !request.queryValue("name"))
                return CannedResponse::json(200, listsJson());
            if (request.method == "POST")
                return CannedResponse::empty(201);
            return CannedResponse::json(200, "[]");
        });
    }

    void signIn()
    {
        store.saveKeychain(OxleSession{QStringLiteral("token"), QStringLiteral("refresh"), 0, QStringLiteral("u"), {}});
        account.restoreSession();
    }

    // The items inserted, as sent.
    QStringList posts() const
    {
        QStringList bodies;
        for (const RecordedRequest &request : server.requests())
            if (request.method == "POST" && request.target == "/rest/v1/items")
                bodies << QString::fromUtf8(request.body);
        return bodies;
    }

    RecordingServer server;
    BackendConfig config;
    QNetworkAccessManager network;
    MemoryKeychain keychain;
    QTemporaryDir dir;
    SessionStore store;
    AuthService auth;
    Account account;
    Transport transport;
    OxleAPI api;
    CaptureViewModel model;
    CaptureController controller;
};

} // namespace

class CapturePanelTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Fixture> f;

    CapturePanel *panel() const { return f->controller.panel(); }
    CaptureView *view() const { return panel()->view(); }

    // Opens signed in and waits for the lists and the keyboard.
    void open(std::optional<QString> prefill = std::nullopt)
    {
        f->controller.present(std::move(prefill));
        QVERIFY(QTest::qWaitForWindowActive(panel()));
        if (f->model.isSignedIn())
            QTRY_COMPARE(view()->listPicker()->count(), 2);
    }

    void verifyAccessibleNames() const
    {
        for (QWidget *control : panel()->findChildren<QWidget *>())
            if (qobject_cast<QAbstractButton *>(control) || qobject_cast<QComboBox *>(control) ||
                qobject_cast<QPlainTextEdit *>(control))
                QVERIFY2(!control->accessibleName().isEmpty(), control->metaObject()->className());
    }

private Q_SLOTS:
    void init() { f = std::make_unique<Fixture>(); }
    void cleanup() { f.reset(); }

    void signedOutLayout()
    {
        open();
        QVERIFY(panel()->isVisible());
        QVERIFY(panel()->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(!view()->textField()->isVisible());
        QVERIFY(!view()->saveButton()->isVisible());
        QVERIFY(view()->appleButton()->isVisible());
        QVERIFY(view()->googleButton()->isVisible());
        QVERIFY(!view()->signedOutStatusLabel()->isVisible());
        QCOMPARE(panel()->focusWidget(), view()->appleButton());
        QCOMPARE(panel()->width(), CaptureView::width);
        // Tab reaches the second provider.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), view()->googleButton());
        verifyAccessibleNames();
        QVERIFY(f->server.requests().isEmpty());
    }

    void escapeHidesAndReopeningResets()
    {
        f->signIn();
        int closed = 0;
        open(QStringLiteral("https://example.com/first"));
        panel()->onClose = [&closed] { ++closed; };
        QCOMPARE(view()->textField()->toPlainText(), QStringLiteral("https://example.com/first"));
        QCOMPARE(panel()->focusWidget(), view()->textField());
        verifyAccessibleNames();

        // Pick a list and leave a failure in the status line.
        view()->listPicker()->setCurrentIndex(1);
        QCOMPARE(f->model.selectedCategoryID(), std::optional<QString>("L1"));
        f->server.setHandler([](const RecordedRequest &) { return CannedResponse::json(500, "Server is down"); });
        QTest::keyClick(view()->textField(), Qt::Key_Return);
        QTRY_COMPARE(view()->statusLabel()->text(), QStringLiteral("Server is down"));
        QCOMPARE(view()->textField()->toPlainText(), QStringLiteral("https://example.com/first"));

        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QVERIFY(!panel()->isVisible());
        QCOMPARE(closed, 1);

        // Plain text on the clipboard is not offered; status and list start afresh.
        CapturePanel *first = panel();
        f->server.setHandler([](const RecordedRequest &) { return CannedResponse::json(200, listsJson()); });
        f->controller.present(QStringLiteral("just some words"));
        QCOMPARE(panel(), first);
        QVERIFY(panel()->isVisible());
        QCOMPARE(view()->textField()->toPlainText(), QString());
        QCOMPARE(view()->statusLabel()->text(), QString());
        QCOMPARE(view()->listPicker()->currentText(), QStringLiteral("Vudevu Zoziv"));
        QCOMPARE(panel()->focusWidget(), view()->textField());
    }

    // The field grows with its text up to six lines; only beyond them does it scroll. Empty at the first
    // opening (nothing on the clipboard), it shows no scroll bar either.
    void fieldScrollsOnlyBeyondSixLines()
    {
        f->signIn();
        open();
        QScrollBar *bar = view()->textField()->verticalScrollBar();
        QTest::qWait(50);
        QVERIFY(!bar->isVisible());
        view()->textField()->setPlainText(QStringLiteral("one\ntwo\nthree"));
        QTest::qWait(50);
        QVERIFY(!bar->isVisible());
        view()->textField()->setPlainText(QStringLiteral("1\n2\n3\n4\n5\n6\n7\n8"));
        QTRY_VERIFY(bar->isVisible());
    }

    void returnSubmitsAndThePanelCloses()
    {
        f->signIn();
        open();
        f->server.clear();
        QTest::keyClicks(view()->textField(), QStringLiteral("first line"));
        QTest::keyClick(view()->textField(), Qt::Key_Return, Qt::ShiftModifier);
        QTest::keyClicks(view()->textField(), QStringLiteral("second"));
        QCOMPARE(f->posts(), QStringList());
        QTest::keyClick(view()->textField(), Qt::Key_Return);
        QTRY_COMPARE(f->posts().size(), 1);
        QVERIFY(f->posts().first().contains(QStringLiteral("first line\\nsecond")));
        QTRY_COMPARE(view()->statusLabel()->text(), QStringLiteral("Saved to Vudevu Zoziv."));
        QCOMPARE(view()->textField()->toPlainText(), QString());
        QTRY_VERIFY_WITH_TIMEOUT(!panel()->isVisible(), 2000);
    }

    void ctrlReturnSaves()
    {
        f->signIn();
        open(QStringLiteral("https://example.com/page"));
        view()->listPicker()->setFocus();
        f->server.clear();
        QTest::keyClick(view()->listPicker(), Qt::Key_Return, Qt::ControlModifier);
        QTRY_COMPARE(f->posts().size(), 1);
        QVERIFY(f->posts().first().contains(QStringLiteral("https://example.com/page")));
    }

    void saveButtonState_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("empty") << "" << false;
        QTest::newRow("spaces and newlines") << " \n \t" << false;
        QTest::newRow("a note") << " a " << true;
    }
    void saveButtonState()
    {
        QFETCH(QString, text);
        QFETCH(bool, enabled);
        f->signIn();
        open();
        view()->textField()->setPlainText(text);
        QCOMPARE(view()->saveButton()->isEnabled(), enabled);
        if (!enabled)
            return;
        // Disabled while the save runs.
        f->server.setHandler([](const RecordedRequest &) { return CannedResponse::empty(201).after(300); });
        QTest::mouseClick(view()->saveButton(), Qt::LeftButton);
        QVERIFY(!view()->saveButton()->isEnabled());
        QCOMPARE(view()->statusLabel()->text(), QStringLiteral("Saving…"));
        QTRY_COMPARE_WITH_TIMEOUT(view()->statusLabel()->text(), QStringLiteral("Saved to Vudevu Zoziv."), 3000);
    }
};

QTEST_MAIN(CapturePanelTest)
#include "CapturePanelTest.moc"
