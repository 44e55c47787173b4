#include "Jwt.h"

#include <QJsonDocument>
#include <QMessageAuthenticationCode>
#include <QTest>

using namespace oxle::backend;

namespace {

const QByteArray kSecret = "test-secret-with-enough-length-0123456789";
constexpr qint64 kNow = 1'700'000'000;

// Signs exactly the given header and payload text, so they can say what signHs256 never would.
QByteArray signRaw(const QByteArray &header, const QByteArray &payload)
{
    const QByteArray input = base64UrlEncode(header) + '.' + base64UrlEncode(payload);
    return input + '.' + base64UrlEncode(QMessageAuthenticationCode::hash(input, kSecret, QCryptographicHash::Sha256));
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
        // No secret configured: nothing verifies.
        QVERIFY(!verifyHs256(signHs256(claims, QByteArray()), QByteArray(), kNow).ok);
    }

    // Tokens checked at kNow: accepted when `code` is empty, otherwise refused with that code.
    void verify_data()
    {
        QTest::addColumn<QByteArray>("token");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("message"); // checked when not empty

        const QByteArray good = signHs256(QJsonObject{{"sub", "u1"}, {"role", "authenticated"}}, kSecret);
        const QList<QByteArray> parts = good.split('.');
        const QByteArray forgedPayload = base64UrlEncode(R"({"sub":"u1","role":"service_role"})");
        QTest::newRow("payload swapped") << parts[0] + '.' + forgedPayload + '.' + parts[2] << "PGRST301" << "";
        QTest::newRow("alg none") << base64UrlEncode(R"({"alg":"none","typ":"JWT"})") + '.' + parts[1] + '.'
                                  << "PGRST301" << "";
        QTest::newRow("alg HS512 header") << signRaw(R"({"alg":"HS512"})", R"({"sub":"u1"})") << "PGRST301" << "";
        QTest::newRow("two parts") << parts[0] + '.' + parts[1] << "PGRST301" << "Expected 3 parts in JWT; got 2";
        QTest::newRow("not base64") << QByteArray("a+b.c/d.e=f") << "PGRST301" << "";
        QTest::newRow("payload not an object") << signRaw(R"({"alg":"HS256"})", "[1,2]") << "PGRST301" << "";
        QTest::newRow("exp is text") << signRaw(R"({"alg":"HS256"})", R"({"exp":"soon"})") << "PGRST301" << "";
        // 30 s of clock skew are tolerated, 31 s are not.
        QTest::newRow("expired 30 s ago") << signHs256(QJsonObject{{"exp", kNow - 30}}, kSecret) << "" << "";
        QTest::newRow("expired 31 s ago") << signHs256(QJsonObject{{"exp", kNow - 31}}, kSecret) << "PGRST303"
                                          << "JWT expired";
        QTest::newRow("valid from 30 s ahead") << signHs256(QJsonObject{{"nbf", kNow + 30}}, kSecret) << "" << "";
        QTest::newRow("valid from 31 s ahead") << signHs256(QJsonObject{{"nbf", kNow + 31}}, kSecret)
                                               << "PGRST301" << "";
        QTest::newRow("issued 30 s ahead") << signHs256(QJsonObject{{"iat", kNow + 30}, {"exp", kNow + 3600}}, kSecret)
                                           << "" << "";
        QTest::newRow("issued 31 s ahead") << signHs256(QJsonObject{{"iat", kNow + 31}}, kSecret) << "PGRST301"
                                           << "";
        QTest::newRow("no time claims") << signHs256(QJsonObject{{"role", "anon"}}, kSecret) << "" << "";

        // A user's token must expire; other roles' keys may go without exp.
        const QByteArray header = R"({"alg":"HS256","typ":"JWT"})";
        QTest::newRow("user token without exp") << signRaw(header, R"({"sub":"u1","role":"authenticated"})")
                                                << "PGRST301" << "";
        QTest::newRow("user token with exp null")
            << signRaw(header, R"({"sub":"u1","role":"authenticated","exp":null})") << "PGRST301" << "";
        QTest::newRow("user token with exp") << signRaw(header, R"({"sub":"u1","role":"authenticated","exp":1700000060})")
                                             << "" << "";
        QTest::newRow("service key without exp") << signRaw(header, R"({"role":"service_role"})") << "" << "";

        // Numbers that do not fit a time are refused as malformed, not converted.
        const QByteArray user = R"("sub":"u1","role":"authenticated")";
        QTest::newRow("exp 1e400") << signRaw(header, "{" + user + R"(,"exp":1e400})") << "PGRST301" << "";
        QTest::newRow("exp -1e400") << signRaw(header, "{" + user + R"(,"exp":-1e400})") << "PGRST301" << "";
        QTest::newRow("exp 1e300") << signRaw(header, "{" + user + R"(,"exp":1e300})") << "PGRST301" << "";
        QTest::newRow("exp 2^63") << signRaw(header, "{" + user + R"(,"exp":9223372036854775808})") << "PGRST301"
                                  << "";
        QTest::newRow("exp -2^63-1") << signRaw(header, "{" + user + R"(,"exp":-9223372036854775809})")
                                     << "PGRST301" << "";
        QTest::newRow("exp 2^53+2") << signRaw(header, "{" + user + R"(,"exp":9007199254740994})") << "PGRST301"
                                    << "";
        QTest::newRow("exp NaN text") << signRaw(header, "{" + user + R"(,"exp":"NaN"})") << "PGRST301" << "";
        QTest::newRow("exp NaN bare") << signRaw(header, "{" + user + R"(,"exp":NaN})") << "PGRST301" << "";
        QTest::newRow("nbf 1e300") << signRaw(header, "{" + user + R"(,"exp":1700000060,"nbf":1e300})")
                                   << "PGRST301" << "";
        QTest::newRow("nbf -1e300") << signRaw(header, "{" + user + R"(,"exp":1700000060,"nbf":-1e300})")
                                    << "PGRST301" << "";
        QTest::newRow("iat 2^64") << signRaw(header, "{" + user + R"(,"exp":1700000060,"iat":18446744073709551616})")
                                  << "PGRST301" << "";
        QTest::newRow("fractional exp") << signRaw(header, "{" + user + R"(,"exp":1699999970.5})") << "" << "";
    }

