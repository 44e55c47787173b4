#include "BackendEnv.h"
#include "Jwt.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageAuthenticationCode>
#include <QTest>
#include <QUrl>
#include <QUuid>

#include <httplib.h>

#include <future>

using namespace oxle::backend;

namespace {

struct Session {
    QString access;
    QString refresh;
};

QMap<QString, QString> formFields(const QString &encoded, QStringList *keys = nullptr)
{
    QMap<QString, QString> fields;
    for (const QString &piece : encoded.split('&', Qt::SkipEmptyParts)) {
        const qsizetype eq = piece.indexOf('=');
        const QString key = piece.left(eq);
        QString value = piece.mid(eq + 1);
        value.replace('+', ' ');
        fields.insert(key, QUrl::fromPercentEncoding(value.toUtf8()));
        if (keys)
            *keys << key;
    }
    return fields;
}

} // namespace

class BackendAuthTest : public QObject
{
    Q_OBJECT

    BackendEnv m_env = BackendEnv::fromEnvironment();
    std::unique_ptr<httplib::Client> m_client;

    httplib::Client &client()
    {
        if (!m_client) {
            m_client = std::make_unique<httplib::Client>(m_env.url.toStdString());
            m_client->set_follow_location(false);
        }
        return *m_client;
    }

    httplib::Result authorize(const QString &query)
    {
        return client().Get("/auth/v1/authorize?" + query.toStdString());
    }
    static QString location(const httplib::Result &res)
    {
        return res ? QString::fromStdString(res->get_header_value("Location")) : QString();
    }

    Session signIn(const QString &email)
    {
        const QString to = location(authorize("provider=google&redirect_to=oxle%3A%2F%2Fauth-callback&login_hint="
                                              + QUrl::toPercentEncoding(email)));
        const auto fields = formFields(to.mid(to.indexOf('#') + 1));
        return {fields.value("access_token"), fields.value("refresh_token")};
    }

    httplib::Result refresh(const QString &token, httplib::Client *other = nullptr)
    {
        const std::string body = QJsonDocument(QJsonObject{{"refresh_token", token}}).toJson().toStdString();
        httplib::Headers headers = {{"apikey", m_env.anonKey.toStdString()}};
        return (other ? *other : client())
            .Post("/auth/v1/token?grant_type=refresh_token", headers, body, "application/json");
    }

    static QJsonObject json(const httplib::Result &res)
    {
        return res ? QJsonDocument::fromJson(QByteArray::fromStdString(res->body)).object() : QJsonObject();
    }

    // Makes a revoked token look as if it was revoked long ago, beyond any reuse interval.
    void ageToken(const QString &token)
    {
        const PgConnPtr conn = m_env.connect();
        const char *sql = "update auth.refresh_tokens set updated_at = now() - interval '1 hour' where token = $1";
        QCOMPARE(execSql(conn.get(), sql, {token}).affected, 1);
    }

private slots:
    void init() { OXLE_REQUIRE_BACKEND_ENV(m_env); }

