#include "BackendEnv.h"
#include "LoopbackSite.h"

#include <QElapsedTimer>
#include <QTest>
#include <QThread>
#include <QUuid>

// The running server's enrichment worker against pages served on loopback.
class BackendEnrichmentTest : public QObject
{
    Q_OBJECT

    BackendEnv m_env = BackendEnv::fromEnvironment();

private slots:
    void init() { OXLE_REQUIRE_BACKEND_ENV(m_env); }

    void fillsPendingRows()
    {
        LoopbackSite site;
        PgConnPtr conn(PQconnectdb(m_env.db.toUtf8().constData()), &PQfinish);
        QCOMPARE(PQstatus(conn.get()), CONNECTION_OK);
        const QString user = QUuid::createUuid().toString(QUuid::WithoutBraces);
        const QString run = QUuid::createUuid().toString(QUuid::Id128).left(8);

        struct Row {
            QString id, url, title, expectStatus, expectTitle, expectThumb;
        };
        const QList<Row> rows = {
            {run + "t", site.url("/titled"), "", "enriched", QString::fromUtf8("Plain & Simple \u2014 Site"),
             site.url("/img/cover.png?s=1&t=2")},
            {run + "k", site.url("/og"), "Kept by the user", "enriched", "Kept by the user", "https://cdn.example/x.jpg"},
            {run + "r", site.url("/hop/2"), "", "enriched", QString::fromUtf8("Plain & Simple \u2014 Site"),
             site.url("/img/cover.png?s=1&t=2")},
            {run + "j", site.url("/json"), "", "failed", "", ""},
            {run + "h", site.url("/hop/4"), "", "failed", "", ""},
            {run + "f", "ftp://127.0.0.1/file", "", "failed", "", ""},
            {run + "n", site.url("/notitle"), "", "enriched", "", ""},
        };
        for (const Row &r : rows) {
            const QByteArray id = r.id.toUtf8(), url = r.url.toUtf8(), title = r.title.toUtf8(), uid = user.toUtf8();
            const char *params[] = {id.constData(), uid.constData(), url.constData(),
                                    r.title.isEmpty() ? nullptr : title.constData()};
            PgResultPtr res(PQexecParams(conn.get(),
                                         "insert into items (id, user_id, url, title, enrichment_status, updated_at) "
                                         "values ($1, $2, $3, $4, 'pending', 0)",
                                         4, nullptr, params, nullptr, nullptr, 0),
                            &PQclear);
            QCOMPARE(PQresultStatus(res.get()), PGRES_COMMAND_OK);
        }

        const QByteArray uid = user.toUtf8();
        const char *userParam[] = {uid.constData()};
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            PgResultPtr res(PQexecParams(conn.get(),
                                         "select count(*) from items where user_id = $1 and enrichment_status = 'pending'",
                                         1, nullptr, userParam, nullptr, nullptr, 0),
                            &PQclear);
            if (QByteArray(PQgetvalue(res.get(), 0, 0)) == "0")
                break;
            QVERIFY2(timer.elapsed() < 30000, "the enrichment worker did not finish within 30 s");
            QThread::msleep(100);
        }

        for (const Row &r : rows) {
            const QByteArray id = r.id.toUtf8();
            const char *params[] = {id.constData()};
            PgResultPtr res(PQexecParams(conn.get(),
                                         "select enrichment_status, coalesce(title, ''), coalesce(thumbnail_url, ''), "
                                         "updated_at > 0 from items where id = $1",
                                         1, nullptr, params, nullptr, nullptr, 0),
                            &PQclear);
            QCOMPARE(PQntuples(res.get()), 1);
            const QString context = "row " + r.id.mid(run.size());
            QVERIFY2(QString::fromUtf8(PQgetvalue(res.get(), 0, 0)) == r.expectStatus, qPrintable(context));
            QVERIFY2(QString::fromUtf8(PQgetvalue(res.get(), 0, 1)) == r.expectTitle,
                     qPrintable(context + ": " + QString::fromUtf8(PQgetvalue(res.get(), 0, 1))));
            QVERIFY2(QString::fromUtf8(PQgetvalue(res.get(), 0, 2)) == r.expectThumb, qPrintable(context));
            QCOMPARE(QByteArray(PQgetvalue(res.get(), 0, 3)), QByteArray("t"));
        }
    }
};

QTEST_GUILESS_MAIN(BackendEnrichmentTest)
#include "BackendEnrichmentTest.moc"
