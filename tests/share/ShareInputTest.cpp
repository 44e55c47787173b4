#include "core/Errors.h"
#include "core/SessionStore.h"
#include "share-extension/ShareController.h"
#include "share-extension/ShareInput.h"
#include "support/CoroTest.h"
#include "support/RecordingServer.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <stdexcept>

using namespace oxle;

namespace {

using Items = QList<ShareItem>;

// A source of shared items that fails in the given way.
QCoro::Task<Items> failingInput(int kind)
{
    switch (kind) {
    case 0: throw std::runtime_error("standard input went away");
    case 1: throw DecodeError(QStringLiteral("cannot read the items"));
    default: throw 42; // not an exception class at all
    }
    co_return Items{};
}

QCoro::Task<Items> oneLink()
{
    co_return Items{ShareItem::url(QStringLiteral("https://example.com/a"))};
}
constexpr auto url = &ShareItem::url;
constexpr auto text = &ShareItem::text;

} // namespace

class ShareInputTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString file(const QString &name, const QByteArray &content)
    {
        QFile file(m_dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return {};
        file.write(content);
        return QUrl::fromLocalFile(file.fileName()).toString(QUrl::FullyEncoded);
    }

private Q_SLOTS:
    void extractLink_data()
    {
        QTest::addColumn<Items>("items");
        QTest::addColumn<QString>("expected"); // empty: nothing

        QTest::newRow("text that is a link, trimmed") << Items{text(" \n https://example.com/t \n")}
                                                    << "https://example.com/t";
        QTest::newRow("first item unusable, second wins")
            << Items{text("hello"), url("https://example.com/second"), url("https://example.com/third")}
            << "https://example.com/second";
        QTest::newRow("nothing usable") << Items{text(""), text("just words"), url("mailto:a@b.c")} << "";
        QTest::newRow("oversized url, then a good one")
            << Items{url("https://example.com/" + QString(70'000, u'a')), text("https://example.com/ok")}
            << "https://example.com/ok";

        // Link files, handed over as file:// URLs.
        QTest::newRow("text file is not read")
            << Items{url(file("notes.txt", "https://example.com/")), text("https://example.com/n")}
            << "https://example.com/n";
        // Special files are never read: a FIFO named like a link file would block for ever.
        const QString fifo = m_dir.filePath(QStringLiteral("pipe.desktop"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QTest::newRow("fifo and device") << Items{url(QUrl::fromLocalFile(fifo).toString()), url("file:///dev/zero")}
                                         << "";
        QTest::newRow("file url on another host") << Items{url("file://elsewhere/tmp/a.url")} << "";
        QTest::newRow("desktop link")
            << Items{url(file("page.desktop", "[Desktop Entry]\nName=A page\nType=Link\nURL=https://e.com/d\n"))}
            << "https://e.com/d";
        QTest::newRow("desktop link, KDE key")
            << Items{url(file("kde.desktop", "# made by a file manager\n[Desktop Entry]\nType=Link\n"
                                                "URL[$e]=https://example.com/kde\n"))}
            << "https://example.com/kde";
        QTest::newRow("desktop application is not a link")
            << Items{url(file("app.desktop", "[Desktop Entry]\nType=Application\nExec=rm -rf ~\nURL=https://e.com/\n"))}
            << "";
        QTest::newRow("desktop link to a local file")
            << Items{url(file("local.desktop", "[Desktop Entry]\nType=Link\nURL=file:///etc/passwd\n"))} << "";
        QTest::newRow("oversized desktop entry")
            << Items{url(file("big.desktop", "[Desktop Entry]\nType=Link\nURL=https://example.com/\n"
                                                    + QByteArray(70'000, '#')))}
            << "";
        QTest::newRow("internet shortcut, CRLF and BOM")
            << Items{url(file("page.url", "\xEF\xBB\xBF[InternetShortcut]\r\nURL=https://example.com/w?x=1\r\n"))}
            << "https://example.com/w?x=1";
        QTest::newRow("saved page comment")
            << Items{url(file("saved.html", "<!DOCTYPE html>\n<!-- saved from url=(0018)https://e.com/page -->"))}
            << "https://e.com/page";
        QTest::newRow("saved page canonical before og:url")
            << Items{url(file("canon.htm", "<html><head><meta property=\"og:url\" content=\"https://e.com/og\">"
                                           "<LINK href='https://e.com/c?a=1&amp;b=2' REL='Canonical'></head>"))}
            << "https://e.com/c?a=1&b=2";
        QTest::newRow("saved page og:url")
            << Items{url(file("og.html", "<meta property=og:url content=https://example.com/og>"))}
            << "https://example.com/og";
    }

    void extractLink()
    {
        QFETCH(Items, items);
        QFETCH(QString, expected);
        QCOMPARE(ShareInput::extractLink(items).value_or(QString()), expected);
    }

    void fromArguments()
    {
        const QString here = file(QStringLiteral("here.url"), "[InternetShortcut]\nURL=https://example.com/here\n");
        const Items items = ShareInput::fromArguments(
            {QStringLiteral(" https://example.com/a "), QStringLiteral("hello world"), QStringLiteral("/no/such file"),
             QStringLiteral("here.url"), QStringLiteral("mailto:a@b.c"), QStringLiteral("-platform"),
             QStringLiteral("FILE:///tmp/x")},
            m_dir.path());
        QCOMPARE(items, (Items{url("https://example.com/a"), text("hello world"), url("file:///no/such%20file"),
                               url(here), text("mailto:a@b.c"), text("-platform"), url("FILE:///tmp/x")}));
        QCOMPARE(ShareInput::extractLink(items.mid(1)), QStringLiteral("https://example.com/here"));
    }

    // The executable waits for the outcome to end: every failure must come back as "Could not save".
    void anyFailureIsCouldNotSave_data()
    {
        QTest::addColumn<int>("inputFailure"); // -1: the input works, the backend's answer fails
        QTest::addColumn<bool>("cutShort");    // the lookup's answer breaks off (else: refused)
        QTest::newRow("input throws std::exception") << 0 << false;
        QTest::newRow("input throws the core's error") << 1 << false;
        QTest::newRow("input throws something else") << 2 << false;
        QTest::newRow("backend refuses") << -1 << false;
        QTest::newRow("answer cut short") << -1 << true;
    }
    void anyFailureIsCouldNotSave()
    {
        QFETCH(int, inputFailure);
        QFETCH(bool, cutShort);
        test::RecordingServer server;
        server.setResponses({cutShort ? test::CannedResponse::cutShort(200, "[", 10, test::CannedResponse::Cut::Close)
                                      : test::CannedResponse::json(401, "{}")});
        QTemporaryDir shared;
        SessionStore(nullptr, shared.path()).saveShared(OxleSession{"a", "r", 4102444800LL, "u1", {}});
        ShareController::InputSource input = [inputFailure] {
            return inputFailure >= 0 ? failingInput(inputFailure) : oneLink();
        };
        ShareController controller(BackendConfig{server.baseUrl(), QStringLiteral("anon"), 5'000}, shared.path(),
                                   std::move(input));
        QCOMPARE(test::run(controller.process()), ShareController::Outcome::CouldNotSave);
        // A failed input sends nothing; a failed lookup ends the save there.
        QCOMPARE(server.requests().size(), inputFailure >= 0 ? 0 : 1);
    }
};

QTEST_GUILESS_MAIN(ShareInputTest)
#include "ShareInputTest.moc"