    void signInRedirectCarriesSortedFragment()
    {
        const auto res = authorize("provider=apple&redirect_to=oxle%3A%2F%2Fauth-callback&login_hint=Mixed.Case%40Example.org");
        QCOMPARE(res->status, 302);
        const QString to = location(res);
        QVERIFY2(to.startsWith("oxle://auth-callback#"), qPrintable(to.left(40)));
        QStringList keys;
        const auto fields = formFields(to.mid(to.indexOf('#') + 1), &keys);
        QCOMPARE(keys, (QStringList{"access_token", "expires_at", "expires_in", "provider_token", "refresh_token",
                                    "token_type"}));
        QCOMPARE(fields.value("token_type"), QStringLiteral("bearer"));

        const JwtCheck check = verifyHs256(fields.value("access_token").toUtf8(), m_env.jwtSecret(),
                                           QDateTime::currentSecsSinceEpoch());
        QVERIFY2(check.ok, qPrintable(check.message));
        const QJsonObject c = check.claims;
        const qint64 iat = c.value("iat").toInteger();
        QCOMPARE(c.value("exp").toInteger() - iat, fields.value("expires_in").toLongLong());
        QCOMPARE(c.value("exp").toInteger(), fields.value("expires_at").toLongLong());
        QVERIFY(qAbs(iat - QDateTime::currentSecsSinceEpoch()) < 60);
        const QJsonObject fixed{{"iss", m_env.url + "/auth/v1"}, {"aud", "authenticated"}, {"role", "authenticated"},
                                {"email", "mixed.case@example.org"}, {"phone", ""}, {"aal", "aal1"},
                                {"is_anonymous", false}, {"user_metadata", QJsonObject()}};
        for (auto it = fixed.begin(); it != fixed.end(); ++it)
            QVERIFY2(c.value(it.key()) == it.value(), qPrintable(it.key()));
        QVERIFY(!QUuid::fromString(c.value("sub").toString()).isNull());
        QVERIFY(!QUuid::fromString(c.value("session_id").toString()).isNull());
        QCOMPARE(c.value("app_metadata").toObject().value("providers").toArray().contains("apple"), true);
        QCOMPARE(c.value("amr").toArray().first().toObject().value("method").toString(), QStringLiteral("oauth"));

        // The same address in another case is the same account.
        const Session again = signIn("MIXED.case@example.org");
        const JwtCheck second = verifyHs256(again.access.toUtf8(), m_env.jwtSecret(), QDateTime::currentSecsSinceEpoch());
        QCOMPARE(second.claims.value("sub"), c.value("sub"));
    }

    void redirectTargets_data()
    {
        QTest::addColumn<QString>("redirectTo");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("app callback") << "oxle://auth-callback" << true;
        QTest::newRow("loopback ip") << "http://127.0.0.1:9999/cb?x=1" << true;
        QTest::newRow("localhost") << "http://localhost/cb" << true;
        QTest::newRow("ipv6 loopback") << "http://[::1]:8080/cb" << true;
        QTest::newRow("foreign host") << "https://evil.example/cb" << false;
        QTest::newRow("lookalike host") << "http://localhost.evil.example/cb" << false;
        QTest::newRow("credentials trick") << "http://127.0.0.1@evil.example/" << false;
        QTest::newRow("other app host") << "oxle://join/ABC" << false;
        QTest::newRow("javascript") << "javascript:alert(1)" << false;
    }

    void redirectTargets()
    {
        QFETCH(QString, redirectTo);
        QFETCH(bool, allowed);
        const auto res = authorize("provider=google&cancel=1&redirect_to=" + QUrl::toPercentEncoding(redirectTo));
        QCOMPARE(res->status, 302);
        const QString expected = allowed ? QUrl(redirectTo).toString(QUrl::FullyEncoded) : m_env.url;
        QVERIFY2(location(res).startsWith(expected), qPrintable(location(res)));
    }

    // The page's buttons post a form; cancelling there or by query gives the provider's error redirect.
    void formAndCancel()
    {
        const QString error = "error=access_denied&error_description=The+user+cancelled+the+sign-in";
        QCOMPARE(location(authorize("provider=google&redirect_to=oxle%3A%2F%2Fauth-callback&cancel=1")),
                 "oxle://auth-callback?" + error + "#" + error);
        httplib::Params form = {{"provider", "google"}, {"redirect_to", "oxle://auth-callback"}, {"action", "cancel"}};
        QCOMPARE(location(client().Post("/auth/v1/authorize", form)), "oxle://auth-callback?" + error + "#" + error);
        form = {{"provider", "google"}, {"redirect_to", "oxle://auth-callback"}, {"email", "form.user@example.com"},
                {"action", "signin"}};
        QVERIFY(location(client().Post("/auth/v1/authorize", form)).contains("&refresh_token="));
    }

    void pageEscapesEverythingEchoed()
    {
        const auto res = authorize("provider=google&redirect_to=http%3A%2F%2F127.0.0.1%2F%3Fq%3D%22%3E%3Cscript%3Ex"
                                   "&login_hint=%3Cscript%3Ealert(1)%3C%2Fscript%3E%22");
        QCOMPARE(res->status, 400); // not an address
        const QString page = QString::fromStdString(res->body);
        QVERIFY(page.contains("<form"));
        QVERIFY(!page.contains("<script"));
        QVERIFY(page.contains("&lt;script&gt;"));
        QVERIFY(res->get_header_value("Content-Type").starts_with("text/html"));
    }

