#pragma once

#include <QKeySequence>
#include <QList>
#include <QString>

#include <optional>

namespace oxle {

// The windows' menu bar. Ctrl stands where the Command key stands on a Mac; entries that only mean something
// where applications hide and unhide as a whole ("Hide Others", "Show All") are left out.
enum class MainMenuCommand {
    About,
    Settings,
    Hide,
    Quit,
    Undo,
    Redo,
    Cut,
    Copy,
    Paste,
    Delete,
    SelectAll,
    Close,
    Minimize,
    Zoom,
};

struct MainMenuEntry
{
    QString title;                          // empty for a separator
    std::optional<MainMenuCommand> command; // none for a separator
    QKeySequence keys;
};

struct MainMenuSection
{
    QString title;
    QList<MainMenuEntry> entries;
};

// The menus in order: "oxle", "Edit", "File", "Window".
QList<MainMenuSection> mainMenuLayout();

} // namespace oxle
