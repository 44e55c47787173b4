#include "menubar/StatusMenu.h"

#include <QTextBoundaryFinder>
#include <algorithm>

namespace oxle::StatusMenu {

namespace {

constexpr int longestWholeTitle = 48;
constexpr int keptWhenCut = 47;

Entry action(const QString &title, Command command, const QKeySequence &shortcut = {})
{
    return Entry { EntryKind::Action, title, shortcut, command, -1 };
}

Entry separator()
{
    return Entry {};
}

} // namespace

QString upNextTitle(const QString &title)
{
    QString line = title;
    line.replace(u'\n', u' ');

    // Count grapheme clusters, so an emoji sequence or a letter with combining marks is one character
    // and the cut never splits one.
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, line);
    qsizetype cutAt = -1;
    int count = 0;
    while (graphemes.toNextBoundary() != -1) {
        ++count;
        if (count == keptWhenCut)
            cutAt = graphemes.position();
        if (count > longestWholeTitle)
            return line.left(cutAt) + QStringLiteral("…");
    }
    return line;
}

QList<Entry> entries(const State &state)
{
    const QKeySequence openKeys(Qt::CTRL | Qt::Key_O);
    const QKeySequence settingsKeys(Qt::CTRL | Qt::Key_Comma);
    const QKeySequence quitKeys(Qt::CTRL | Qt::Key_Q);

    QList<Entry> list {
        action(QStringLiteral("Add to oxle"), Command::Capture, state.captureKeys),
        action(QStringLiteral("Save current tab"), Command::SaveTab, state.saveTabKeys),
    };

    if (state.signedIn) {
        list.append(action(QStringLiteral("Open oxle"), Command::OpenApp, openKeys));
        if (!state.upNext.isEmpty()) {
            list.append(separator());
            list.append(Entry { EntryKind::Header, QStringLiteral("Up Next"), {}, Command::None, -1 });
            const qsizetype shown = std::min<qsizetype>(state.upNext.size(), upNextLimit);
            for (qsizetype i = 0; i < shown; ++i)
                list.append(Entry { EntryKind::Action, upNextTitle(state.upNext.at(i).title), {}, Command::OpenItem,
                    static_cast<int>(i) });
        }
        list.append(separator());
        list.append(Entry { EntryKind::Label, state.email.isEmpty() ? QStringLiteral("Signed in") : state.email, {},
            Command::None, -1 });
        list.append(action(QStringLiteral("Sign out"), Command::SignOut));
    } else {
        list.append(separator());
        list.append(action(QStringLiteral("Sign in with Apple"), Command::SignInApple));
        list.append(action(QStringLiteral("Sign in with Google"), Command::SignInGoogle));
    }

    list.append(action(QStringLiteral("Settings…"), Command::Settings, settingsKeys));
    if (state.canCheckUpdates)
        list.append(action(QStringLiteral("Check for Updates…"), Command::CheckUpdates));
    list.append(separator());
    list.append(action(QStringLiteral("Quit oxle"), Command::Quit, quitKeys));
    return list;
}

} // namespace oxle::StatusMenu