    // The page shows one e-mail field and nothing about who has signed in before; the old one-click "account"
    // field signs nobody in.
    void signInPageListsNoAccounts()
    {
        const QString email = QStringLiteral("listed.%1@example.com")
                                  .arg(QUuid::createUuid().toString(QUuid::Id128).left(8));
        QVERIFY(!signIn(email).access.isEmpty());

        const auto page = authorize("provider=google&redirect_to=oxle%3A%2F%2Fauth-callback");
        QCOMPARE(page->status, 200);
        const QString body = QString::fromStdString(page->body);
        QVERIFY(body.contains("type=\"email\""));
        QVERIFY2(!body.contains(email) && !body.contains("@example.com"), "the page names an existing account");
        QCOMPARE(body.count("<input"), 3); // provider, redirect_to and the e-mail field
        QVERIFY(!body.contains("name=\"account\""));

        const httplib::Params form = {{"provider", "google"}, {"redirect_to", "oxle://auth-callback"},
                                      {"account", email.toStdString()}, {"action", "signin"}};
        const auto res = client().Post("/auth/v1/authorize", form);
        QCOMPARE(res->status, 400);
        QVERIFY(location(res).isEmpty());
    }

    // Signed by the server's own secret for a real account, yet without a usable expiry: both the auth API and
    // the REST API refuse it.
    void tokensWithoutUsableExpiry_data()
    {
        QTest::addColumn<QString>("timeClaims"); // JSON members added to the account's claims
        QTest::addColumn<bool>("accepted");
        QTest::newRow("valid exp") << R"("exp":EXP)" << true;
        QTest::newRow("no exp") << "" << false;
        QTest::newRow("exp null") << R"("exp":null)" << false;
        // One out-of-range number per claim; every numeric corner is JwtTest's.
        QTest::newRow("exp 1e300") << R"("exp":1e300)" << false;
        QTest::newRow("nbf 1e300") << R"("exp":EXP,"nbf":1e300)" << false;
    }

    void tokensWithoutUsableExpiry()
    {
        QFETCH(QString, timeClaims);
        QFETCH(bool, accepted);
        const Session s = signIn("expiry@example.com");
        QJsonObject claims =
            verifyHs256(s.access.toUtf8(), m_env.jwtSecret(), QDateTime::currentSecsSinceEpoch()).claims;
        QVERIFY(!claims.isEmpty());
        for (const char *name : {"exp", "nbf", "iat"})
            claims.remove(QLatin1String(name));
        QByteArray payload = QJsonDocument(claims).toJson(QJsonDocument::Compact);
        if (!timeClaims.isEmpty()) {
            payload.chop(1);
            payload += ',' + timeClaims.toUtf8() + '}';
            payload.replace("EXP", QByteArray::number(QDateTime::currentSecsSinceEpoch() + 600));
        }
        const QByteArray input = base64UrlEncode(R"({"alg":"HS256","typ":"JWT"})") + '.' + base64UrlEncode(payload);
        const QByteArray token = input + '.'
            + base64UrlEncode(QMessageAuthenticationCode::hash(input, m_env.jwtSecret(), QCryptographicHash::Sha256));

        const httplib::Headers headers = {{"apikey", m_env.anonKey.toStdString()},
                                          {"Authorization", "Bearer " + token.toStdString()}};
        const auto user = client().Get("/auth/v1/user", headers);
        const auto rows = client().Get("/rest/v1/items?select=id&limit=1", headers);
        QVERIFY(user && rows);
        if (accepted) {
            QCOMPARE(user->status, 200);
            QCOMPARE(json(user).value("email").toString(), QStringLiteral("expiry@example.com"));
            QCOMPARE(rows->status, 200);
        } else {
            QCOMPARE(user->status, 403);
            QCOMPARE(json(user).value("error_code").toString(), QStringLiteral("bad_jwt"));
            QCOMPARE(rows->status, 401);
            QCOMPARE(QJsonDocument::fromJson(QByteArray::fromStdString(rows->body)).object().value("code").toString(),
                     QStringLiteral("PGRST301"));
        }
    }

