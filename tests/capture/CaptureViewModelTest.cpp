// The capture panel's state against the recording server: what a save sends, the confirmation it shows, the
// failures that keep the text, the close after a save and its cancellation, and the lists offered.

#include "capture/CaptureViewModel.h"
#include "core/Account.h"
#include "core/AuthService.h"
#include "core/BrowserSignIn.h"
#include "core/SessionStore.h"
#include "core/Transport.h"
#include "library/OxleAPI.h"
#include "support/CoroTest.h"
#include "support/MemoryKeychain.h"
#include "support/RecordingServer.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace oxle;
using namespace oxle::test;

namespace {

const QString userId = QStringLiteral("user-1");

OxleSession testSession(qint64 expiresAt = 0)
{
    return OxleSession{QStringLiteral("token"), QStringLiteral("refresh"), expiresAt, userId, {}};
}

QByteArray listsJson()
{
    return R"([{"id":"sb_user-1","name":"Vudevu Zoziv","color":null,"icon":null,"is_system":true,"sort_order":0,"created_at":1},
               {"id":"L1","name":"Reading","color":"#536878","icon":"book","is_system":false,"sort_order":1,"created_at":2},
               {"id":"L2","name":"Later","color":null,"icon":null,"is_system":false,"sort_order":2,"created_at":3}])";
}

// A browser sign-in that answers with a callback URL, or fails as the platform's cancellation.
class ScriptedBrowser : public BrowserSignIn
{
public:
    std::optional<QUrl> callback; // none: cancelled
    QCoro::Task<QUrl> start(QUrl /*url*/, QString /*scheme*/) override
    {
        if (!callback)
            throw SignInCancelled();
        co_return *callback;
    }
};

struct Fixture
{
    Fixture()
        : server(std::make_unique<RecordingServer>())
        , config{server->baseUrl(), QStringLiteral("anon"), 60'000}
        , store(&keychain, dir.path())
        , auth(&network, config, &browser)
        , account(&store, &auth)
        , transport(&network, config)
        , api(transport)
        , model(account, api)
    {
    }

    void signIn(qint64 expiresAt = 0)
    {
        store.saveKeychain(testSession(expiresAt));
        account.restoreSession();
    }

    const QList<RecordedRequest> &requests() const { return server->requests(); }

    std::unique_ptr<RecordingServer> server;
    BackendConfig config;
    QNetworkAccessManager network;
    MemoryKeychain keychain;
    QTemporaryDir dir;
    ScriptedBrowser browser;
    SessionStore store;
    AuthService auth;
    Account account;
    Transport transport;
    OxleAPI api;
    CaptureViewModel model;
};

QString tableOf(const RecordedRequest &request)
{
    const qsizetype question = request.target.indexOf('?');
    return QString::fromUtf8(question < 0 ? request.target : request.target.left(question));
}

} // namespace

class CaptureViewModelTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Fixture> f;

    // Signed in, opened, lists loaded, requests of the opening forgotten.
    void openWithLists(std::optional<QString> prefill = std::nullopt)
    {
        f->server->setResponses({CannedResponse::json(200, listsJson())});
        f->signIn();
        f->model.prepare(std::move(prefill));
        QTRY_COMPARE(f->model.categories().size(), 3);
        f->server->clear();
    }

    void waitUntilIdle() { QTRY_VERIFY_WITH_TIMEOUT(!f->model.isBusy(), 5000); }

