// The desktop's search over saved items as KRunner and GNOME Shell meet it: the two providers on the session
// bus, called with gdbus over an index file that the indexer's own class wrote.

#include "platform/linux/DesktopSearchProviders.h"
#include "platform/linux/Fts5SearchIndex.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <sqlite3.h>

#include <algorithm>

using namespace oxle;

namespace {

// A string in GVariant text form, as gdbus reads its arguments.
QString gvariant(const QString &text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('\''), QLatin1String("\\'"));
    return QLatin1Char('\'') + escaped + QLatin1Char('\'');
}

QString gvariant(const QStringList &list)
{
    QStringList items;
    for (const QString &text : list)
        items << gvariant(text);
    return QStringLiteral("@as [") + items.join(QStringLiteral(", ")) + QLatin1Char(']');
}

SearchRecord record(const QString &id, const QString &title, std::optional<QString> description = std::nullopt,
                    std::optional<QString> url = std::nullopt)
{
    return SearchRecord{id, QStringLiteral("oxle.items"), title, std::move(description), std::move(url)};
}

// The identifiers in a printed `as`, or the first field of each struct of a printed `a(sssida{sv})`.
QStringList printedIds(const QString &printed)
{
    static const QRegularExpression strings(QStringLiteral("'([^']*)'"));
    static const QRegularExpression structs(QStringLiteral("[\\[,]\\s*\\('([^']*)'"));
    const QRegularExpression &pattern = printed.contains(QLatin1String("[(")) ? structs : strings;
    QStringList ids;
    for (const QRegularExpressionMatch &match : pattern.globalMatch(printed))
        ids << match.captured(1);
    return ids;
}

struct Activation
{
    QString identifier;
    quint32 timestamp = 0;
};

} // namespace

class DesktopSearchTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_indexPath;
    std::unique_ptr<DesktopSearchProviders> m_providers;
    QList<Activation> m_activated;
    QList<Activation> m_searched;

    // gdbus call on the providers; the event loop keeps running so that this process can answer.
    static QString call(const QString &path, const QString &method, const QStringList &arguments,
                        bool *ok = nullptr)
    {
        QProcess gdbus;
        gdbus.start(QStringLiteral("gdbus"),
                    QStringList{QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"),
                                DesktopSearchProviders::serviceName, QStringLiteral("--object-path"), path,
                                QStringLiteral("--method"), method}
                        + arguments);
        const bool finished = gdbus.waitForStarted(5000)
            && QTest::qWaitFor([&] { return gdbus.state() == QProcess::NotRunning; }, 10000);
        const bool succeeded = finished && gdbus.exitStatus() == QProcess::NormalExit && gdbus.exitCode() == 0;
        if (ok)
            *ok = succeeded;
        if (!succeeded)
            qWarning() << method << arguments << gdbus.readAllStandardError();
        return QString::fromUtf8(gdbus.readAllStandardOutput()).trimmed();
    }

    static QString shell(const QString &method, const QStringList &arguments, bool *ok = nullptr)
    {
        return call(DesktopSearchProviders::shellSearchPath, QStringLiteral("org.gnome.Shell.SearchProvider2.") + method,
                    arguments, ok);
    }

    static QString krunner(const QString &method, const QStringList &arguments, bool *ok = nullptr)
    {
        return call(DesktopSearchProviders::krunnerPath, QStringLiteral("org.kde.krunner1.") + method, arguments, ok);
    }

    static QStringList shellSearch(const QStringList &terms)
    {
        bool ok = false;
        const QString printed = shell(QStringLiteral("GetInitialResultSet"), {gvariant(terms)}, &ok);
        return ok ? printedIds(printed) : QStringList{QStringLiteral("<call failed>")};
    }

    static QStringList krunnerSearch(const QString &query)
    {
        bool ok = false;
        const QString printed = krunner(QStringLiteral("Match"), {gvariant(query)}, &ok);
        return ok ? printedIds(printed) : QStringList{QStringLiteral("<call failed>")};
    }

    DesktopSearchActions actions()
    {
        return DesktopSearchActions{
            [this](const QString &id, quint32 timestamp) { m_activated.append({id, timestamp}); },
            [this](const QString &query, quint32 timestamp) { m_searched.append({query, timestamp}); },
        };
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!QDBusConnection::sessionBus().isConnected()) {
            if (qEnvironmentVariableIntValue("OXLE_REQUIRE_SERVICES"))
                QFAIL("needs the session bus of scripts/lib/session-services");
            QSKIP("no session bus");
        }
        QVERIFY(m_dir.isValid());
        m_indexPath = m_dir.filePath(QStringLiteral("oxle/search-index.sqlite"));

        QList<SearchRecord> records{
            record("a", "Rust async patterns", QStringLiteral("example.com"),
                   QStringLiteral("https://example.com/rust-async")),
            record("b", "Cooking pasta", QStringLiteral("food.example"), QStringLiteral("https://food.example/p/1")),
            record("c", "Notes on Rust"), // a note: no address, no domain
            record("d", "Weekly digest", QStringLiteral("rustacean.blog"),
                   QStringLiteral("https://rustacean.blog/issue-42")),
            record("e", "Query syntax \"NEAR\" AND more: a-b", QStringLiteral("syntax.example"),
                   QStringLiteral("https://syntax.example/")),
            record("g1", "Gardening", QStringLiteral("tomato.example"), QStringLiteral("https://tomato.example/")),
            record("g2", "Tomato growing", QStringLiteral("garden.example"), QStringLiteral("https://garden.example/")),
            record("f", "Café culture", QStringLiteral("paris.example"), QStringLiteral("https://paris.example/")),
        };
        for (int i = 0; i < 25; ++i)
            records.append(record(QStringLiteral("bulk%1").arg(i, 2, 10, QLatin1Char('0')),
                                  QStringLiteral("Bulk reading %1").arg(i)));
        Fts5SearchIndex writer(m_indexPath);
        QVERIFY(writer.replace(records));

        m_providers = std::make_unique<DesktopSearchProviders>(actions(), m_indexPath);
        QVERIFY(m_providers->start());
        QVERIFY(QDBusConnection::sessionBus().interface()->isServiceRegistered(DesktopSearchProviders::serviceName));
    }

    void cleanupTestCase() { m_providers.reset(); }

    void init()
    {
        m_activated.clear();
        m_searched.clear();
    }

    // Both providers find the same items: every word a prefix of a word of the title, description or address;
    // user text is never read as query syntax.
    void search_data()
    {
        QTest::addColumn<QStringList>("terms");
        QTest::addColumn<QStringList>("expected"); // as a set

        QTest::newRow("prefix of a title word") << QStringList{"pas"} << QStringList{"b"};
        QTest::newRow("every word must match") << QStringList{"rust", "async"} << QStringList{"a"};
        QTest::newRow("words in title and description") << QStringList{"cook", "food"} << QStringList{"b"};
        QTest::newRow("word of the address") << QStringList{"issue"} << QStringList{"d"};
        QTest::newRow("title, description and address") << QStringList{"rust"} << QStringList{"a", "c", "d"};
        QTest::newRow("letter case") << QStringList{"RUST", "ASYNC"} << QStringList{"a"};
        QTest::newRow("accents as typed or not") << QStringList{"cafe"} << QStringList{"f"};
        QTest::newRow("accented query") << QStringList{"café"} << QStringList{"f"};
        QTest::newRow("inside a word is no prefix") << QStringList{"sync"} << QStringList{};
        QTest::newRow("nothing matches") << QStringList{"zzz"} << QStringList{};
        QTest::newRow("no terms") << QStringList{} << QStringList{};
        QTest::newRow("empty term") << QStringList{""} << QStringList{};
        QTest::newRow("one letter") << QStringList{"r"} << QStringList{};
        QTest::newRow("one accented letter, decomposed") << QStringList{"e\u0301"} << QStringList{};
        QTest::newRow("one emoji") << QStringList{"\U0001F980"} << QStringList{};
        QTest::newRow("a quote") << QStringList{"\""} << QStringList{};
        QTest::newRow("quote before a word") << QStringList{"\"rust"} << QStringList{"a", "c", "d"};
        QTest::newRow("unbalanced quotes") << QStringList{"ru\"st", "\"\""} << QStringList{};
        QTest::newRow("star") << QStringList{"*"} << QStringList{};
        QTest::newRow("AND is a word") << QStringList{"AND"} << QStringList{"e"};
        QTest::newRow("OR is a word") << QStringList{"rust", "OR", "pasta"} << QStringList{};
        QTest::newRow("NEAR( is a word") << QStringList{"NEAR("} << QStringList{"e"};
        QTest::newRow("minus") << QStringList{"-"} << QStringList{};
        QTest::newRow("column filter is text") << QStringList{"title:rust"} << QStringList{};
        QTest::newRow("hyphenated word") << QStringList{"a-b"} << QStringList{"e"};
        QTest::newRow("brackets and caret") << QStringList{"(", ")", "^", "{title}"} << QStringList{};
        QTest::newRow("control character")
            << QStringList{QStringLiteral("rust") + QChar(0x01) + QStringLiteral("async")} << QStringList{"a"};
    }

    void search()
    {
        QFETCH(QStringList, terms);
        QFETCH(QStringList, expected);
        expected.sort();

        QStringList shellIds = shellSearch(terms);
        shellIds.sort();
        QCOMPARE(shellIds, expected);

        QStringList krunnerIds = krunnerSearch(terms.join(QLatin1Char(' ')));
        krunnerIds.sort();
        QCOMPARE(krunnerIds, expected);
    }

    // At most 20 results, best first: a hit in the title before one in the description.
    void resultsAreCappedAndRanked()
    {
        QCOMPARE(shellSearch({QStringLiteral("bulk")}).size(), 20);
        QCOMPARE(krunnerSearch(QStringLiteral("bulk reading")).size(), 20);
        QCOMPARE(shellSearch({QStringLiteral("tomato")}), (QStringList{"g2", "g1"}));
        QCOMPARE(krunnerSearch(QStringLiteral("tomato")), (QStringList{"g2", "g1"}));
        QCOMPARE(shellSearch({QStringLiteral("rust")}).constLast(), QStringLiteral("d"));
    }

    // What KRunner shows of a match: title, icon, the domain or address under it, and a relevance that falls
    // with the rank.
    void krunnerMatchCarriesWhatItShows()
    {
        const QString printed = krunner(QStringLiteral("Match"), {gvariant(QStringLiteral("tomato"))});
        QVERIFY2(printed.contains(QLatin1String("('g2', 'Tomato growing', 'oxle', 30, 1.0, {")), qPrintable(printed));
        QVERIFY2(printed.contains(QLatin1String("'subtext': <'garden.example'>")), qPrintable(printed));
        QVERIFY2(printed.contains(QLatin1String("'urls': <['https://garden.example/']>")), qPrintable(printed));
        QVERIFY2(printed.contains(QLatin1String("('g1', 'Gardening', 'oxle', 30, 0.9")), qPrintable(printed));
        QCOMPARE(krunner(QStringLiteral("Actions"), {}), QStringLiteral("(@a(sss) [],)"));
    }

    // The shell asks for what to show of the identifiers it got, in its order; a note without address still
    // has valid metas, and an identifier that is no longer in the index is left out.
    void shellMetas()
    {
        bool ok = false;
        const QString printed = shell(QStringLiteral("GetResultMetas"), {gvariant(QStringList{"c", "gone", "a"})}, &ok);
        QVERIFY(ok);
        QStringList metas; // each a{sv} as printed, keys in alphabetical order
        static const QRegularExpression dictionary(QStringLiteral("\\{[^{}]*\\}"));
        for (const QRegularExpressionMatch &match : dictionary.globalMatch(printed))
            metas << match.captured();
        QCOMPARE(metas.size(), 2);
        QCOMPARE(metas.at(0), QStringLiteral("{'gicon': <'oxle'>, 'id': <'c'>, 'name': <'Notes on Rust'>}"));
        QCOMPARE(metas.at(1), QStringLiteral("{'description': <'example.com'>, 'gicon': <'oxle'>, 'id': <'a'>, "
                                             "'name': <'Rust async patterns'>}"));

        QCOMPARE(printedIds(shell(QStringLiteral("GetSubsearchResultSet"),
                                  {gvariant(QStringList{"a", "c", "d"}), gvariant(QStringList{"rust", "as"})})),
                 QStringList{"a"});
    }

    void activationReachesTheShell()
    {
        bool ok = false;
        shell(QStringLiteral("ActivateResult"),
              {gvariant(QStringLiteral("a")), gvariant(QStringList{"rust"}), QStringLiteral("uint32 1234")}, &ok);
        QVERIFY(ok);
        krunner(QStringLiteral("Run"), {gvariant(QStringLiteral("c")), gvariant(QString())}, &ok);
        QVERIFY(ok);
        QCOMPARE(m_activated.size(), 2);
        QCOMPARE(m_activated.at(0).identifier, QStringLiteral("a"));
        QCOMPARE(m_activated.at(0).timestamp, 1234u);
        QCOMPARE(m_activated.at(1).identifier, QStringLiteral("c"));
        QCOMPARE(m_activated.at(1).timestamp, 0u);

        shell(QStringLiteral("LaunchSearch"), {gvariant(QStringList{"rust", " async "}), QStringLiteral("uint32 7")},
              &ok);
        QVERIFY(ok);
        QCOMPARE(m_searched.size(), 1);
        QCOMPARE(m_searched.at(0).identifier, QStringLiteral("rust async"));
        QCOMPARE(m_searched.at(0).timestamp, 7u);
        QVERIFY(m_activated.size() == 2);
    }

    // While a refresh of the index is being written, searches answer at once with what was there before.
    void searchesDoNotWaitForAWrite()
    {
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(m_indexPath.toUtf8().constData(), &db), SQLITE_OK);
        // Write-ahead mode: a reader never waits, not even while a write commits.
        sqlite3_stmt *mode = nullptr;
        QCOMPARE(sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &mode, nullptr), SQLITE_OK);
        QCOMPARE(sqlite3_step(mode), SQLITE_ROW);
        const QString journal = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(mode, 0)));
        sqlite3_finalize(mode);
        QCOMPARE(journal, QStringLiteral("wal"));
        QCOMPARE(sqlite3_exec(db,
                              "BEGIN IMMEDIATE; INSERT INTO records (identifier, domain, title)"
                              " VALUES ('new', 'oxle.items', 'Pasta recipes');",
                              nullptr, nullptr, nullptr),
                 SQLITE_OK);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(shellSearch({QStringLiteral("pasta")}), QStringList{"b"});
        QVERIFY2(timer.elapsed() < 2000, "the search waited for the write");
        QCOMPARE(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);

        QStringList ids = shellSearch({QStringLiteral("pasta")});
        ids.sort();
        QCOMPARE(ids, (QStringList{"b", "new"}));
    }

    // Before the first save there is no index file: no results and no file made; once the indexer has written
    // one, the same providers find its items.
    void withoutAnIndexFileNothingIsFound()
    {
        m_providers.reset();
        const QString later = m_dir.filePath(QStringLiteral("later/search-index.sqlite"));
        m_providers = std::make_unique<DesktopSearchProviders>(actions(), later);
        QVERIFY(m_providers->start());

        QCOMPARE(shellSearch({QStringLiteral("rust")}), QStringList{});
        QCOMPARE(krunnerSearch(QStringLiteral("rust")), QStringList{});
        QCOMPARE(printedIds(shell(QStringLiteral("GetResultMetas"), {gvariant(QStringList{"a"})})), QStringList{});
        QVERIFY(!QFileInfo::exists(later));

        Fts5SearchIndex writer(later);
        QVERIFY(writer.replace({record("r", "Rust later")}));
        QCOMPARE(shellSearch({QStringLiteral("rust")}), QStringList{"r"});
    }

    // Without a bus start() says no (and the caller runs on without the desktop's search).
    void withoutABusStartFails()
    {
        DesktopSearchProviders providers(actions(), m_indexPath);
        QVERIFY(!providers.start(QDBusConnection(QStringLiteral("no such connection"))));
    }

    // The files that tell the desktop where to ask name the bus name and paths the providers use.
    void dataFilesNameTheProviders_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("lines");
        const QString source = qEnvironmentVariable("OXLE_SOURCE_DIR") + QStringLiteral("/data/");
        const QString built = qEnvironmentVariable("OXLE_BINARY_DIR") + QStringLiteral("/data/");
        const QString name = DesktopSearchProviders::serviceName;
        QTest::newRow("D-Bus service") << built + name + QStringLiteral(".service")
                                       << QStringList{QStringLiteral("[D-BUS Service]"), QStringLiteral("Name=") + name};
        QTest::newRow("GNOME Shell") << source + QStringLiteral("oxle-search-provider.ini")
                                     << QStringList{QStringLiteral("[Shell Search Provider]"),
                                                    QStringLiteral("DesktopId=oxle.desktop"),
                                                    QStringLiteral("BusName=") + name,
                                                    QStringLiteral("ObjectPath=") + DesktopSearchProviders::shellSearchPath,
                                                    QStringLiteral("Version=2")};
        QTest::newRow("KRunner") << source + QStringLiteral("oxle-krunner.desktop")
                                 << QStringList{QStringLiteral("X-Plasma-API=DBus"),
                                                QStringLiteral("X-Plasma-DBusRunner-Service=") + name,
                                                QStringLiteral("X-Plasma-DBusRunner-Path=")
                                                    + DesktopSearchProviders::krunnerPath};
    }

    void dataFilesNameTheProviders()
    {
        QFETCH(QString, file);
        QFETCH(QStringList, lines);
        QFile data(file);
        QVERIFY2(data.open(QIODevice::ReadOnly), qPrintable(file));
        const QStringList present = QString::fromUtf8(data.readAll()).split(QLatin1Char('\n'));
        for (const QString &line : lines)
            QVERIFY2(present.contains(line), qPrintable(line));
        // The service starts the installed command line, which starts oxle in the tray.
        if (file.endsWith(QLatin1String(".service"))) {
            const auto exec = std::find_if(present.begin(), present.end(),
                                           [](const QString &line) { return line.startsWith(QLatin1String("Exec=/")); });
            QVERIFY(exec != present.end());
            QVERIFY2(exec->endsWith(QLatin1String("/bin/oxle")), qPrintable(*exec));
        }
    }

    // The full-text query made of user text: each word quoted, quotes doubled, a prefix mark after each.
    void matchExpression_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expression");
        QTest::newRow("quote inside") << "say\"hi" << "\"say\"\"hi\"*";
        QTest::newRow("punctuation only is dropped") << "rust - * \"" << "\"rust\"*";
        QTest::newRow("unicode spaces") << "rust\u00a0async\u3000go" << "\"rust\"* \"async\"* \"go\"*";
        QTest::newRow("two emoji") << "\U0001F980\U0001F980" << QString();
    }

    void matchExpression()
    {
        QFETCH(QString, text);
        QFETCH(QString, expression);
        QCOMPARE(Fts5SearchIndex::matchExpression(text), expression);
    }
};

QTEST_GUILESS_MAIN(DesktopSearchTest)
#include "DesktopSearchTest.moc"