    // Keys and signatures are compared through one helper; an empty expected value never matches.
    void secretsEqual_data()
    {
        QTest::addColumn<QByteArray>("given");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<bool>("equal");
        QTest::newRow("same") << QByteArray("eyJ.key.sig") << QByteArray("eyJ.key.sig") << true;
        QTest::newRow("first byte differs") << QByteArray("fyJ.key.sig") << QByteArray("eyJ.key.sig") << false;
        QTest::newRow("last byte differs") << QByteArray("eyJ.key.sih") << QByteArray("eyJ.key.sig") << false;
        QTest::newRow("prefix") << QByteArray("eyJ.key") << QByteArray("eyJ.key.sig") << false;
        QTest::newRow("longer") << QByteArray("eyJ.key.sig.") << QByteArray("eyJ.key.sig") << false;
        QTest::newRow("embedded zero") << QByteArray("a\0b", 3) << QByteArray("a\0c", 3) << false;
        QTest::newRow("empty given") << QByteArray() << QByteArray("eyJ.key.sig") << false;
        QTest::newRow("both empty") << QByteArray() << QByteArray() << false;
    }

    void secretsEqual()
    {
        QFETCH(QByteArray, given);
        QFETCH(QByteArray, expected);
        QFETCH(bool, equal);
        QCOMPARE(oxle::backend::secretsEqual(given, expected), equal);
    }

    void verify()
    {
        QFETCH(QByteArray, token);
        QFETCH(QString, code);
        QFETCH(QString, message);
        const JwtCheck check = verifyHs256(token, kSecret, kNow);
        QVERIFY2(check.ok == code.isEmpty(), qPrintable(check.message));
        if (check.ok)
            return;
        QVERIFY(check.claims.isEmpty());
        QCOMPARE(check.code, code);
        QVERIFY(!check.message.isEmpty());
        if (!message.isEmpty())
            QCOMPARE(check.message, message);
    }
};

QTEST_GUILESS_MAIN(JwtTest)
#include "JwtTest.moc"
