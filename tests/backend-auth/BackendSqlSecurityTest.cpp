#include "BackendEnv.h"

#include <QRegularExpression>
#include <QTest>
#include <QUuid>

// Row security, the shared-items view and the invitation functions, exercised as the API roles would be.
class BackendSqlSecurityTest : public QObject
{
    Q_OBJECT

    BackendEnv m_env = BackendEnv::fromEnvironment();
    PgConnPtr m_conn{nullptr, &PQfinish};
    QString m_run; // per-run prefix so repeated runs do not collide

    SqlOutcome exec(const char *sql, const QStringList &params = {}) { return execSql(m_conn.get(), sql, params); }

    // One statement in its own transaction as the authenticated role with `uid` in the claims (none when empty).
    SqlOutcome as(const QString &uid, const char *sql, const QStringList &params = {})
    {
        exec("begin");
        exec("select set_config('role', 'authenticated', true)");
        if (!uid.isEmpty())
            exec("select set_config('request.jwt.claims', $1, true)",
                 {QStringLiteral(R"({"sub":"%1","role":"authenticated"})").arg(uid)});
        const SqlOutcome o = exec(sql, params);
        exec(o.ok ? "commit" : "rollback");
        return o;
    }

    static QString newUser() { return QUuid::createUuid().toString(QUuid::WithoutBraces); }
    QString id(const char *name) const { return m_run + name; }

    void createList(const QString &uid, const QString &listId)
    {
        const SqlOutcome o = as(uid, "insert into categories (id, user_id, name) values ($1, $2, 'L')", {listId, uid});
        QVERIFY2(o.ok, qPrintable(o.message));
    }
    void createItem(const QString &uid, const QString &itemId, const QString &listId)
    {
        const SqlOutcome o = as(uid, "insert into items (id, user_id, url, category_id) values ($1, $2, 'https://a.example/', $3)",
                                {itemId, uid, listId});
        QVERIFY2(o.ok, qPrintable(o.message));
    }

private slots:
    void init()
    {
        OXLE_REQUIRE_BACKEND_ENV(m_env);
        if (!m_conn) {
            m_conn = m_env.connect();
            QCOMPARE(PQstatus(m_conn.get()), CONNECTION_OK);
            m_run = QUuid::createUuid().toString(QUuid::Id128).left(10) + "_";
        }
    }

    void usersAreIsolated()
    {
        const QString a = newUser(), b = newUser();
        createList(a, id("la"));
        createItem(a, id("ia"), id("la"));
        QVERIFY(as(a, "insert into item_states (shared_item_id, user_id) values ('x', $1)", {a}).ok);

        QCOMPARE(as(b, "select count(*) from items where id = $1", {id("ia")}).value(), QStringLiteral("0"));
        QCOMPARE(as(b, "select count(*) from categories where id = $1", {id("la")}).value(), QStringLiteral("0"));
        QCOMPARE(as(b, "select count(*) from item_states where user_id = $1", {a}).value(), QStringLiteral("0"));
        QCOMPARE(as(b, "update items set title = 'x' where id = $1", {id("ia")}).affected, 0);
        QCOMPARE(as(b, "delete from categories where id = $1", {id("la")}).affected, 0);
        QCOMPARE(as(b, "update item_states set status = 'done' where user_id = $1", {a}).affected, 0);

        QCOMPARE(as(b, "insert into items (id, user_id, url) values ($1, $2, '')", {id("forged"), a}).sqlstate,
                 QStringLiteral("42501"));
        QCOMPARE(as(b, "insert into item_states (shared_item_id, user_id) values ('y', $1)", {a}).sqlstate,
                 QStringLiteral("42501"));
        // Upsert onto someone else's id must fail, not take the row over.
        const SqlOutcome o = as(b, "insert into items (id, user_id, url) values ($1, $2, 'x') on conflict (id) do update set "
                                   "user_id = excluded.user_id, url = excluded.url",
                                {id("ia"), b});
        QCOMPARE(o.sqlstate, QStringLiteral("42501"));
        QCOMPARE(as(a, "select url from items where id = $1", {id("ia")}).value(), QStringLiteral("https://a.example/"));
        // Giving a row away is refused too.
        QCOMPARE(as(a, "update items set user_id = $2 where id = $1", {id("ia"), b}).sqlstate, QStringLiteral("42501"));
    }

