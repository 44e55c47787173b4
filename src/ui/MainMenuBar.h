#pragma once

#include <functional>

class QMenuBar;
class QWidget;

namespace oxle {

// What the menu bar's application commands do; the editing and window commands act on the focused widget
// and the active window by themselves.
struct MainMenuActions
{
    std::function<void()> about;
    std::function<void()> settings;
    std::function<void()> hide; // every window of the application
    std::function<void()> quit;
};

// Fills the window's menu bar with the main menu.
void installMainMenu(QMenuBar *bar, const MainMenuActions &actions);

} // namespace oxle
