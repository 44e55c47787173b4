#include "BackendEnv.h"
#include "LoopbackSite.h"

#include <QElapsedTimer>
#include <QTest>
#include <QThread>
#include <QUuid>

// The running server's enrichment worker against pages served on loopback; the fetch and extraction rules in
// detail are EnrichmentPageTest's.
class BackendEnrichmentTest : public QObject
{
    Q_OBJECT

    BackendEnv m_env = BackendEnv::fromEnvironment();

private slots:
    void init() { OXLE_REQUIRE_BACKEND_ENV(m_env); }

    void fillsPendingRows()
    {
        LoopbackSite site;
        const PgConnPtr conn = m_env.connect();
        QCOMPARE(PQstatus(conn.get()), CONNECTION_OK);
        const QString user = QUuid::createUuid().toString(QUuid::WithoutBraces);
        const QString run = QUuid::createUuid().toString(QUuid::Id128).left(8);
        const QString titled = QString::fromUtf8("Plain & Simple \u2014 Site");

        // id suffix, url, title before, then the expected status, title and thumbnail.
        const QList<QStringList> rows = {
            {"t", site.url("/titled"), "", "enriched", titled, site.url("/img/cover.png?s=1&t=2")},
            {"k", site.url("/og"), "Kept by the user", "enriched", "Kept by the user", "https://cdn.example/x.jpg"},
            {"r", site.url("/hop/2"), "", "enriched", titled, site.url("/img/cover.png?s=1&t=2")},
            {"j", site.url("/json"), "", "failed", "", ""},
            {"f", "ftp://127.0.0.1/file", "", "failed", "", ""},
            {"n", site.url("/notitle"), "", "enriched", "", ""},
        };
        for (const QStringList &r : rows) {
            const SqlOutcome o = execSql(conn.get(),
                                         "insert into items (id, user_id, url, title, enrichment_status, updated_at) "
                                         "values ($1, $2, $3, $4, 'pending', 0)",
                                         {run + r[0], user, r[1], r[2]});
            QVERIFY2(o.ok, qPrintable(o.message));
        }

        QElapsedTimer timer;
        timer.start();
        while (execSql(conn.get(), "select count(*) from items where user_id = $1 and enrichment_status = 'pending'",
                       {user}).value() != u"0") {
            QVERIFY2(timer.elapsed() < 30000, "the enrichment worker did not finish within 30 s");
            QThread::msleep(100);
        }

        for (const QStringList &r : rows) {
            const SqlOutcome o = execSql(conn.get(),
                                         "select enrichment_status, coalesce(title, ''), coalesce(thumbnail_url, ''), "
                                         "(updated_at > 0)::text from items where id = $1",
                                         {run + r[0]});
            QCOMPARE(o.rows.size(), 1);
            QCOMPARE(o.rows[0], (QStringList{r[3], r[4], r[5], "true"}));
        }
    }
};

QTEST_GUILESS_MAIN(BackendEnrichmentTest)
#include "BackendEnrichmentTest.moc"