    void defaultListIdIsReserved()
    {
        const QString a = newUser(), b = newUser();
        QCOMPARE(as(b, "insert into categories (id, user_id, name) values ($1, $2, 'Mine')", {"sb_" + a, b}).sqlstate,
                 QStringLiteral("23514"));
        const char *upsert = "insert into categories (id, user_id, name, is_system) values ($1, $2, 'Vudevu Zoziv', true) "
                             "on conflict (id) do update set user_id = excluded.user_id, name = excluded.name "
                             "returning id";
        QVERIFY(as(a, upsert, {"sb_" + a, a}).ok);
        QCOMPARE(as(a, upsert, {"sb_" + a, a}).value(), "sb_" + a); // converges on one row
        QVERIFY(!as(b, upsert, {"sb_" + a, b}).ok);
        QCOMPARE(as(a, "select count(*) from categories where id = $1 and user_id = $2", {"sb_" + a, a}).value(),
                 QStringLiteral("1"));
    }

    void sharedListLifecycle()
    {
        const QString owner = newUser(), member = newUser(), outsider = newUser();
        createList(owner, id("shared"));
        createList(owner, id("private"));
        createItem(owner, id("s1"), id("shared"));
        createItem(owner, id("p1"), id("private"));

        // Only the owner invites.
        QCOMPARE(as(member, "select create_category_invite($1)", {id("shared")}).sqlstate, QStringLiteral("42501"));
        const QString code = as(owner, "select create_category_invite($1)", {id("shared")}).value();
        QVERIFY2(QRegularExpression("^[A-Z2-9]{8}$").match(code).hasMatch(), qPrintable(code));

        // Codes are accepted in any case; the member then sees the list and the owner's items in it.
        QCOMPARE(as(member, "select redeem_category_invite($1)", {code.toLower()}).value(), id("shared"));
        QCOMPARE(as(member, "select count(*) from categories where id in ($1, $2)", {id("shared"), id("private")}).value(),
                 QStringLiteral("1"));
        // A member's own item saved into the shared list stays private to them.
        createItem(member, id("m1"), id("shared"));
        QCOMPARE(as(member, "select string_agg(id, ',') from shared_items").value(), id("s1"));
        QCOMPARE(as(owner, "select count(*) from shared_items").value(), QStringLiteral("0"));
        QCOMPARE(as(outsider, "select count(*) from shared_items").value(), QStringLiteral("0"));
        QCOMPARE(as(outsider, "select count(*) from categories where id = $1", {id("shared")}).value(), QStringLiteral("0"));
        // Members cannot write the owner's list or items, and their states stay their own.
        QCOMPARE(as(member, "update categories set name = 'x' where id = $1", {id("shared")}).affected, 0);
        QCOMPARE(as(member, "update items set title = 'x' where id = $1", {id("s1")}).affected, 0);
        QVERIFY(as(member, "insert into item_states (shared_item_id, user_id, status) values ($1, $2, 'done')",
                   {id("s1"), member}).ok);
        QCOMPARE(as(owner, "select count(*) from item_states where shared_item_id = $1", {id("s1")}).value(),
                 QStringLiteral("0"));

        QVERIFY(as(member, "select leave_category($1)", {id("shared")}).ok);
        QCOMPARE(as(member, "select count(*) from shared_items").value(), QStringLiteral("0"));
        QCOMPARE(as(member, "select count(*) from categories where id = $1", {id("shared")}).value(), QStringLiteral("0"));
        QCOMPARE(as(member, "select status from item_states where shared_item_id = $1", {id("s1")}).value(),
                 QStringLiteral("done"));
    }

    void badCodes()
    {
        const QString owner = newUser(), member = newUser();
        createList(owner, id("expiring"));
        const QString code = as(owner, "select create_category_invite($1)", {id("expiring")}).value();

        SqlOutcome o = as(member, "select redeem_category_invite('NOSUCHCODE')");
        QCOMPARE(o.sqlstate, QStringLiteral("P0001"));
        QCOMPARE(o.message, QStringLiteral("This invitation code is not valid."));

        QVERIFY(exec("update invites set expires_at = 1 where code = $1", {code}).ok);
        o = as(member, "select redeem_category_invite($1)", {code});
        QCOMPARE(o.sqlstate, QStringLiteral("P0001"));
        QCOMPARE(o.message, QStringLiteral("This invitation has expired."));
        QCOMPARE(as(member, "select count(*) from category_members").value(), QStringLiteral("0"));

        // Without a signed-in user nothing is redeemed.
        QCOMPARE(as({}, "select redeem_category_invite('X')").sqlstate, QStringLiteral("42501"));
    }

    void membershipsOnlyThroughFunctions()
    {
        const QString owner = newUser(), intruder = newUser();
        createList(owner, id("closed"));
        QCOMPARE(as(intruder, "insert into category_members (category_id, user_id) values ($1, $2)",
                    {id("closed"), intruder}).sqlstate,
                 QStringLiteral("42501"));
        QCOMPARE(as(intruder, "select count(*) from invites").value(), QStringLiteral("0"));
    }
};

QTEST_GUILESS_MAIN(BackendSqlSecurityTest)
#include "BackendSqlSecurityTest.moc"
