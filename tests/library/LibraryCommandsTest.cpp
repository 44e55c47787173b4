// The read-only command line: output formats, escaping and exit codes.

#include "StoreFixture.h"

#include "library/LibraryCommands.h"
#include "support/CoroTest.h"

#include <QTest>

using namespace oxle;
using namespace oxle::test;

class LibraryCommandsTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<StoreFixture> f;
    QString out;
    QString err;

    int command(const QStringList &args)
    {
        out.clear();
        err.clear();
        QTextStream outStream(&out);
        QTextStream errStream(&err);
        return run(runLibraryCommand(args, f->data.get(), &outStream, &errStream));
    }

private Q_SLOTS:
    void init()
    {
        f = std::make_unique<StoreFixture>();
        f->server->setHandler([](const RecordedRequest &r) {
            const QString table = pathOf(r).section('/', 3);
            if (table == "categories" && r.queryValue("user_id"))
                return CannedResponse::json(200, jsonBytes({categoryJson("A", 0, "Read\tlater"), categoryJson("B", 1)}));
            if (table == "category_members")
                return CannedResponse::json(200, "[{\"category_id\":\"C\"}]");
            if (table == "categories")
                return CannedResponse::json(200, jsonBytes({categoryJson("C", 0, "Family")}));
            if (r.queryValue("select") == QStringLiteral("category_id"))
                return CannedResponse::json(200, "[{\"category_id\":\"A\"},{\"category_id\":\"A\"},{\"category_id\":null}]");
            if (r.queryValue("category_id") == QStringLiteral("eq.B")) // a known list whose read fails
                return CannedResponse::json(500, "{\"message\":\"down\"}");
            QJsonObject item = itemJson("i1", "A", "done", "note", 1700000000000);
            item["note"] = "line one\nline\ttwo \\ end";
            item["reminder_override_at"] = qint64(1700000060000);
            return CannedResponse::json(200, jsonBytes({item}));
        });
        f->signIn();
    }
    void cleanup() { f.reset(); }

    void listsAsTabSeparatedRowsOrJson()
    {
        QCOMPARE(command({"lists"}), 0);
        QCOMPARE(out, QStringLiteral("A\tRead\\tlater\town\t2\nB\tList B\town\t0\nC\tFamily\tshared\t0\n"));
        QVERIFY(err.isEmpty());

        QCOMPARE(command({"--json", "lists"}), 0);
        const QJsonArray lists = QJsonDocument::fromJson(out.toUtf8()).array();
        QCOMPARE(lists.size(), 3);
        QCOMPARE(lists[0]["name"].toString(), QStringLiteral("Read\tlater"));
        QCOMPARE(lists[0]["count"].toInt(), 2);
        QCOMPARE(lists[2]["shared"].toBool(), true);
    }

    void itemsEscapeTabsAndLineBreaks()
    {
        for (const char *which : {"inbox", "notes", "A"}) {
            QCOMPARE(command({"items", which}), 0);
            QCOMPARE(out, QStringLiteral("i1\tdone\tnote\t2023-11-14T22:13:20.000Z\t2023-11-14T22:14:20.000Z\t"
                                         "Title i1\thttps://example.com/i1\tline one\\nline\\ttwo \\\\ end\n"));
        }
        QCOMPARE(command({"items", "notes", "--json"}), 0);
        const QJsonObject item = QJsonDocument::fromJson(out.toUtf8()).array().at(0).toObject();
        QCOMPARE(item["note"].toString(), QStringLiteral("line one\nline\ttwo \\ end"));
        QCOMPARE(item["thumbnailUrl"], QJsonValue(QJsonValue::Null));
    }

    void searchJoinsItsWords()
    {
        QCOMPARE(command({"search", "--", "-dash", "words"}), 0);
        QCOMPARE(f->requests().constLast().queryValue("or")->left(27), QStringLiteral("(title.ilike.*-dash words*,"));
        QVERIFY(out.startsWith("i1\t"));
    }

    void errorsGoToStderrWithAnExitCode_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown command") << QStringList{"frob"} << 1 << "Unknown command frob.";
        QTest::newRow("unknown option") << QStringList{"lists", "--xml"} << 1 << "Unknown option --xml.";
        QTest::newRow("items without list") << QStringList{"items"} << 1 << "items takes one list id";
        QTest::newRow("search without words") << QStringList{"search"} << 1 << "search needs";
        QTest::newRow("unknown list") << QStringList{"items", "Z"} << 2 << "No list with the id Z.";
        QTest::newRow("failed read") << QStringList{"items", "B"} << 2 << "{\"message\":\"down\"}";
    }
    void errorsGoToStderrWithAnExitCode()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, message);
        QCOMPARE(command(args), code);
        QVERIFY2(err.startsWith(message), qPrintable(err));
        QVERIFY(out.isEmpty());
    }

    void signedOutAsksToSignIn()
    {
        f->account.signOut();
        QCOMPARE(command({"lists"}), 2);
        QCOMPARE(err, QStringLiteral("Sign in to oxle first.\n"));
        QCOMPARE(f->requests().size(), 0);
    }
};

QTEST_GUILESS_MAIN(LibraryCommandsTest)
#include "LibraryCommandsTest.moc"