    void unknownProviderIsRefused()
    {
        const auto res = authorize("provider=github&redirect_to=oxle%3A%2F%2Fauth-callback&login_hint=a%40b.c");
        QCOMPARE(res->status, 400);
        QCOMPARE(json(res).value("error_code").toString(), QStringLiteral("validation_failed"));
    }

    void tokenEndpointErrors()
    {
        auto res = client().Post("/auth/v1/token?grant_type=refresh_token", {{"apikey", "wrong"}},
                                 R"({"refresh_token":"x"})", "application/json");
        QCOMPARE(res->status, 401);
        QCOMPARE(json(res), (QJsonObject{{"message", "Invalid API key"}}));

        res = refresh("no-such-token");
        QCOMPARE(res->status, 400);
        QCOMPARE(json(res), (QJsonObject{{"code", 400}, {"error_code", "refresh_token_not_found"},
                                         {"msg", "Invalid Refresh Token: Refresh Token Not Found"}}));
        res = client().Post("/auth/v1/token?grant_type=refresh_token", {{"apikey", m_env.anonKey.toStdString()}},
                            "{not json", "application/json");
        QCOMPARE(res->status, 400);
        QCOMPARE(json(res).value("error_code").toString(), QStringLiteral("bad_json"));
    }

    void sequentialRotation()
    {
        const Session s = signIn("rotate@example.com");
        QVERIFY(!s.refresh.isEmpty());
        auto res = refresh(s.refresh);
        QCOMPARE(res->status, 200);
        const QJsonObject first = json(res);
        QCOMPARE(first.value("token_type").toString(), QStringLiteral("bearer"));
        QCOMPARE(first.value("user").toObject().value("email").toString(), QStringLiteral("rotate@example.com"));
        QVERIFY(first.value("expires_at").toInteger() > QDateTime::currentSecsSinceEpoch());
        const QString child = first.value("refresh_token").toString();
        QVERIFY(!child.isEmpty() && child != s.refresh);

        // The parent of the active token (a lost answer) gets that same token back.
        res = refresh(s.refresh);
        QCOMPARE(res->status, 200);
        QCOMPARE(json(res).value("refresh_token").toString(), child);

        res = refresh(child);
        QCOMPARE(res->status, 200);
        const QString grandchild = json(res).value("refresh_token").toString();
        QVERIFY(grandchild != child);

        // The first token, no longer the active one's parent, within the reuse interval: a fresh child.
        res = refresh(s.refresh);
        QCOMPARE(res->status, 200);
        QVERIFY(json(res).value("refresh_token").toString() != grandchild);
    }

    void concurrentIdenticalRefreshesAgree()
    {
        const Session s = signIn("concurrent@example.com");
        httplib::Client a(m_env.url.toStdString()), b(m_env.url.toStdString());
        auto fa = std::async(std::launch::async, [&] { return refresh(s.refresh, &a); });
        auto fb = std::async(std::launch::async, [&] { return refresh(s.refresh, &b); });
        const QJsonObject ra = json(fa.get()), rb = json(fb.get());
        QVERIFY(!ra.value("refresh_token").toString().isEmpty());
        QCOMPARE(ra.value("refresh_token"), rb.value("refresh_token"));
    }

    void replayAfterIntervalRevokesFamily()
    {
        const Session s = signIn("replay@example.com");
        const QString child = json(refresh(s.refresh)).value("refresh_token").toString();
        const QString grandchild = json(refresh(child)).value("refresh_token").toString();
        QVERIFY(!grandchild.isEmpty());
        ageToken(s.refresh);

        // The replayed token and, with the family, the legitimate holder's token are refused.
        for (const QString &token : {s.refresh, grandchild}) {
            const auto res = refresh(token);
            QCOMPARE(res->status, 400);
            QCOMPARE(json(res).value("error_code").toString(), QStringLiteral("refresh_token_already_used"));
        }
    }
};

QTEST_GUILESS_MAIN(BackendAuthTest)
#include "BackendAuthTest.moc"
