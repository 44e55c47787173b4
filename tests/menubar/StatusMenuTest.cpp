// The status menu's entries in both layouts and the one-line Up Next titles, without widgets.

#include "menubar/StatusMenu.h"

#include <QTest>

using namespace oxle;
using namespace oxle::StatusMenu;

Q_DECLARE_METATYPE(oxle::StatusMenu::State)

namespace {

// One line per entry: "-" for a separator, "[Title]" for a header or label, "Title  keys -> command" for
// an action, so a whole layout compares in one go and a failure shows the difference readably.
QStringList layout(const QList<Entry> &list)
{
    static const QHash<Command, QString> names {
        { Command::None, "none" },
        { Command::Capture, "capture" },
        { Command::SaveTab, "saveTab" },
        { Command::OpenApp, "openApp" },
        { Command::OpenItem, "openItem" },
        { Command::SignInApple, "signInApple" },
        { Command::SignInGoogle, "signInGoogle" },
        { Command::SignOut, "signOut" },
        { Command::Settings, "settings" },
        { Command::CheckUpdates, "checkUpdates" },
        { Command::Quit, "quit" },
    };
    QStringList lines;
    for (const Entry &e : list) {
        switch (e.kind) {
        case EntryKind::Separator:
            lines << "-";
            break;
        case EntryKind::Header:
        case EntryKind::Label:
            lines << "[" + e.title + "]";
            break;
        case EntryKind::Action: {
            QString line = e.title;
            if (!e.shortcut.isEmpty())
                line += "  " + e.shortcut.toString(QKeySequence::PortableText);
            line += " -> " + names.value(e.command);
            if (e.command == Command::OpenItem)
                line += QString::number(e.itemIndex);
            lines << line;
            break;
        }
        }
    }
    return lines;
}

QList<ItemReader::Brief> briefs(int count)
{
    QList<ItemReader::Brief> list;
    for (int i = 0; i < count; ++i)
        list.append({ QString::number(i), QStringLiteral("Item %1").arg(i), "https://example.com/" + QString::number(i),
            QStringLiteral("link") });
    return list;
}

State signedIn(int upNext, QString email = {}, bool updates = true)
{
    State state;
    state.signedIn = true;
    state.email = std::move(email);
    state.upNext = briefs(upNext);
    state.canCheckUpdates = updates;
    state.captureKeys = QKeySequence(QStringLiteral("Ctrl+Alt+U"));
    state.saveTabKeys = QKeySequence(QStringLiteral("Ctrl+Alt+S"));
    return state;
}

} // namespace

class StatusMenuTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void layouts_data()
    {
        QTest::addColumn<State>("state");
        QTest::addColumn<QStringList>("expected");

        const QString capture = "Add to oxle  Ctrl+Alt+U -> capture";
        const QString saveTab = "Save current tab  Ctrl+Alt+S -> saveTab";
        const QString open = "Open oxle  Ctrl+O -> openApp";
        const QString settings = "Settings…  Ctrl+, -> settings";
        const QString updates = "Check for Updates… -> checkUpdates";
        const QString quit = "Quit oxle  Ctrl+Q -> quit";

        QTest::newRow("signed in, Up Next")
            << signedIn(2, "ada@example.com")
            << QStringList { capture, saveTab, open, "-", "[Up Next]", "Item 0 -> openItem0", "Item 1 -> openItem1",
                   "-", "[ada@example.com]", "Sign out -> signOut", settings, updates, "-", quit };
        // No header and no separator for an empty Up Next; the one before the account line stays.
        QTest::newRow("signed in, nothing waiting") << signedIn(0)
                                                    << QStringList { capture, saveTab, open, "-", "[Signed in]",
                                                           "Sign out -> signOut", settings, updates, "-", quit };
        QTest::newRow("six at most, in the order given")
            << signedIn(8)
            << QStringList { capture, saveTab, open, "-", "[Up Next]", "Item 0 -> openItem0", "Item 1 -> openItem1",
                   "Item 2 -> openItem2", "Item 3 -> openItem3", "Item 4 -> openItem4", "Item 5 -> openItem5", "-",
                   "[Signed in]", "Sign out -> signOut", settings, updates, "-", quit };
        QTest::newRow("signed in, no updater")
            << signedIn(0, {}, false)
            << QStringList { capture, saveTab, open, "-", "[Signed in]", "Sign out -> signOut", settings, "-", quit };

        State out = signedIn(3);
        out.signedIn = false;
        QTest::newRow("signed out ignores a stale Up Next")
            << out
            << QStringList { capture, saveTab, "-", "Sign in with Apple -> signInApple",
                   "Sign in with Google -> signInGoogle", settings, updates, "-", quit };
        out.canCheckUpdates = false;
        // Keys that could not be registered are not promised in the menu.
        out.captureKeys = QKeySequence();
        out.saveTabKeys = QKeySequence();
        QTest::newRow("signed out, no updater, no global keys")
            << out
            << QStringList { "Add to oxle -> capture", "Save current tab -> saveTab", "-",
                   "Sign in with Apple -> signInApple", "Sign in with Google -> signInGoogle", settings, "-", quit };
    }

    void layouts()
    {
        QFETCH(State, state);
        QFETCH(QStringList, expected);
        QCOMPARE(layout(entries(state)), expected);
    }

    void upNextTitles_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("expected");

        const QString a48(48, u'a');
        const QString ellipsis = QStringLiteral("…");
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("48 shown whole") << a48 << a48;
        QTest::newRow("49 cut to 47 and …") << a48 + "b" << QString(47, u'a') + ellipsis;
        QTest::newRow("very long") << QString(300, u'x') << QString(47, u'x') + ellipsis;
        QTest::newRow("line feeds become spaces") << "One\nTwo\n\nThree"
                                                  << "One Two  Three";
        // The line feed counts as a character once it is a space.
        QTest::newRow("line feed in a 49-character title")
            << "a\n" + QString(47, u'b') << "a " + QString(45, u'b') + ellipsis;
        // "e" + combining acute: one character on screen, two code units.
        const QString eAcute = QStringLiteral("e\u0301");
        QTest::newRow("combining marks, 48 whole") << eAcute.repeated(48) << eAcute.repeated(48);
        QTest::newRow("combining marks, 49 cut") << eAcute.repeated(49) << eAcute.repeated(47) + ellipsis;
        // A family emoji (ZWJ sequence) and a thumb with a skin tone: one character each, never split.
        const QString family = QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467");
        const QString thumb = QStringLiteral("\U0001F44D\U0001F3FD");
        QTest::newRow("emoji kept whole at the cut")
            << QString(46, u'x') + family + thumb + "y" << QString(46, u'x') + family + ellipsis;
        QTest::newRow("emoji, 48 whole") << QString(46, u'x') + family + thumb << QString(46, u'x') + family + thumb;
    }

    void upNextTitles()
    {
        QFETCH(QString, title);
        QFETCH(QString, expected);
        QCOMPARE(upNextTitle(title), expected);
    }

    void upNextEntriesUseTheTitleRule()
    {
        State state = signedIn(1);
        state.upNext[0].title = "Line one\n" + QString(60, u'z');
        const QList<Entry> list = entries(state);
        const auto it
            = std::find_if(list.begin(), list.end(), [](const Entry &e) { return e.command == Command::OpenItem; });
        QVERIFY(it != list.end());
        QCOMPARE(it->title, upNextTitle(state.upNext[0].title));
        QVERIFY(!it->title.contains(u'\n'));
    }
};

QTEST_GUILESS_MAIN(StatusMenuTest)
#include "StatusMenuTest.moc"
