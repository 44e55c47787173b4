#include "BackendEnv.h"
#include "LoopbackSite.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTest>
#include <QThread>
#include <QUuid>

// The running server's enrichment worker against pages served on loopback, so the server must run with
// --enrichment-allow-loopback (scripts/test starts it so); the fetch and extraction rules in detail are
// EnrichmentPageTest's.
class BackendEnrichmentTest : public QObject
{
    Q_OBJECT

    BackendEnv m_env = BackendEnv::fromEnvironment();

    // Waits until none of `user`'s rows is pending.
    static bool waitForUser(PGconn *conn, const QString &user, int timeoutMs)
    {
        QElapsedTimer timer;
        timer.start();
        while (execSql(conn, "select count(*) from items where user_id = $1 and enrichment_status = 'pending'",
                       {user}).value() != u"0") {
            if (timer.elapsed() > timeoutMs)
                return false;
            QThread::msleep(50);
        }
        return true;
    }

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
            QVERIFY2(timer.elapsed() < 30000, "the enrichment worker did not finish within 30 s "
                                              "(does the server run with --enrichment-allow-loopback?)");
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

    // A result the database refuses to store does not send the worker back to the same page at once.
    void backsOffAfterFailedWriteBack()
    {
        LoopbackSite site;
        const PgConnPtr conn = m_env.connect();
        QCOMPARE(PQstatus(conn.get()), CONNECTION_OK);
        const QString id = "refused-write-" + QUuid::createUuid().toString(QUuid::Id128).left(12);
        QVERIFY(execSql(conn.get(), "create or replace function public.test_refuse_enrichment_write() returns trigger "
                                    "language plpgsql as $$ begin raise exception 'write refused for the test'; end $$")
                    .ok);
        const QString trigger = QStringLiteral("create trigger test_refuse_%1 before update on public.items for each "
                                               "row when (new.id = '%2') execute function "
                                               "public.test_refuse_enrichment_write()")
                                    .arg(id.mid(14), id);
        QVERIFY(execSql(conn.get(), trigger.toUtf8().constData()).ok);
        const auto cleanUp = qScopeGuard([&] {
            execSql(conn.get(), QStringLiteral("drop trigger if exists test_refuse_%1 on public.items")
                                    .arg(id.mid(14)).toUtf8().constData());
            execSql(conn.get(), "delete from items where id = $1", {id});
            execSql(conn.get(), "drop function if exists public.test_refuse_enrichment_write()");
        });

        QVERIFY(execSql(conn.get(),
                        "insert into items (id, user_id, url, enrichment_status) values ($1, $2, $3, 'pending')",
                        {id, QUuid::createUuid().toString(QUuid::WithoutBraces), site.url("/titled")})
                    .ok);
        QTRY_VERIFY_WITH_TIMEOUT(site.hits() >= 1, 15000);
        // Passes run every second; several of them go by without another request for the page.
        QThread::msleep(4000);
        QCOMPARE(site.hits(), 1);
        QCOMPARE(execSql(conn.get(), "select enrichment_status from items where id = $1", {id}).value(),
                 QStringLiteral("pending"));
    }

    // One user's pile of slow pages, saved first, does not keep another user's page waiting behind all of it.
    void usersTakeTurns()
    {
        LoopbackSite site;
        const PgConnPtr conn = m_env.connect();
        QCOMPARE(PQstatus(conn.get()), CONNECTION_OK);
        const QString busy = QUuid::createUuid().toString(QUuid::WithoutBraces);
        const QString other = QUuid::createUuid().toString(QUuid::WithoutBraces);
        const QString run = QUuid::createUuid().toString(QUuid::Id128).left(8);
        // One statement, so the worker sees all rows in the same pass; the busy user's rows are the oldest.
        const SqlOutcome inserted = execSql(
            conn.get(),
            "insert into items (id, user_id, url, enrichment_status, created_at) "
            "select $1 || '-busy-' || n, $2, $3, 'pending', n from generate_series(1, 5) as n "
            "union all select $1 || '-other', $4, $5, 'pending', 100",
            {run, busy, site.url("/slow"), other, site.url("/titled")});
        QVERIFY2(inserted.ok, qPrintable(inserted.message));
        const auto cleanUp = qScopeGuard([&] { execSql(conn.get(), "delete from items where id like $1", {run + "-%"}); });

        QVERIFY2(waitForUser(conn.get(), other, 20000), "the other user's page was not fetched");
        const int busyLeft =
            execSql(conn.get(), "select count(*) from items where user_id = $1 and enrichment_status = 'pending'",
                    {busy})
                .value()
                .toInt();
        QVERIFY2(busyLeft >= 3, qPrintable(QStringLiteral("only %1 of 5 slow pages were still waiting").arg(busyLeft)));
        QCOMPARE(execSql(conn.get(), "select enrichment_status, title from items where id = $1", {run + "-other"}).rows,
                 (QList<QStringList>{{"enriched", QString::fromUtf8("Plain & Simple \u2014 Site")}}));
        QVERIFY(waitForUser(conn.get(), busy, 30000));
    }
};

QTEST_GUILESS_MAIN(BackendEnrichmentTest)
#include "BackendEnrichmentTest.moc"