private Q_SLOTS:
    void init() { f = std::make_unique<Fixture>(); }
    void cleanup() { f.reset(); }

    void prefill_data()
    {
        QTest::addColumn<std::optional<QString>>("clipboard");
        QTest::addColumn<QString>("expected");
        QTest::newRow("link") << std::optional<QString>("https://example.com/a") << "https://example.com/a";
        QTest::newRow("link with spaces kept as is")
            << std::optional<QString>("  https://example.com/a \n") << "  https://example.com/a \n";
        QTest::newRow("plain text") << std::optional<QString>("remember the milk") << "";
        QTest::newRow("nothing") << std::optional<QString>() << "";
    }
    void prefill()
    {
        QFETCH(std::optional<QString>, clipboard);
        QFETCH(QString, expected);
        f->model.setText(QStringLiteral("left over"));
        f->model.prepare(clipboard);
        QCOMPARE(f->model.text(), expected);
        QVERIFY(!f->model.isSignedIn());
        // Signed out: no list load.
        QTest::qWait(20);
        QVERIFY(f->requests().isEmpty());
    }

    // What one save sends and what the status line then says.
    void saveOutcome_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<std::optional<QString>>("list");
        QTest::addColumn<QList<CannedResponse>>("responses");
        QTest::addColumn<QStringList>("expectedRequests");
        QTest::addColumn<QString>("expectedStatus");
        QTest::addColumn<QString>("expectedCategory"); // of the inserted row; empty when nothing inserted

        const auto ok = CannedResponse::empty(201);
        const auto none = CannedResponse::json(200, "[]");
        QTest::newRow("already saved")
            << "https://example.com/a" << std::optional<QString>()
            << QList<CannedResponse>{CannedResponse::json(200, R"([{"id":"old"}])")}
            << QStringList{"GET /rest/v1/items"} << "Already saved." << "";
        QTest::newRow("link into the default list")
            << "  https://example.com/a\n" << std::optional<QString>()
            << QList<CannedResponse>{none, CannedResponse::json(200, R"([{"id":"D"}])"), ok}
            << QStringList{"GET /rest/v1/items", "GET /rest/v1/categories", "POST /rest/v1/items"}
            << "Saved to Vudevu Zoziv." << "D";
        QTest::newRow("note into a picked list")
            << "buy milk\nand bread" << std::optional<QString>("L1") << QList<CannedResponse>{ok}
            << QStringList{"POST /rest/v1/items"} << "Saved to Reading." << "L1";
        QTest::newRow("picked list gone from the lists")
            << "buy milk" << std::optional<QString>("gone") << QList<CannedResponse>{ok}
            << QStringList{"POST /rest/v1/items"} << "Saved to your list." << "gone";
    }
    void saveOutcome()
    {
        QFETCH(QString, text);
        QFETCH(std::optional<QString>, list);
        QFETCH(QList<CannedResponse>, responses);
        QFETCH(QStringList, expectedRequests);
        QFETCH(QString, expectedStatus);
        QFETCH(QString, expectedCategory);

        openWithLists();
        f->server->setResponses(responses);
        f->model.setText(text);
        f->model.setSelectedCategoryID(list);
        f->model.submit();
        QVERIFY(f->model.isBusy());
        QVERIFY(!f->model.canSave());
        QCOMPARE(f->model.status(), QStringLiteral("Saving…"));
        waitUntilIdle();

        QStringList sent;
        for (const RecordedRequest &request : f->requests())
            sent << QString::fromLatin1(request.method) + ' ' + tableOf(request);
        QCOMPARE(sent, expectedRequests);
        QCOMPARE(f->model.status(), expectedStatus);
        QCOMPARE(f->model.text(), QString());
        QVERIFY(f->model.isDismissPending());
        if (!expectedCategory.isEmpty()) {
            const QJsonObject row = QJsonDocument::fromJson(f->requests().last().body).object();
            QCOMPARE(row.value("category_id").toString(), expectedCategory);
            QCOMPARE(row.value("user_id").toString(), userId);
            // The text is trimmed before it is stored.
            const QString stored = row.contains("note") ? row.value("note").toString() : row.value("url").toString();
            QCOMPARE(stored, text.trimmed());
        }
    }

    // Nothing reaches the backend, and the status says why (or nothing for empty text).
    void nothingSent_data()
    {
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expectedStatus");
        QTest::newRow("empty") << true << "" << "";
        QTest::newRow("white space and newlines") << true << " \n\t \n" << "";
        QTest::newRow("signed out") << false << "https://example.com" << "Sign in to save.";
    }
    void nothingSent()
    {
        QFETCH(bool, signedIn);
        QFETCH(QString, text);
        QFETCH(QString, expectedStatus);
        if (signedIn)
            openWithLists();
        f->model.setText(text);
        QCOMPARE(f->model.canSave(), !text.trimmed().isEmpty());
        f->model.submit();
        QCOMPARE(f->model.status(), expectedStatus);
        QVERIFY(!f->model.isBusy());
        QTest::qWait(50);
        QVERIFY(f->requests().isEmpty());
        QCOMPARE(f->model.text(), text);
    }

    void failureKeepsTheText_data()
    {
        QTest::addColumn<QList<CannedResponse>>("responses");
        QTest::addColumn<qint64>("expiresAt");
        QTest::addColumn<QString>("expectedStatus");
        QTest::newRow("insert refused") << QList<CannedResponse>{CannedResponse::json(409, "duplicate key")} << qint64(0)
                                        << "duplicate key";
        // An expired token is refreshed first; the refresh fails with the server's message.
        QTest::newRow("refresh fails")
            << QList<CannedResponse>{CannedResponse::json(400, R"({"error_description":"Invalid Refresh Token"})")}
            << qint64(1) << "";
    }
    void failureKeepsTheText()
    {
        QFETCH(QList<CannedResponse>, responses);
        QFETCH(qint64, expiresAt);
        QFETCH(QString, expectedStatus);
        // Opened while signed out, so that no list load asks for a refresh first.
        f->model.prepare(std::nullopt);
        f->signIn(expiresAt);
        f->server->setResponses(responses);
        const QString text = QStringLiteral("a note\n");
        f->model.setText(text);
        f->model.setSelectedCategoryID(QStringLiteral("L1"));
        f->model.submit();
        waitUntilIdle();
        QCOMPARE(f->requests().size(), 1);
        if (!expectedStatus.isEmpty())
            QCOMPARE(f->model.status(), expectedStatus);
        else
            QVERIFY(!f->model.status().isEmpty() && f->model.status() != QStringLiteral("Saving…"));
        QCOMPARE(f->model.text(), text);
        QVERIFY(f->model.canSave());
        QVERIFY(!f->model.isDismissPending());
    }

    // Return in the field is not stopped by the disabled Save button: the second submit must not save again.
    void secondSubmitDuringASaveSendsNothing()
    {
        openWithLists();
        f->server->setResponses({CannedResponse::empty(201).after(200)});
        f->model.setText(QStringLiteral("a note"));
        f->model.setSelectedCategoryID(QStringLiteral("L1"));
        f->model.submit();
        f->model.submit();
        waitUntilIdle();
        QTest::qWait(50);
        QCOMPARE(f->requests().size(), 1);
    }

    void dismissesAfterTheConfirmation()
    {
        openWithLists();
        int dismissed = 0;
        f->model.onDismiss = [&dismissed] { ++dismissed; };
        f->server->setResponses({CannedResponse::empty(201)});
        f->model.setText(QStringLiteral("a note"));
        f->model.setSelectedCategoryID(QStringLiteral("L2"));
        f->model.submit();
        waitUntilIdle();
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(f->model.status(), QStringLiteral("Saved to Later."));
        QTRY_COMPARE_WITH_TIMEOUT(dismissed, 1, 2000);
        QVERIFY2(clock.elapsed() >= 500, qPrintable(QString::number(clock.elapsed())));
        QTest::qWait(100);
        QCOMPARE(dismissed, 1);
    }

    void dismissIsCancelled_data()
    {
        QTest::addColumn<bool>("reopen");
        QTest::newRow("panel closed another way") << false;
        QTest::newRow("panel reopened") << true;
    }
    void dismissIsCancelled()
    {
        QFETCH(bool, reopen);
        openWithLists();
        int dismissed = 0;
        f->model.onDismiss = [&dismissed] { ++dismissed; };
        f->server->setResponses({CannedResponse::empty(201)});
        f->model.setText(QStringLiteral("a note"));
        f->model.setSelectedCategoryID(QStringLiteral("L1"));
        f->model.submit();
        waitUntilIdle();
        QVERIFY(f->model.isDismissPending());
        if (reopen) {
            f->model.prepare(QStringLiteral("https://example.com/next"));
            QCOMPARE(f->model.status(), QString());
            QCOMPARE(f->model.selectedCategoryID(), std::optional<QString>());
            QCOMPARE(f->model.text(), QStringLiteral("https://example.com/next"));
        } else {
            f->model.cancelDismiss();
        }
        QTest::qWait(int(CaptureViewModel::dismissDelay.count()) + 200);
        QCOMPARE(dismissed, 0);
    }

    void listsOnOpening()
    {
        f->server->setResponses({CannedResponse::json(200, listsJson())});
        f->signIn();
        f->model.prepare(std::nullopt);
        QVERIFY(f->model.isSignedIn());
        QTRY_COMPARE(f->model.categories().size(), 3);
        QCOMPARE(f->requests().size(), 1);
        const RecordedRequest &request = f->requests().first();
        QCOMPARE(request.method, QByteArray("GET"));
        QCOMPARE(tableOf(request), QStringLiteral("/rest/v1/categories"));
        QCOMPARE(request.queryValue("user_id"), QStringLiteral("eq.user-1"));
        QCOMPARE(request.header("Authorization"), QByteArray("Bearer token"));
        // The default list is a system list: the picker offers it once, as "Vudevu Zoziv".
        QStringList names;
        for (const Category &category : f->model.userLists())
            names << category.name;
        QCOMPARE(names, QStringList({"Reading", "Later"}));
        QCOMPARE(f->model.selectedListName(), QStringLiteral("Vudevu Zoziv"));
        f->model.setSelectedCategoryID(QStringLiteral("L2"));
        QCOMPARE(f->model.selectedListName(), QStringLiteral("Later"));

        // A failed reload empties the lists; a list picked earlier is then "your list".
        f->server->setResponses({CannedResponse::json(500, "boom")});
        f->model.loadLists();
        QTRY_VERIFY(f->model.categories().isEmpty());
        QCOMPARE(f->model.status(), QString());
        QCOMPARE(f->model.selectedListName(), QStringLiteral("your list"));
    }

    void signIn_data()
    {
        QTest::addColumn<std::optional<QUrl>>("callback");
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<QString>("expectedStatus");
        QTest::newRow("success") << std::optional<QUrl>(QUrl("oxle://auth-callback#access_token=a&refresh_token=r"))
                                 << true << "";
        QTest::newRow("provider error")
            << std::optional<QUrl>(QUrl("oxle://auth-callback#error=access_denied&error_description=User+said+no"))
            << false << "User said no";
        QTest::newRow("cancelled") << std::optional<QUrl>() << false
                                   << SignInCancelled().description();
    }
    void signIn()
    {
        QFETCH(std::optional<QUrl>, callback);
        QFETCH(bool, signedIn);
        QFETCH(QString, expectedStatus);
        f->browser.callback = callback;
        f->server->setResponses({CannedResponse::json(200, listsJson())});
        f->model.prepare(std::nullopt);
        f->model.setText(QStringLiteral("x"));
        f->model.submit();
        QCOMPARE(f->model.status(), QStringLiteral("Sign in to save."));
        f->model.signIn(QStringLiteral("google"));
        QTRY_COMPARE(f->model.isSignedIn(), signedIn);
        QTRY_COMPARE(f->model.status(), expectedStatus);
        if (signedIn) {
            QTRY_COMPARE(f->model.categories().size(), 3);
        } else {
            QTest::qWait(50);
            QVERIFY(f->requests().isEmpty());
        }
    }
};

QTEST_GUILESS_MAIN(CaptureViewModelTest)
#include "CaptureViewModelTest.moc"
