#include "share-extension/ShareInput.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace oxle;

namespace {

using Items = QList<ShareItem>;

ShareItem url(const QString &value)
{
    return ShareItem::url(value);
}

ShareItem text(const QString &value)
{
    return ShareItem::text(value);
}

} // namespace

Q_DECLARE_METATYPE(oxle::ShareItem)

class ShareInputTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString writeFile(const QString &name, const QByteArray &content)
    {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return {};
        file.write(content);
        return path;
    }

    QString fileUrl(const QString &name, const QByteArray &content)
    {
        return QUrl::fromLocalFile(writeFile(name, content)).toString(QUrl::FullyEncoded);
    }

private Q_SLOTS:
    void extractLink_data()
    {
        QTest::addColumn<Items>("items");
        QTest::addColumn<QString>("expected"); // empty: nothing

        const QString big = QStringLiteral("https://example.com/") + QString(70'000, u'a');
        QTest::newRow("url item") << Items{url("https://example.com/a?b=1")} << "https://example.com/a?b=1";
        QTest::newRow("url item that does not parse") << Items{url("https://exa mple.com/")} << "";
        QTest::newRow("text that is a link, trimmed") << Items{text(" \n https://example.com/t \n")}
                                                    << "https://example.com/t";
        QTest::newRow("text with a link in the middle") << Items{text("read https://example.com/t later")} << "";
        QTest::newRow("first item unusable, second wins")
            << Items{text("hello"), url("https://example.com/second"), url("https://example.com/third")}
            << "https://example.com/second";
        QTest::newRow("plain file is skipped")
            << Items{url(QUrl::fromLocalFile(m_dir.filePath("missing.txt")).toString()), text("https://example.com/n")}
            << "https://example.com/n";
        QTest::newRow("file url on another host") << Items{url("file://elsewhere/tmp/a.url")} << "";
        QTest::newRow("nothing usable") << Items{text(""), text("just words"), url("mailto:a@b.c")} << "";
        QTest::newRow("no items") << Items{} << "";
        QTest::newRow("oversized text") << Items{text(big)} << "";
        QTest::newRow("oversized url, then a good one") << Items{url(big), text("https://example.com/ok")}
                                                        << "https://example.com/ok";
    }

    void extractLink()
    {
        QFETCH(Items, items);
        QFETCH(QString, expected);
        const auto link = ShareInput::extractLink(items);
        QCOMPARE(link.value_or(QString()), expected);
    }

    void linkFiles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("expected");

        QTest::newRow("desktop link") << "page.desktop"
                                      << QByteArray("[Desktop Entry]\nName=A page\nType=Link\nURL=https://example.com/d\n")
                                      << "https://example.com/d";
        QTest::newRow("desktop link, KDE key")
            << "kde.desktop" << QByteArray("# made by a file manager\n[Desktop Entry]\nIcon=text-html\nType=Link\n"
                                           "URL[$e]=https://example.com/kde\n")
            << "https://example.com/kde";
        QTest::newRow("desktop application is not a link")
            << "app.desktop" << QByteArray("[Desktop Entry]\nType=Application\nExec=rm -rf ~\nURL=https://example.com/\n")
            << "";
        QTest::newRow("desktop URL outside the main group")
            << "other.desktop" << QByteArray("[Desktop Entry]\nType=Link\n[Desktop Action x]\nURL=https://example.com/\n")
            << "";
        QTest::newRow("desktop link to a local file") << "local.desktop"
                                                      << QByteArray("[Desktop Entry]\nType=Link\nURL=file:///etc/passwd\n")
                                                      << "";
        QTest::newRow("internet shortcut, CRLF and BOM")
            << "page.url" << QByteArray("\xEF\xBB\xBF[InternetShortcut]\r\nURL=https://example.com/w?x=1\r\nIDList=\r\n")
            << "https://example.com/w?x=1";
        QTest::newRow("saved page comment")
            << "saved.html"
            << QByteArray("<!DOCTYPE html>\n<!-- saved from url=(0025)https://example.com/page -->\n<html></html>")
            << "https://example.com/page";
        QTest::newRow("saved page canonical before og:url")
            << "canon.htm"
            << QByteArray("<html><head><meta property=\"og:url\" content=\"https://example.com/og\">"
                          "<LINK href='https://example.com/c?a=1&amp;b=2' REL='Canonical'></head></html>")
            << "https://example.com/c?a=1&b=2";
        QTest::newRow("saved page og:url") << "og.html"
                                           << QByteArray("<meta property=og:url content=https://example.com/og>")
                                           << "https://example.com/og";
        QTest::newRow("page without an address") << "plain.html" << QByteArray("<html><body>hi</body></html>") << "";
        QTest::newRow("text file") << "notes.txt" << QByteArray("https://example.com/") << "";
        QTest::newRow("oversized desktop entry")
            << "big.desktop"
            << QByteArray("[Desktop Entry]\nType=Link\nURL=https://example.com/\n") + QByteArray(70'000, '#') << "";
    }

    void linkFiles()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QString, expected);
        const QString fileUrlText = fileUrl(name, content);
        QCOMPARE(ShareInput::extractLink({url(fileUrlText)}).value_or(QString()), expected);
    }

    // A FIFO or a folder named like a link file must be skipped without reading (a read would block).
    void specialFilesAreNotRead()
    {
        const QString fifo = m_dir.filePath(QStringLiteral("pipe.desktop"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("folder.url")));
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!ShareInput::linkFromFile(fifo));
        QVERIFY(!ShareInput::linkFromFile(m_dir.filePath(QStringLiteral("folder.url"))));
        QVERIFY(!ShareInput::linkFromFile(QStringLiteral("/dev/zero")));
        QVERIFY(timer.elapsed() < 2000);
    }

    void fromArguments()
    {
        writeFile(QStringLiteral("here.url"), "[InternetShortcut]\nURL=https://example.com/here\n");
        const Items items = ShareInput::fromArguments(
            {QStringLiteral(" https://example.com/a "), QStringLiteral("hello world"), QStringLiteral("/no/such file"),
             QStringLiteral("here.url"), QStringLiteral("mailto:a@b.c"), QStringLiteral("-platform"),
             QStringLiteral("FILE:///tmp/x")},
            m_dir.path());
        QCOMPARE(items,
                 (Items{url("https://example.com/a"), text("hello world"), url("file:///no/such%20file"),
                        url(QUrl::fromLocalFile(m_dir.filePath("here.url")).toString(QUrl::FullyEncoded)),
                        text("mailto:a@b.c"), text("-platform"), url("FILE:///tmp/x")}));
        QCOMPARE(ShareInput::extractLink(items), QStringLiteral("https://example.com/a"));
        QCOMPARE(ShareInput::extractLink(items.mid(1)), QStringLiteral("https://example.com/here"));
    }

    void fromStandardInput_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<Items>("expected");

        QTest::newRow("uri-list with comments and CRLF")
            << QByteArray("# dropped from a file manager\r\nfile:///tmp/a.txt\r\n\r\nhttps://example.com/b\r\n")
            << Items{url("file:///tmp/a.txt"), url("https://example.com/b")};
        QTest::newRow("one link") << QByteArray("https://example.com/\n") << Items{url("https://example.com/")};
        QTest::newRow("text") << QByteArray("see https://example.com/\n")
                              << Items{text("see https://example.com/\n")};
        QTest::newRow("opaque uri is text") << QByteArray("mailto:a@b.c") << Items{text("mailto:a@b.c")};
        QTest::newRow("empty") << QByteArray() << Items{};
        QTest::newRow("over the cap") << QByteArray("https://example.com/") + QByteArray(1024 * 1024, 'a') << Items{};
    }

    void fromStandardInput()
    {
        QFETCH(QByteArray, input);
        QFETCH(Items, expected);
        QCOMPARE(ShareInput::fromStandardInput(input), expected);
    }

    // Hostile but within the caps: must be quick and bounded.
    void largeInputsStayBounded()
    {
        QByteArray lines;
        for (int i = 0; i < 20'000; ++i)
            lines += "file:///nonexistent/" + QByteArray::number(i) + ".desktop\n";
        lines += "https://example.com/late\n";
        QElapsedTimer timer;
        timer.start();
        const Items items = ShareInput::fromStandardInput(lines);
        QCOMPARE(items.size(), ShareInput::maxItems);
        QVERIFY(!ShareInput::extractLink(items)); // the link past the cap is not looked at
        QVERIFY(!ShareInput::extractLink(ShareInput::fromStandardInput(QByteArray(1024 * 1024, 'x'))));
        QVERIFY(!ShareInput::linkFromHtml(QByteArray(1024 * 1024, '<')));
        QVERIFY(timer.elapsed() < 5000);
    }
};

QTEST_GUILESS_MAIN(ShareInputTest)
#include "ShareInputTest.moc"
