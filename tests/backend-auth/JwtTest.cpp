#include "Jwt.h"

#include <QJsonDocument>
#include <QMessageAuthenticationCode>
#include <QTest>

using namespace oxle::backend;

namespace {

const QByteArray kSecret = "test-secret-with-enough-length-0123456789";
constexpr qint64 kNow = 1'700'000'000;

QByteArray segment(const QByteArray &json) { return base64UrlEncode(json); }

QByteArray signRaw(const QByteArray &header, const QByteArray &payload, const QByteArray &secret)
{
    const QByteArray input = segment(header) + '.' + segment(payload);
    return input + '.'
        + base64UrlEncode(QMessageAuthenticationCode::hash(input, secret, QCryptographicHash::Sha256));
}

} // namespace



class JwtTest : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip()
    {
        const QJsonObject claims{{"sub", "u1"}, {"role", "authenticated"}, {"exp", kNow + 60}};
        const QByteArray token = signHs256(claims, kSecret);
        QCOMPARE(token.count('.'), 2);
        QVERIFY(!token.contains('='));
        const JwtCheck check = verifyHs256(token, kSecret, kNow);
        QVERIFY2(check.ok, qPrintable(check.message));
        QCOMPARE(check.claims, claims);
    }

    void rejects_data()
    {
        QTest::addColumn<QByteArray>("token");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("message");

        const QByteArray good = signHs256(QJsonObject{{"sub", "u1"}, {"role", "authenticated"}}, kSecret);
        const QList<QByteArray> parts = good.split('.');
        const QByteArray forgedPayload = segment(R"({"sub":"u1","role":"service_role"})");
        QByteArray flipped = parts[2];
        flipped[0] = flipped[0] == 'A' ? 'B' : 'A';

        QTest::newRow("payload swapped") << parts[0] + '.' + forgedPayload + '.' + parts[2] << "PGRST301" << "";
        QTest::newRow("signature altered") << parts[0] + '.' + parts[1] + '.' + flipped << "PGRST301" << "";
        QTest::newRow("other secret") << signHs256(QJsonObject{{"sub", "u1"}}, "another-secret") << "PGRST301" << "";
        QTest::newRow("alg none, no signature")
            << segment(R"({"alg":"none","typ":"JWT"})") + '.' + parts[1] + '.' << "PGRST301" << "";
        QTest::newRow("alg none, copied signature")
            << segment(R"({"alg":"none","typ":"JWT"})") + '.' + parts[1] + '.' + parts[2] << "PGRST301" << "";
        QTest::newRow("alg HS512 header") << signRaw(R"({"alg":"HS512"})", R"({"sub":"u1"})", kSecret) << "PGRST301"
                                          << "";
        QTest::newRow("two parts") << parts[0] + '.' + parts[1] << "PGRST301" << "Expected 3 parts in JWT; got 2";
        QTest::newRow("four parts") << good + ".x" << "PGRST301" << "Expected 3 parts in JWT; got 4";
        QTest::newRow("empty") << QByteArray() << "PGRST301" << "";
        QTest::newRow("not base64") << QByteArray("a+b.c/d.e=f") << "PGRST301" << "";
        QTest::newRow("payload not an object") << signRaw(R"({"alg":"HS256"})", "[1,2]", kSecret) << "PGRST301" << "";
        QTest::newRow("exp is text") << signRaw(R"({"alg":"HS256"})", R"({"exp":"soon"})", kSecret) << "PGRST301"
                                     << "";
        QTest::newRow("expired beyond skew")
            << signHs256(QJsonObject{{"exp", kNow - 31}}, kSecret) << "PGRST303" << "JWT expired";
        QTest::newRow("not yet valid") << signHs256(QJsonObject{{"nbf", kNow + 31}}, kSecret) << "PGRST301" << "";
        QTest::newRow("issued in the future") << signHs256(QJsonObject{{"iat", kNow + 31}}, kSecret) << "PGRST301"
                                              << "";
    }

    void rejects()
    {
        QFETCH(QByteArray, token);
        QFETCH(QString, code);
        QFETCH(QString, message);
        const JwtCheck check = verifyHs256(token, kSecret, kNow);
        QVERIFY(!check.ok);
        QVERIFY(check.claims.isEmpty());
        QCOMPARE(check.code, code);
        QVERIFY(!check.message.isEmpty());
        if (!message.isEmpty())
            QCOMPARE(check.message, message);
    }

    void clockSkewTolerated_data()
    {
        QTest::addColumn<QJsonObject>("claims");
        QTest::newRow("expired 30 s ago") << QJsonObject{{"exp", kNow - 30}};
        QTest::newRow("valid from 30 s ahead") << QJsonObject{{"nbf", kNow + 30}};
        QTest::newRow("issued 30 s ahead") << QJsonObject{{"iat", kNow + 30}, {"exp", kNow + 3600}};
        QTest::newRow("no time claims") << QJsonObject{{"role", "anon"}};
    }

    void clockSkewTolerated()
    {
        QFETCH(QJsonObject, claims);
        const JwtCheck check = verifyHs256(signHs256(claims, kSecret), kSecret, kNow);
        QVERIFY2(check.ok, qPrintable(check.message));
    }

    void emptySecretVerifiesNothing()
    {
        QVERIFY(!verifyHs256(signHs256(QJsonObject{{"sub", "u1"}}, QByteArray()), QByteArray(), kNow).ok);
    }
};

QTEST_GUILESS_MAIN(JwtTest)
#include "JwtTest.moc"
